#pragma once
/// @file
/// Every error number the library raises, by name, and the one table that
/// gives each its text (docs/errors.md lists the same table).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "quillmark/Export.h"
#include "quillmark/errors/ErrorCode.h"

namespace qm {

/// The run-time's error numbers that the library raises.
enum RuntimeError : std::int32_t {
  ERR_InvalidProcedureCall = 5,
  ERR_Overflow = 6,
  ERR_OutOfMemory = 7,
  ERR_SubscriptOutOfRange = 9,
  ERR_DivisionByZero = 11,
  ERR_TypeMismatch = 13,
  ERR_BadFileNameOrNumber = 52,
  ERR_FileNotFound = 53,
  ERR_BadFileMode = 54,
  ERR_FileAlreadyOpen = 55,
  ERR_DeviceIO = 57,
  ERR_FileAlreadyExists = 58,
  ERR_DiskFull = 61,
  ERR_InputPastEndOfFile = 62,
  ERR_TooManyFiles = 67,
  ERR_PermissionDenied = 70,
  ERR_PathFileAccess = 75,
  ERR_PathNotFound = 76,
  ERR_ObjectNotSet = 91,
  ERR_InvalidPattern = 93,
  ERR_InvalidUseOfNull = 94,
  ERR_InvalidPropertyValue = 380,
  ERR_PropertyReadOnly = 383,
  ERR_ObjectDoesntSupport = 438,
  ERR_WrongArgumentCount = 450,
  ERR_DuplicateKey = 457,
  ERR_InvalidPicture = 481,
  ERR_CancelSelected = 32755,  ///< a common dialog's Cancel, when CancelError is set
  ERR_ElementNotFound = 32811,
};

/// The library's general error for failed checks of arguments and state; the
/// description names the check that failed.
inline constexpr std::int32_t ERR_General = 9999;

/// Errors raised by the simple record readers.
enum QMStreamErrorCodes : std::int32_t {
  ERR_StreamNotPointingToObject = 10005,
  ERR_StreamObjectIncompatible = 10006,
};

/// Library-wide error constants published with the utilities.
enum UtilityErrorConstants : std::int32_t {
  ERR_ASSERTION = 11000,
  ERR_EXPORT_FAILED = 58000,
};

/// The library's other own numbers.
enum LibraryError : std::int32_t {
  ERR_JpegFailed = 26001,              ///< SaveJPG could not write the file
  ERR_ProcessListUnavailable = 99999,  ///< the running processes cannot be listed
};

/// The platform's status codes raised as errors (negative as 32-bit numbers).
enum PlatformError : std::int32_t {
  ERR_E_OUTOFMEMORY = static_cast<std::int32_t>(0x8007000Eu),
  ERR_E_INVALIDARG = static_cast<std::int32_t>(0x80070057u),
};

/// The platform's object-error base (0x80040000) plus 100: an archive error
/// raises this plus its ZipErrors result code.
inline constexpr std::int32_t ERR_ArchiveBase = static_cast<std::int32_t>(0x80040064u);

/// One row of the error table.
struct ErrorEntry {
  std::int32_t Number;    ///< The error number.
  std::string_view Text;  ///< Its standard text.
};

/// One row of the full table: the number, its usual cause (what
/// `Error::code()` gives unless the raise site says more), its text, the name
/// of its constant and a note on where it is raised with a text of its own.
struct ErrorRow {
  std::int32_t Number;     ///< the error number
  errc Code;               ///< the number's usual cause
  std::string_view Text;   ///< the standard text
  std::string_view Name;   ///< the name of its constant, e.g. "ERR_PathNotFound"
  std::string_view Notes;  ///< where it is raised with a text of its own; "" for none
};

/// Every error number with its cause, text, name and note, ascending by number
/// (ErrorTable() gives the number and text of the same rows).
QUILLMARK_EXPORT std::span<const ErrorRow> ErrorRows();

/// Every error number the library raises with its text, ascending by number.
/// A raise without a description of its own takes the text from here; where
/// the site knows more (the check that failed, the file, the reason), its
/// description says so instead.
QUILLMARK_EXPORT std::span<const ErrorEntry> ErrorTable();

/// The table's text for `number`, or nullopt when the table has no such number.
QUILLMARK_EXPORT std::optional<std::string_view> FindErrorText(std::int32_t number);

/// The table's text for `number`, ": " and `detail`, e.g.
/// "Invalid picture: the picture has no pixels".
QUILLMARK_EXPORT std::string DescribeError(std::int32_t number, std::string_view detail);

/// The table's text for `number` ("Application-defined or object-defined
/// error" for numbers it does not know, as the run-time gives).
QUILLMARK_EXPORT std::string_view StandardErrorText(std::int32_t number);

}  // namespace qm
