#include "quillmark/frame/ErrorNumbers.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "quillmark/compression/Zipper.h"
#include "quillmark/frame/Error.h"

namespace qm {
namespace {

constexpr std::string_view kUnknownNumberText = "Application-defined or object-defined error";

// The one table: number, usual cause, text, the constant's name and where the
// number is raised with a text of its own. Ascending by number (tests check
// the order, which rules out duplicates); docs/errors.md is written from it.
constexpr ErrorRow kErrorRows[] = {
    {ERR_ArchiveBase + ZE_Unexpected_EOF_ERR, errc::damaged_data, "Unexpected EOF",
     "ERR_ArchiveBase + ZE_Unexpected_EOF_ERR", "`Zipper.CompressRaiseErr`; `LookupErr` gives the same text"},
    {ERR_ArchiveBase + ZE_Zip_Structure_ERR, errc::damaged_data, "Zip structure corrupt",
     "ERR_ArchiveBase + ZE_Zip_Structure_ERR", "`Zipper.CompressRaiseErr`; `LookupErr` gives the same text"},
    {ERR_ArchiveBase + ZE_Out_of_memory_ERR, errc::out_of_memory, "Out of memory",
     "ERR_ArchiveBase + ZE_Out_of_memory_ERR", "`Zipper.CompressRaiseErr`; `LookupErr` gives the same text"},
    {ERR_ArchiveBase + ZE_Internal_Logic_ERR, errc::io_error, "Internal logic failure",
     "ERR_ArchiveBase + ZE_Internal_Logic_ERR", "`Zipper.CompressRaiseErr`; `LookupErr` gives the same text"},
    {ERR_ArchiveBase + ZE_Entry_Too_Large_ERR, errc::too_large, "Entry too large",
     "ERR_ArchiveBase + ZE_Entry_Too_Large_ERR", "`Zipper.CompressRaiseErr`; `LookupErr` gives the same text"},
    {ERR_ArchiveBase + ZE_Comment_Invalid_ERR, errc::invalid_argument, "Comment invalid",
     "ERR_ArchiveBase + ZE_Comment_Invalid_ERR", "`Zipper.CompressRaiseErr`; `LookupErr` gives the same text"},
    {ERR_ArchiveBase + ZE_Zip_Test_Failed_ERR, errc::damaged_data, "Zip test failed",
     "ERR_ArchiveBase + ZE_Zip_Test_Failed_ERR", "`Zipper.CompressRaiseErr`; `LookupErr` gives the same text"},
    {ERR_ArchiveBase + ZE_Aborted, errc::cancelled, "Aborted",
     "ERR_ArchiveBase + ZE_Aborted", "`Zipper.CompressRaiseErr`; `LookupErr` gives the same text"},
    {ERR_ArchiveBase + ZE_Temp_File_ERR, errc::io_error, "Temp. file error",
     "ERR_ArchiveBase + ZE_Temp_File_ERR", "`Zipper.CompressRaiseErr`; `LookupErr` gives the same text"},
    {ERR_ArchiveBase + ZE_Read_ERR, errc::io_error, "Disk read error",
     "ERR_ArchiveBase + ZE_Read_ERR", "`Zipper.CompressRaiseErr`; `LookupErr` gives the same text"},
    {ERR_ArchiveBase + ZE_Nothing_To_Do_ERR, errc::not_found, "Nothing to do - check files exist",
     "ERR_ArchiveBase + ZE_Nothing_To_Do_ERR", "`Zipper.CompressRaiseErr`; `LookupErr` gives the same text"},
    {ERR_ArchiveBase + ZE_Empty_Zip_ERR, errc::invalid_argument, "Empty zip file error",
     "ERR_ArchiveBase + ZE_Empty_Zip_ERR", "`Zipper.CompressRaiseErr`; `LookupErr` gives the same text"},
    {ERR_ArchiveBase + ZE_Write_ERR, errc::io_error, "Disk write error - check disk is write enabled",
     "ERR_ArchiveBase + ZE_Write_ERR", "`Zipper.CompressRaiseErr`; `LookupErr` gives the same text"},
    {ERR_ArchiveBase + ZE_Create_ERR, errc::io_error, "File creation error - check disk is write enabled",
     "ERR_ArchiveBase + ZE_Create_ERR", "`Zipper.CompressRaiseErr`; `LookupErr` gives the same text"},
    {ERR_ArchiveBase + ZE_Params_ERR, errc::invalid_argument, "Bad parameters",
     "ERR_ArchiveBase + ZE_Params_ERR", "`Zipper.CompressRaiseErr`; `LookupErr` gives the same text"},
    {ERR_ArchiveBase + ZE_Open_ERR, errc::io_error, "File open error",
     "ERR_ArchiveBase + ZE_Open_ERR", "`Zipper.CompressRaiseErr`; `LookupErr` gives the same text"},
    {ERR_E_OUTOFMEMORY, errc::out_of_memory, kUnknownNumberText,
     "ERR_E_OUTOFMEMORY", "E_OUTOFMEMORY (0x8007000E)"},
    {ERR_E_INVALIDARG, errc::invalid_argument, kUnknownNumberText,
     "ERR_E_INVALIDARG", "E_INVALIDARG (0x80070057)"},
    {ERR_InvalidProcedureCall, errc::invalid_argument, "Invalid procedure call or argument",
     "ERR_InvalidProcedureCall", "also \"Array not initialized.\" (`Utility.RedimPreserve`) and the text of a standard exception"},
    {ERR_Overflow, errc::out_of_range, "Overflow",
     "ERR_Overflow", "also \"Overflow: \" and what overflowed"},
    {ERR_OutOfMemory, errc::out_of_memory, "Out of memory",
     "ERR_OutOfMemory", ""},
    {ERR_SubscriptOutOfRange, errc::out_of_range, "Subscript out of range",
     "ERR_SubscriptOutOfRange", ""},
    {ERR_DivisionByZero, errc::invalid_argument, "Division by zero",
     "ERR_DivisionByZero", ""},
    {ERR_TypeMismatch, errc::invalid_argument, "Type mismatch",
     "ERR_TypeMismatch", ""},
    {ERR_BadFileNameOrNumber, errc::invalid_argument, "Bad file name or number",
     "ERR_BadFileNameOrNumber", ""},
    {ERR_FileNotFound, errc::not_found, "File not found",
     "ERR_FileNotFound", "the word-processor export adds \": \" and the file"},
    {ERR_BadFileMode, errc::invalid_argument, "Bad file mode",
     "ERR_BadFileMode", ""},
    {ERR_FileAlreadyOpen, errc::invalid_argument, "File already open",
     "ERR_FileAlreadyOpen", ""},
    {ERR_DeviceIO, errc::io_error, "Device I/O error",
     "ERR_DeviceIO", ""},
    {ERR_FileAlreadyExists, errc::already_exists, "File already exists",
     "ERR_FileAlreadyExists", ""},
    {ERR_DiskFull, errc::no_space, "Disk full",
     "ERR_DiskFull", ""},
    {ERR_InputPastEndOfFile, errc::damaged_data, "Input past end of file",
     "ERR_InputPastEndOfFile", ""},
    {ERR_TooManyFiles, errc::unavailable, "Too many files",
     "ERR_TooManyFiles", ""},
    {ERR_PermissionDenied, errc::permission_denied, "Permission denied",
     "ERR_PermissionDenied", ""},
    {ERR_PathFileAccess, errc::io_error, "Path/File access error",
     "ERR_PathFileAccess", "the settings store and the word-processor export add what failed"},
    {ERR_PathNotFound, errc::not_found, "Path not found",
     "ERR_PathNotFound", ""},
    {ERR_ObjectNotSet, errc::invalid_argument, "Object variable or With block variable not set",
     "ERR_ObjectNotSet", ""},
    {ERR_InvalidPattern, errc::invalid_argument, "Invalid pattern string",
     "ERR_InvalidPattern", ""},
    {ERR_InvalidUseOfNull, errc::invalid_argument, "Invalid use of Null",
     "ERR_InvalidUseOfNull", ""},
    {ERR_InvalidPropertyValue, errc::invalid_argument, "Invalid property value",
     "ERR_InvalidPropertyValue", ""},
    {ERR_PropertyReadOnly, errc::unsupported, "Property is read-only",
     "ERR_PropertyReadOnly", ""},
    {ERR_ObjectDoesntSupport, errc::unsupported, "Object doesn't support this property or method",
     "ERR_ObjectDoesntSupport", ""},
    {ERR_WrongArgumentCount, errc::invalid_argument, "Wrong number of arguments or invalid property assignment",
     "ERR_WrongArgumentCount", ""},
    {ERR_DuplicateKey, errc::already_exists, "This key is already associated with an element of this collection",
     "ERR_DuplicateKey", ""},
    {ERR_InvalidPicture, errc::damaged_data, "Invalid picture",
     "ERR_InvalidPicture", "\"Invalid picture: \" and the reason"},
    {ERR_General, errc::invalid_argument, kUnknownNumberText,
     "ERR_General", "failed checks of arguments and state; the description names the check (\"Must be in tag\", \"No user interface is available: …\")"},
    {ERR_StreamNotPointingToObject, errc::parse_error, "Stream not pointing to object",
     "ERR_StreamNotPointingToObject", "\"Stream not pointing to collection\" for a collection record"},
    {ERR_StreamObjectIncompatible, errc::unsupported, "Object is incompatible with stream object",
     "ERR_StreamObjectIncompatible", "\"Collection is incompatible with stream collection\" for a collection record"},
    {ERR_ASSERTION, errc::invalid_argument, kUnknownNumberText,
     "ERR_ASSERTION", "`QMGLobal::Assert`; the description is the caller's text"},
    {ERR_JpegFailed, errc::io_error, "Failed to save to JPG",
     "ERR_JpegFailed", "\"Failed to save to JPG \" and the JPEG layer's result; \"Failed to initialise the IJL library: \" and the result"},
    {ERR_CancelSelected, errc::cancelled, "Cancel was selected.",
     "ERR_CancelSelected", "`cdlCancel`: a common dialog's Cancel when CancelError is set"},
    {ERR_ElementNotFound, errc::not_found, "Element not found",
     "ERR_ElementNotFound", ""},
    {ERR_EXPORT_FAILED, errc::unavailable,
     "You do not appear to have Excel installed. If this is incorrect, you can still export samples by dragging the "
     "grid into an open worksheet.",
     "ERR_EXPORT_FAILED", "the spreadsheet export"},
    {ERR_ProcessListUnavailable, errc::unavailable, "Couldn't get list of processes",
     "ERR_ProcessListUnavailable", ""},
};

constexpr auto kErrorTable = [] {
  std::array<ErrorEntry, std::size(kErrorRows)> table{};
  for (std::size_t i = 0; i < table.size(); ++i) table[i] = {kErrorRows[i].Number, kErrorRows[i].Text};
  return table;
}();

}  // namespace

std::span<const ErrorEntry> ErrorTable() { return kErrorTable; }

std::span<const ErrorRow> ErrorRows() { return kErrorRows; }

errc ErrcOfNumber(std::int32_t number) noexcept {
  const auto found = std::lower_bound(std::begin(kErrorRows), std::end(kErrorRows), number,
                                      [](const ErrorRow& row, std::int32_t n) { return row.Number < n; });
  if (found == std::end(kErrorRows) || found->Number != number) return errc::other;
  return found->Code;
}

std::optional<std::string_view> FindErrorText(std::int32_t number) {
  const auto found = std::lower_bound(kErrorTable.begin(), kErrorTable.end(), number,
                                      [](const ErrorEntry& entry, std::int32_t n) { return entry.Number < n; });
  if (found == kErrorTable.end() || found->Number != number) return std::nullopt;
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
