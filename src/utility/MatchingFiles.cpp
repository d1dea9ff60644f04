#include "utility/MatchingFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "frame/FileErrors.h"
#include "io/System.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm::utility {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { io::sys::CloseDir(dir); }
};

struct Entry {
  std::string Name;
  bool Folder;
};

[[noreturn]] void RaiseOpenFailure(int error) {
  if (error == EACCES || error == EPERM) frame::RaiseErrno(ERR_PermissionDenied, error);
  if (error == ENOENT || error == ENOTDIR) frame::RaiseErrno(ERR_PathNotFound, error);
  frame::RaiseErrno(ERR_PathFileAccess, error);
}

// The files and subfolders of a folder, sorted by name. Links count as what
// they point to, except that links to folders are left out (no cycles).
std::vector<Entry> ListFolder(const std::string& path) {
  std::unique_ptr<DIR, DirCloser> dir(io::sys::OpenDir(path.c_str()));
  if (!dir) RaiseOpenFailure(errno);
  std::vector<Entry> entries;
  while (const dirent* entry = io::sys::ReadDir(dir.get())) {
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN || type == DT_LNK) {
      struct stat info {};
      if (io::sys::FstatAt(::dirfd(dir.get()), name, &info, type == DT_LNK ? 0 : AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (S_ISDIR(info.st_mode)) {
        if (entry->d_type == DT_LNK) continue;
        type = DT_DIR;
      } else {
        type = S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
      }
    }
    if (type == DT_DIR) entries.push_back({name, true});
    else if (type == DT_REG) entries.push_back({name, false});
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.Name < b.Name; });
  return entries;
}

std::string Child(const std::string& folder, const std::string& name) {
  std::string path;
  path.reserve(folder.size() + 1 + name.size());
  path += folder;
  if (!folder.ends_with('/')) path += '/';
  path += name;
  return path;
}

// What the walk carries down the folders.
struct Walk {
  const LikePattern& Pattern;
  bool Recurse;
  const Progress& Told;
  const EnterFolder& Enter;
  std::vector<std::string> Paths;
  std::uint64_t Folders = 0;

  // One folder's matches, then each subfolder's complete result.
  void List(const std::string& folder) {
    const std::vector<Entry> entries = ListFolder(folder);
    if (Told) Told(++Folders, 0);
    for (const auto& entry : entries) {
      if (!entry.Folder && Pattern.Matches(entry.Name)) Paths.push_back(Child(folder, entry.Name));
    }
    if (!Recurse) return;
    for (const auto& entry : entries) {
      if (!entry.Folder) continue;
      const std::string sub = Child(folder, entry.Name);
      if (Enter) Enter(sub, [&] { List(sub); });
      else List(sub);
    }
  }
};

}  // namespace

std::vector<std::string> MatchingFiles(const LikePattern& pattern, bool recurse, const std::string& folder,
                                       const Progress& progress, const EnterFolder& enter) {
  Walk walk{pattern, recurse, progress, enter, {}};
  walk.List(folder);
  return std::move(walk.Paths);
}

}  // namespace qm::utility
