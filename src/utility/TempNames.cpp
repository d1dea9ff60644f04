#include "utility/TempNames.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "frame/FileErrors.h"
#include "io/System.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/utility/Utility.h"

namespace qm::utility {

std::string TempCandidate(const std::string& folder, std::uint64_t n, const std::string& suffix) {
  std::string name = folder;
  if (name.empty() || name.back() != '/') name += '/';
  name += "~tmp";
  name += std::to_string(n);
  name += suffix;
  return name;
}

std::string CreateTempFile(const std::string& suffix) {
  const std::string folder = Utility::TempFolder();
  for (std::uint64_t n = 1;; ++n) {
    std::string name = TempCandidate(folder, n, suffix);
    const int fd = io::sys::Open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) {
      io::sys::Close(fd);
      return name;
    }
    if (errno == EEXIST) continue;
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR) frame::RaiseErrno(ERR_PathNotFound, error);
    if (error == EACCES || error == EPERM || error == EROFS) frame::RaiseErrno(ERR_PermissionDenied, error);
    frame::RaiseErrno(ERR_PathFileAccess, error);
  }
}

}  // namespace qm::utility
