#include "html/DocumentFiles.h"

#include "quillmark/frame/LibMain.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>

#include "io/AtomicFile.h"
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
  std::error_code ignored;
  fs::create_directory(folder, ignored);
  return folder;
}

void RemoveFolder(const std::string& folder) noexcept {
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

void CopyPictures(const std::vector<std::string>& pictures, const std::string& documentFile) {
  std::string folder = FolderPart(documentFile);
  if (folder.empty()) folder = ".";
  WindowsPathResolver resolver;
  for (const auto& picture : pictures) {
    const auto source = resolver.Resolve(picture);
    std::error_code ec;
    if (!source || !fs::is_regular_file(*source, ec)) Raise(ERR_FileNotFound);
    const fs::path target(JoinPath(NativePath(folder), FileNamePart(picture)));
    if (fs::exists(target, ec) && fs::equivalent(*source, target, ec)) continue;  // already in place
    io::AtomicFile::CopyWhole(*source, target);
  }
}

void WriteDocument(const std::string& path, std::string_view text) {
  std::optional<io::AtomicFile> file;
  try {
    file.emplace(NativePath(path));
  } catch (const fs::filesystem_error& e) {
    const int error = e.code().value();
    if (error == ENOENT || error == ENOTDIR) Raise(ERR_PathNotFound);
    if (error == EACCES || error == EPERM || error == EISDIR || error == EROFS) Raise(ERR_PermissionDenied);
    Raise(ERR_PathFileAccess);
  }
  try {
    file->Write(text);
    file->Write("\r\n");
    file->Commit();
  } catch (const fs::filesystem_error&) {
    Raise(ERR_DeviceIO);
  }
}

}  // namespace qm::html
