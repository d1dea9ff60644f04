#include "quillmark/errors/Error.h"

#include <cerrno>
#include <new>

#include "quillmark/errors/ErrorNumbers.h"

namespace qm {
namespace {

struct ErrcText {
  errc Code;
  std::string_view Name;
  std::string_view Words;
  std::errc Standard;  // the matching std::errc condition
};

constexpr ErrcText kErrcTexts[] = {
    {errc::not_found, "not_found", "not found", std::errc::no_such_file_or_directory},
    {errc::already_exists, "already_exists", "already exists", std::errc::file_exists},
    {errc::permission_denied, "permission_denied", "permission denied", std::errc::permission_denied},
    {errc::no_space, "no_space", "no space left", std::errc::no_space_on_device},
    {errc::io_error, "io_error", "input/output error", std::errc::io_error},
    {errc::damaged_data, "damaged_data", "damaged data", std::errc::illegal_byte_sequence},
    {errc::parse_error, "parse_error", "parse error", std::errc::bad_message},
    {errc::too_large, "too_large", "too large", std::errc::file_too_large},
    {errc::out_of_memory, "out_of_memory", "out of memory", std::errc::not_enough_memory},
    {errc::out_of_range, "out_of_range", "out of range", std::errc::result_out_of_range},
    {errc::invalid_argument, "invalid_argument", "invalid argument", std::errc::invalid_argument},
    {errc::unsupported, "unsupported", "not supported", std::errc::not_supported},
    {errc::unavailable, "unavailable", "not available", std::errc::resource_unavailable_try_again},
    {errc::cancelled, "cancelled", "cancelled", std::errc::operation_canceled},
    {errc::other, "other", "other error", std::errc::io_error},
};

const ErrcText* Find(int value) noexcept {
  for (const auto& text : kErrcTexts)
    if (static_cast<int>(text.Code) == value) return &text;
  return nullptr;
}

class Category final : public std::error_category {
 public:
  const char* name() const noexcept override { return "quillmark"; }
  std::string message(int value) const override {
    const ErrcText* text = Find(value);
    return text ? std::string(text->Words) : value == 0 ? "no error" : "unknown error " + std::to_string(value);
  }
  std::error_condition default_error_condition(int value) const noexcept override {
    const ErrcText* text = Find(value);
    // "other" has no standard counterpart: it stays a condition of its own.
    if (!text || text->Code == errc::other) return {value, *this};
    return std::make_error_condition(text->Standard);
  }
};

}  // namespace

const std::error_category& error_category() noexcept {
  // Never destroyed: an error raised from a static destructor at exit still
  // carries a category that answers.
  alignas(Category) static unsigned char room[sizeof(Category)];
  static const Category* const category = ::new (room) Category();
  return *category;
}

std::error_code make_error_code(errc e) noexcept { return {static_cast<int>(e), error_category()}; }

std::string_view ErrcName(errc e) noexcept {
  const ErrcText* text = Find(static_cast<int>(e));
  return text ? text->Name : "none";
}

errc ErrcOfErrno(int error) noexcept {
  switch (error) {
    case ENOENT:
    case ENOTDIR: return errc::not_found;
    case EACCES:
    case EPERM:
    case EROFS: return errc::permission_denied;
    case ENOSPC:
    case EDQUOT: return errc::no_space;
    case EEXIST: return errc::already_exists;
    case EFBIG: return errc::too_large;
    case ENOMEM: return errc::out_of_memory;
    case ECANCELED: return errc::cancelled;
    default: return errc::io_error;
  }
}

// The cause lives in what was padding after the number: the object keeps the
// size and member offsets programs built against earlier releases know.
static_assert(sizeof(void*) != 8 || sizeof(Error) == 8 + 8 + 3 * sizeof(std::string) + 8);

Error::Error(std::int32_t number, std::string source, std::string description, std::string helpFile,
             std::int32_t helpContext)
    : number_(number),
      source_(std::move(source)),
      description_(std::move(description)),
      helpFile_(std::move(helpFile)),
      helpContext_(helpContext) {}

Error::Error(std::int32_t number, errc code, std::string source, std::string description)
    : number_(number),
      code_(static_cast<std::int32_t>(code)),
      source_(std::move(source)),
      description_(std::move(description)),
      helpContext_(0) {}

// A copy made by a program built against a release without the cause copies
// the other members only: a value that is no cause counts as none.
errc Error::Errc() const noexcept { return Find(code_) ? static_cast<errc>(code_) : ErrcOfNumber(number_); }

std::error_code Error::code() const noexcept { return make_error_code(Errc()); }

void Error::AppendElement(std::string_view element) {
  source_ += '|';
  source_ += element;
}

void Raise(std::int32_t number, std::string description) { throw Error(number, {}, std::move(description)); }

void Raise(std::int32_t number, errc code, std::string description) {
  throw Error(number, code, {}, std::move(description));
}

void Raise(std::int32_t number) { throw Error(number, {}, std::string(StandardErrorText(number))); }

void RaiseWithDetail(std::int32_t number, std::string_view detail) {
  throw Error(number, {}, DescribeError(number, detail));
}

void RaiseFrom(std::int32_t number, std::string source, std::string description) {
  throw Error(number, std::move(source), std::move(description));
}

}  // namespace qm
