#pragma once
// Error numbers used across the library: the run-time's own and the library's.

#include <cstdint>
#include <string_view>

#include "quillmark/Export.h"

namespace qm {

/// The run-time's error numbers that the library raises.
enum RuntimeError : std::int32_t {
  ERR_InvalidProcedureCall = 5,
  ERR_Overflow = 6,
  ERR_OutOfMemory = 7,
  ERR_SubscriptOutOfRange = 9,
  ERR_ArrayFixedOrLocked = 10,
  ERR_DivisionByZero = 11,
  ERR_TypeMismatch = 13,
  ERR_BadFileNameOrNumber = 52,
  ERR_FileNotFound = 53,
  ERR_BadFileMode = 54,
  ERR_FileAlreadyOpen = 55,
  ERR_DeviceIO = 57,
  ERR_FileAlreadyExists = 58,
  ERR_InputPastEndOfFile = 62,
  ERR_TooManyFiles = 67,
  ERR_PermissionDenied = 70,
  ERR_PathFileAccess = 75,
  ERR_PathNotFound = 76,
  ERR_ObjectNotSet = 91,
  ERR_InvalidUseOfNull = 94,
  ERR_PropertyReadOnly = 383,
  ERR_ObjectDoesntSupport = 438,
  ERR_DuplicateKey = 457,
  ERR_ElementNotFound = 32811,
};

/// The library's general error for failed checks of arguments and state.
inline constexpr std::int32_t ERR_General = 9999;

/// Library-wide error constants published with the utilities.
enum UtilityErrorConstants : std::int32_t {
  ERR_ASSERTION = 11000,
  ERR_EXPORT_FAILED = 58000,
};

/// The run-time's standard text for `number` ("Application-defined or
/// object-defined error" for numbers it does not know).
QUILLMARK_EXPORT std::string_view StandardErrorText(std::int32_t number);

}  // namespace qm
