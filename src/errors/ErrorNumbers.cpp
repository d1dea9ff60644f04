#include "quillmark/errors/ErrorNumbers.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <vector>

#include "errors/ErrorTexts.h"

namespace qm {
namespace {

constexpr std::string_view kUnknownNumberText = "Application-defined or object-defined error";

// Ascending by number (tests check the order of the merged table, which rules
// out duplicates). The subsystems add the texts of their own result codes
// (errors/ErrorTexts.h).
constexpr ErrorEntry kErrorTable[] = {
    {ERR_E_OUTOFMEMORY, kUnknownNumberText},
    {ERR_E_INVALIDARG, kUnknownNumberText},
    {ERR_InvalidProcedureCall, "Invalid procedure call or argument"},
    {ERR_Overflow, "Overflow"},
    {ERR_OutOfMemory, "Out of memory"},
    {ERR_SubscriptOutOfRange, "Subscript out of range"},
    {ERR_DivisionByZero, "Division by zero"},
    {ERR_TypeMismatch, "Type mismatch"},
    {ERR_BadFileNameOrNumber, "Bad file name or number"},
    {ERR_FileNotFound, "File not found"},
    {ERR_BadFileMode, "Bad file mode"},
    {ERR_FileAlreadyOpen, "File already open"},
    {ERR_DeviceIO, "Device I/O error"},
    {ERR_FileAlreadyExists, "File already exists"},
    {ERR_DiskFull, "Disk full"},
    {ERR_InputPastEndOfFile, "Input past end of file"},
    {ERR_TooManyFiles, "Too many files"},
    {ERR_PermissionDenied, "Permission denied"},
    {ERR_PathFileAccess, "Path/File access error"},
    {ERR_PathNotFound, "Path not found"},
    {ERR_ObjectNotSet, "Object variable or With block variable not set"},
    {ERR_InvalidPattern, "Invalid pattern string"},
    {ERR_InvalidUseOfNull, "Invalid use of Null"},
    {ERR_InvalidPropertyValue, "Invalid property value"},
    {ERR_PropertyReadOnly, "Property is read-only"},
    {ERR_ObjectDoesntSupport, "Object doesn't support this property or method"},
    {ERR_WrongArgumentCount, "Wrong number of arguments or invalid property assignment"},
    {ERR_DuplicateKey, "This key is already associated with an element of this collection"},
    {ERR_InvalidPicture, "Invalid picture"},
    {ERR_General, kUnknownNumberText},
    {ERR_StreamNotPointingToObject, "Stream not pointing to object"},
    {ERR_StreamObjectIncompatible, "Object is incompatible with stream object"},
    {ERR_ASSERTION, kUnknownNumberText},
    {ERR_JpegFailed, "Failed to save to JPG"},
    {ERR_CancelSelected, "Cancel was selected."},
    {ERR_ElementNotFound, "Element not found"},
    {ERR_EXPORT_FAILED,
     "You do not appear to have Excel installed. If this is incorrect, you can still export samples by dragging the "
     "grid into an open worksheet."},
    {ERR_ProcessListUnavailable, "Couldn't get list of processes"},
};

// The table's rows and the registered ones, merged once in order. Never
// destroyed, so that an error raised by a static destructor finds its text.
const std::vector<ErrorEntry>& Merged() {
  alignas(std::vector<ErrorEntry>) static unsigned char room[sizeof(std::vector<ErrorEntry>)];
  static const std::vector<ErrorEntry>* const table = [] {
    auto* rows = ::new (room) std::vector<ErrorEntry>(std::begin(kErrorTable), std::end(kErrorTable));
    const auto registered = errors::RegisteredErrorTexts();
    rows->insert(rows->end(), registered.begin(), registered.end());
    std::stable_sort(rows->begin(), rows->end(),
                     [](const ErrorEntry& a, const ErrorEntry& b) { return a.Number < b.Number; });
    return rows;
  }();
  return *table;
}

}  // namespace

std::span<const ErrorEntry> ErrorTable() { return Merged(); }

std::optional<std::string_view> FindErrorText(std::int32_t number) {
  const auto& table = Merged();
  const auto found = std::lower_bound(table.begin(), table.end(), number,
                                      [](const ErrorEntry& entry, std::int32_t n) { return entry.Number < n; });
  if (found == table.end() || found->Number != number) return std::nullopt;
  return found->Text;
}

std::string DescribeError(std::int32_t number, std::string_view detail) {
  std::string description(StandardErrorText(number));
  description += ": ";
  description += detail;
  return description;
}

std::string_view StandardErrorText(std::int32_t number) { return FindErrorText(number).value_or(kUnknownNumberText); }

}  // namespace qm
