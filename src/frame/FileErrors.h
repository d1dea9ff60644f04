#pragma once
// Raising file errors with their cause, from a system error number or from a
// folder that is not there.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace qm::frame {

// A whole-file write whose new file is in place, but whose folder could not be
// synced: a crash soon after could bring back the old file
// (io::AtomicFile::Commit).
class FolderNotSynced : public std::filesystem::filesystem_error {
 public:
  using std::filesystem::filesystem_error::filesystem_error;
};

// Raises `number` with its standard text and the cause `error` (an errno value)
// stands for.
[[noreturn]] void RaiseErrno(std::int32_t number, int error);

// Whether the folder a file named `target` would go into is missing; gives
// that folder (absolute) in `folder` when it is.
bool FolderIsMissing(const std::filesystem::path& target, std::filesystem::path& folder);

// A file, folder, key or value as the typed layer's errors name it: 'text'.
std::string Quoted(std::string_view subject);

// For the typed layer, inside a catch block: rethrows the caught exception,
// a qm::Error so that its description names `subject`. One that names it
// bare at its end ("File not found: a.xml") gets it quoted; one that does not
// name it gets ": " `label` and the quoted subject after its text ("Type
// mismatch: key 'Width'"). Number, cause and trail stay; other exceptions and
// errors that name it quoted pass unchanged.
[[noreturn]] void RethrowNaming(std::string_view subject, std::string_view label = {});

// Raises 76 "Path not found: '<folder>'" with errc::not_found and the trail
// `source`: the typed layer's one error for a missing folder.
[[noreturn]] void RaisePathNotFound(const std::filesystem::path& folder, std::string source = {});

// For the typed layer, inside a catch block, for a file read: a 76 whose
// cause is the missing folder of `input` names that folder (as
// RethrowForTarget does); other errors are rethrown naming `input`
// (RethrowNaming).
[[noreturn]] void RethrowForInput(const std::filesystem::path& input);

// For the typed layer, inside a catch block: when the folder of `target` is
// missing, raises 76 "Path not found: '<folder>'" with errc::not_found (keeping
// the trail of the caught error); otherwise rethrows the caught exception (a
// std::filesystem::filesystem_error becomes the file error for its cause:
// 70, 61 or 75 with the target's name).
// Whichever job met the missing folder, the caller gets the same error.
// A filesystem_error about another file (a picture copied beside a page)
// names that file.
[[noreturn]] void RethrowForTarget(const std::filesystem::path& target);

// What an error of a failed whole-file write says after its number's text:
// `target`, and that the new file is in place when only the folder's sync
// failed (FolderNotSynced).
std::string WriteFailureDetail(const std::filesystem::path& target, const std::exception& failure);

}  // namespace qm::frame
