#include "quillmark/errors/ErrorNumbers.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <new>
#include <vector>

#include "errors/ErrorTexts.h"
#include "quillmark/errors/Error.h"

namespace qm {
namespace {

constexpr std::string_view kUnknownNumberText = "Application-defined or object-defined error";

// The one table: number, usual cause, text, the constant's name and where the
// number is raised with a text of its own. Ascending by number (tests check
// the order, which rules out duplicates); docs/errors.md is written from it.
// The subsystems add the rows of their own result codes (errors/ErrorTexts.h).
constexpr ErrorRow kErrorRows[] = {
    {ERR_E_OUTOFMEMORY, errc::out_of_memory, kUnknownNumberText, "ERR_E_OUTOFMEMORY", "E_OUTOFMEMORY (0x8007000E)"},
    {ERR_E_INVALIDARG, errc::invalid_argument, kUnknownNumberText, "ERR_E_INVALIDARG", "E_INVALIDARG (0x80070057)"},
    {ERR_InvalidProcedureCall, errc::invalid_argument, "Invalid procedure call or argument", "ERR_InvalidProcedureCall",
     "also \"Array not initialized.\" (`Utility.RedimPreserve`) and the text of a standard exception"},
    {ERR_Overflow, errc::out_of_range, "Overflow", "ERR_Overflow", "also \"Overflow: \" and what overflowed"},
    {ERR_OutOfMemory, errc::out_of_memory, "Out of memory", "ERR_OutOfMemory", ""},
    {ERR_SubscriptOutOfRange, errc::out_of_range, "Subscript out of range", "ERR_SubscriptOutOfRange", ""},
    {ERR_DivisionByZero, errc::invalid_argument, "Division by zero", "ERR_DivisionByZero", ""},
    {ERR_TypeMismatch, errc::invalid_argument, "Type mismatch", "ERR_TypeMismatch",
     "`SettingsSection` adds the key (\"Type mismatch: key 'Width' holds no number\")"},
    {ERR_BadFileNameOrNumber, errc::invalid_argument, "Bad file name or number", "ERR_BadFileNameOrNumber", ""},
    {ERR_FileNotFound, errc::not_found, "File not found", "ERR_FileNotFound",
     "the typed layer adds \": \" and the file in quotes (\"File not found: 'data/station.xml'\"); the "
     "word-processor export adds \": \" and the file"},
    {ERR_BadFileMode, errc::invalid_argument, "Bad file mode", "ERR_BadFileMode", ""},
    {ERR_FileAlreadyOpen, errc::invalid_argument, "File already open", "ERR_FileAlreadyOpen", ""},
    {ERR_DeviceIO, errc::io_error, "Device I/O error", "ERR_DeviceIO", ""},
    {ERR_FileAlreadyExists, errc::already_exists, "File already exists", "ERR_FileAlreadyExists", ""},
    {ERR_DiskFull, errc::no_space, "Disk full", "ERR_DiskFull", ""},
    {ERR_InputPastEndOfFile, errc::damaged_data, "Input past end of file", "ERR_InputPastEndOfFile", ""},
    {ERR_TooManyFiles, errc::unavailable, "Too many files", "ERR_TooManyFiles", ""},
    {ERR_PermissionDenied, errc::permission_denied, "Permission denied", "ERR_PermissionDenied", ""},
    {ERR_PathFileAccess, errc::io_error, "Path/File access error", "ERR_PathFileAccess",
     "the settings store and the word-processor export add what failed"},
    {ERR_PathNotFound, errc::not_found, "Path not found", "ERR_PathNotFound",
     "the typed layer adds \": \" and the folder in quotes (the missing one, or the one that could not be listed)"},
    {ERR_ObjectNotSet, errc::invalid_argument, "Object variable or With block variable not set", "ERR_ObjectNotSet",
     ""},
    {ERR_InvalidPattern, errc::invalid_argument, "Invalid pattern string", "ERR_InvalidPattern", ""},
    {ERR_InvalidUseOfNull, errc::invalid_argument, "Invalid use of Null", "ERR_InvalidUseOfNull", ""},
    {ERR_InvalidPropertyValue, errc::invalid_argument, "Invalid property value", "ERR_InvalidPropertyValue", ""},
    {ERR_PropertyReadOnly, errc::unsupported, "Property is read-only", "ERR_PropertyReadOnly", ""},
    {ERR_ObjectDoesntSupport, errc::unsupported, "Object doesn't support this property or method",
     "ERR_ObjectDoesntSupport", ""},
    {ERR_WrongArgumentCount, errc::invalid_argument, "Wrong number of arguments or invalid property assignment",
     "ERR_WrongArgumentCount", ""},
    {ERR_DuplicateKey, errc::already_exists, "This key is already associated with an element of this collection",
     "ERR_DuplicateKey", ""},
    {ERR_InvalidPicture, errc::damaged_data, "Invalid picture", "ERR_InvalidPicture",
     "\"Invalid picture: \" and the reason"},
    {ERR_General, errc::invalid_argument, kUnknownNumberText, "ERR_General",
     "failed checks of arguments and state; the description names the check (\"Must be in tag\", \"No user interface "
     "is available: …\"); `LoadXml` and `ParseXml` raise it as `XmlParseError` (`parse_error`) with the line, "
     "column and byte"},
    {ERR_StreamNotPointingToObject, errc::parse_error, "Stream not pointing to object", "ERR_StreamNotPointingToObject",
     "\"Stream not pointing to collection\" for a collection record"},
    {ERR_StreamObjectIncompatible, errc::unsupported, "Object is incompatible with stream object",
     "ERR_StreamObjectIncompatible", "\"Collection is incompatible with stream collection\" for a collection record"},
    {ERR_ASSERTION, errc::invalid_argument, kUnknownNumberText, "ERR_ASSERTION",
     "`QMGLobal::Assert`; the description is the caller's text (`XML::LoadFromString`: the parser's \"line L, "
     "column C: reason\")"},
    {ERR_JpegFailed, errc::io_error, "Failed to save to JPG", "ERR_JpegFailed",
     "\"Failed to save to JPG \" and the JPEG layer's result; \"Failed to initialise the IJL library: \" and the "
     "result; the typed writer adds the file in quotes, and a quality outside 1 to 100 is `invalid_argument`"},
    {ERR_CancelSelected, errc::cancelled, "Cancel was selected.", "ERR_CancelSelected",
     "`cdlCancel`: a common dialog's Cancel when CancelError is set"},
    {ERR_ElementNotFound, errc::not_found, "Element not found", "ERR_ElementNotFound", ""},
    {ERR_EXPORT_FAILED, errc::unavailable,
     "You do not appear to have Excel installed. If this is incorrect, you can still export samples by dragging the "
     "grid into an open worksheet.",
     "ERR_EXPORT_FAILED", "the spreadsheet export"},
    {ERR_ProcessListUnavailable, errc::unavailable, "Couldn't get list of processes", "ERR_ProcessListUnavailable", ""},
};

// The table's rows and the registered ones, merged once in order, with the
// number and text of each beside them. Never destroyed, so that an error
// raised by a static destructor finds its text.
struct Merged {
  std::vector<ErrorRow> Rows;
  std::vector<ErrorEntry> Entries;
};

const Merged& Table() {
  alignas(Merged) static unsigned char room[sizeof(Merged)];
  static const Merged* const table = [] {
    auto* merged = ::new (room) Merged{{std::begin(kErrorRows), std::end(kErrorRows)}, {}};
    const auto registered = errors::RegisteredErrorTexts();
    merged->Rows.insert(merged->Rows.end(), registered.begin(), registered.end());
    std::stable_sort(merged->Rows.begin(), merged->Rows.end(),
                     [](const ErrorRow& a, const ErrorRow& b) { return a.Number < b.Number; });
    merged->Entries.reserve(merged->Rows.size());
    for (const ErrorRow& row : merged->Rows) merged->Entries.push_back({row.Number, row.Text});
    return merged;
  }();
  return *table;
}

const ErrorRow* FindRow(std::int32_t number) {
  const auto& rows = Table().Rows;
  const auto found = std::lower_bound(rows.begin(), rows.end(), number,
                                      [](const ErrorRow& row, std::int32_t n) { return row.Number < n; });
  return found == rows.end() || found->Number != number ? nullptr : &*found;
}

}  // namespace

std::span<const ErrorEntry> ErrorTable() { return Table().Entries; }

std::span<const ErrorRow> ErrorRows() { return Table().Rows; }

errc ErrcOfNumber(std::int32_t number) noexcept {
  const ErrorRow* row = FindRow(number);
  return row ? row->Code : errc::other;
}

std::optional<std::string_view> FindErrorText(std::int32_t number) {
  const ErrorRow* row = FindRow(number);
  if (!row) return std::nullopt;
  return row->Text;
}

std::string DescribeError(std::int32_t number, std::string_view detail) {
  std::string description(StandardErrorText(number));
  description += ": ";
  description += detail;
  return description;
}

std::string_view StandardErrorText(std::int32_t number) { return FindErrorText(number).value_or(kUnknownNumberText); }

}  // namespace qm
