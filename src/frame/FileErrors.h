#pragma once
// Raising file errors with their cause, from a system error number or from a
// folder that is not there.

#include <cstdint>
#include <filesystem>
#include <string>

namespace qm::frame {

// Raises `number` with its standard text and the cause `error` (an errno value)
// stands for.
[[noreturn]] void RaiseErrno(std::int32_t number, int error);

// Whether the folder a file named `target` would go into is missing; gives
// that folder (absolute) in `folder` when it is.
bool FolderIsMissing(const std::filesystem::path& target, std::filesystem::path& folder);

// For the typed layer, inside a catch block: when the folder of `target` is
// missing, raises 76 "Path not found: <folder>" with errc::not_found (keeping
// the trail of the caught error); otherwise rethrows the caught exception (a
// std::filesystem::filesystem_error becomes the file error for its cause:
// 70, 61 or 75 with the target's name).
// Whichever job met the missing folder, the caller gets the same error.
[[noreturn]] void RethrowForTarget(const std::filesystem::path& target);

}  // namespace qm::frame
