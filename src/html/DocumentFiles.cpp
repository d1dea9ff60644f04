#include "html/DocumentFiles.h"

#include <sys/stat.h>

#include "quillmark/frame/LibMain.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>

#include "frame/FileErrors.h"
#include "io/AtomicFile.h"
#include "io/System.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "runtime/WindowsPath.h"

namespace qm::html {
namespace {
namespace fs = std::filesystem;
using detail::FileNamePart;
using detail::FolderPart;
using detail::NativePath;
using detail::WindowsPathResolver;

}  // namespace

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '/' && path.back() != fs::path::preferred_separator)
    path += fs::path::preferred_separator;
  path += name;
  return path;
}

std::string MakePreviewFolder() {
  const unsigned number = std::random_device{}() % 1000;
  std::string folder = JoinPath(TempFolder(), "TYPO" + std::to_string(number));
  io::sys::Mkdir(folder.c_str(), 0777);  // one left from an earlier run is used as it is
  return folder;
}

void RemoveFolder(const std::string& folder) noexcept { io::sys::RemoveAll(folder.c_str()); }

void CopyPictures(const std::vector<std::string>& pictures, const std::string& documentFile) {
  std::string folder = FolderPart(documentFile);
  if (folder.empty()) folder = ".";
  WindowsPathResolver resolver;
  for (const auto& picture : pictures) {
    const auto source = resolver.Resolve(picture);
    struct stat from {};
    if (!source || io::sys::Stat(source->c_str(), &from) != 0 || !S_ISREG(from.st_mode))
      RaiseWithDetail(ERR_FileNotFound, picture);
    const fs::path target(JoinPath(NativePath(folder), FileNamePart(picture)));
    struct stat to {};
    if (io::sys::Stat(target.c_str(), &to) == 0 && to.st_dev == from.st_dev && to.st_ino == from.st_ino)
      continue;  // already in place
    io::AtomicFile::CopyWhole(*source, target);
  }
}

void WriteDocument(const std::string& path, std::string_view text, std::string_view end) {
  std::optional<io::AtomicFile> file;
  try {
    file.emplace(NativePath(path));
  } catch (const fs::filesystem_error& e) {
    const int error = e.code().value();
    const std::int32_t number = error == ENOENT || error == ENOTDIR ? ERR_PathNotFound
                                : error == EACCES || error == EPERM || error == EISDIR || error == EROFS
                                    ? ERR_PermissionDenied
                                    : ERR_PathFileAccess;
    Raise(number, ErrcOfErrno(error), DescribeError(number, path));
  }
  try {
    file->Write(text);
    file->Write(end);
    file->Commit();
  } catch (const fs::filesystem_error& e) {
    Raise(ERR_DeviceIO, ErrcOfErrno(e.code().value()), DescribeError(ERR_DeviceIO, frame::WriteFailureDetail(path, e)));
  }
}

}  // namespace qm::html
