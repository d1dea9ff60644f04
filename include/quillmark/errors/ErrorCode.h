#pragma once
/// @file
/// What went wrong, as a condition a program can test.
///
///     try {
///       qm::WriteJpeg(picture, "out/chart.jpg");
///     } catch (const qm::Error& e) {
///       if (e.code() == qm::errc::not_found) CreateFolderAndRetry();
///     }
///
/// An error's number is the one the published classes have always raised, and
/// one number may stand for several causes (9999 for every failed check, 75 for
/// any file that cannot be used). `qm::Error::code()` tells the causes apart:
/// a `std::error_code` in the library's own category, whose values are the
/// members of `qm::errc`. The codes also compare equal to the matching
/// `std::errc` conditions (`e.code() == std::errc::no_such_file_or_directory`
/// holds for `errc::not_found`).

#include <cstdint>
#include <string_view>
#include <system_error>

#include "quillmark/Export.h"

namespace qm {

/// The causes of failure the library tells apart. 0 is no error, as for every
/// `std::error_code`.
enum class errc : std::int32_t {
  not_found = 1,      ///< a file, folder, element or name that is not there
  already_exists,     ///< a file or key that is there already
  permission_denied,  ///< the system refused access
  no_space,           ///< the disk or the quota is full
  io_error,           ///< the device or file system failed a read or write
  damaged_data,       ///< bytes that are not what their format says (a picture, a compressed stream, an archive)
  parse_error,        ///< text that does not follow its grammar (XML, stream records, numbers)
  too_large,          ///< more than the format or the limit holds
  out_of_memory,      ///< memory ran out
  out_of_range,       ///< an index or value outside what is allowed
  invalid_argument,   ///< a check of an argument or of an object's state failed
  unsupported,        ///< the object or format does not offer what was asked
  unavailable,        ///< a program, service or display the job needs is not there
  cancelled,          ///< the caller stopped the job (a progress callback, a Cancel button)
  other,              ///< a number the library does not know (raised by a client object)
};

/// The library's error category (name "quillmark"): its messages name the
/// `errc` member in words.
QUILLMARK_EXPORT const std::error_category& error_category() noexcept;

/// The code of `e` in the library's category (found by argument-dependent
/// lookup, so `std::error_code c = qm::errc::not_found;` works).
QUILLMARK_EXPORT std::error_code make_error_code(errc e) noexcept;

/// The member's name as written in code ("not_found"); "none" for 0.
QUILLMARK_EXPORT std::string_view ErrcName(errc e) noexcept;

/// The condition a system error number (`errno`) stands for: ENOENT and
/// ENOTDIR are not_found, EACCES, EPERM and EROFS permission_denied, ENOSPC and
/// EDQUOT no_space, EEXIST already_exists, EFBIG too_large, ENOMEM
/// out_of_memory, ECANCELED cancelled; anything else io_error.
QUILLMARK_EXPORT errc ErrcOfErrno(int error) noexcept;

}  // namespace qm

/// @cond
template <>
struct std::is_error_code_enum<qm::errc> : std::true_type {};
/// @endcond
