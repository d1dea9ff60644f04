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

struct Error::Impl {
  std::int32_t number = 0;
  std::int32_t code = 0;  // 0: the number's usual cause
  std::string source;
  std::string description;
  std::string helpFile;
  std::int32_t helpContext = 0;
};

Error::Error(std::int32_t number, std::string source, std::string description, std::string helpFile,
             std::int32_t helpContext)
    : impl_(std::make_unique<Impl>(
          Impl{number, 0, std::move(source), std::move(description), std::move(helpFile), helpContext})) {}

Error::Error(std::int32_t number, errc code, std::string source, std::string description)
    : impl_(std::make_unique<Impl>(
          Impl{number, static_cast<std::int32_t>(code), std::move(source), std::move(description), {}, 0})) {}

Error::Error(const Error& other)
    : std::exception(other), impl_(other.impl_ ? std::make_unique<Impl>(*other.impl_) : nullptr) {}

Error& Error::operator=(const Error& other) {
  if (this != &other) impl_ = other.impl_ ? std::make_unique<Impl>(*other.impl_) : nullptr;
  return *this;
}

Error::Error(Error&& other) noexcept = default;
Error& Error::operator=(Error&& other) noexcept = default;
Error::~Error() = default;

// A moved-from error has no fields; it reads as this empty one.
const Error::Impl& Error::Fields() const noexcept {
  static const Impl none;
  return impl_ ? *impl_ : none;
}

Error::Impl& Error::Own() {
  if (!impl_) impl_ = std::make_unique<Impl>();
  return *impl_;
}

std::int32_t Error::Number() const noexcept { return Fields().number; }
const std::string& Error::Source() const noexcept { return Fields().source; }
const std::string& Error::Description() const noexcept { return Fields().description; }
const std::string& Error::HelpFile() const noexcept { return Fields().helpFile; }
std::int32_t Error::HelpContext() const noexcept { return Fields().helpContext; }
const char* Error::what() const noexcept { return Fields().description.c_str(); }

errc Error::Errc() const noexcept {
  const Impl& fields = Fields();
  return Find(fields.code) != nullptr ? static_cast<errc>(fields.code) : ErrcOfNumber(fields.number);
}

std::error_code Error::code() const noexcept { return make_error_code(Errc()); }

// Allocates only on a moved-from error; running out of memory there ends the program.
void Error::SetErrc(errc code) noexcept { Own().code = static_cast<std::int32_t>(code); }

void Error::SetSource(std::string source) { Own().source = std::move(source); }

void Error::AppendElement(std::string_view element) {
  std::string& source = Own().source;
  source += '|';
  source += element;
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
