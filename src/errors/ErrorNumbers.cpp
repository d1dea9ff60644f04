#include "quillmark/frame/ErrorNumbers.h"

#include <algorithm>
#include <iterator>

#include "quillmark/compression/Zipper.h"

namespace qm {
namespace {

constexpr std::string_view kUnknownNumberText = "Application-defined or object-defined error";

// Ascending by number (tests check the order, which rules out duplicates).
constexpr ErrorEntry kErrorTable[] = {
    {ERR_ArchiveBase + ZE_Unexpected_EOF_ERR, "Unexpected EOF"},
    {ERR_ArchiveBase + ZE_Zip_Structure_ERR, "Zip structure corrupt"},
    {ERR_ArchiveBase + ZE_Out_of_memory_ERR, "Out of memory"},
    {ERR_ArchiveBase + ZE_Internal_Logic_ERR, "Internal logic failure"},
    {ERR_ArchiveBase + ZE_Entry_Too_Large_ERR, "Entry too large"},
    {ERR_ArchiveBase + ZE_Comment_Invalid_ERR, "Comment invalid"},
    {ERR_ArchiveBase + ZE_Zip_Test_Failed_ERR, "Zip test failed"},
    {ERR_ArchiveBase + ZE_Aborted, "Aborted"},
    {ERR_ArchiveBase + ZE_Temp_File_ERR, "Temp. file error"},
    {ERR_ArchiveBase + ZE_Read_ERR, "Disk read error"},
    {ERR_ArchiveBase + ZE_Nothing_To_Do_ERR, "Nothing to do - check files exist"},
    {ERR_ArchiveBase + ZE_Empty_Zip_ERR, "Empty zip file error"},
    {ERR_ArchiveBase + ZE_Write_ERR, "Disk write error - check disk is write enabled"},
    {ERR_ArchiveBase + ZE_Create_ERR, "File creation error - check disk is write enabled"},
    {ERR_ArchiveBase + ZE_Params_ERR, "Bad parameters"},
    {ERR_ArchiveBase + ZE_Open_ERR, "File open error"},
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

}  // namespace

std::span<const ErrorEntry> ErrorTable() { return kErrorTable; }

std::optional<std::string_view> FindErrorText(std::int32_t number) {
  const auto found = std::lower_bound(std::begin(kErrorTable), std::end(kErrorTable), number,
                                      [](const ErrorEntry& entry, std::int32_t n) { return entry.Number < n; });
  if (found == std::end(kErrorTable) || found->Number != number) return std::nullopt;
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
