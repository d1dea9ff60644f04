#include "utility/MatchingFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "frame/FileErrors.h"
#include "io/System.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm::utility {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { io::sys::CloseDir(dir); }
};

// A folder's listing: the names one after the other in one buffer, the
// entries sorted by name. Sorting these small records instead of strings
// keeps the sort's moves to a few words each.
struct Listing {
  struct Entry {
    std::size_t Offset;
    std::uint16_t Size;  // a name has at most NAME_MAX (255) bytes
    bool Folder;
  };
  std::string Names;
  std::vector<Entry> Entries;

  std::string_view Name(const Entry& entry) const { return {Names.data() + entry.Offset, entry.Size}; }
};

[[noreturn]] void RaiseOpenFailure(int error) {
  if (error == EACCES || error == EPERM) frame::RaiseErrno(ERR_PermissionDenied, error);
  if (error == ENOENT || error == ENOTDIR) frame::RaiseErrno(ERR_PathNotFound, error);
  frame::RaiseErrno(ERR_PathFileAccess, error);
}

// The files and subfolders of a folder, sorted by name. Links count as what
// they point to, except that links to folders are left out (no cycles).
Listing ListFolder(const std::string& path) {
  std::unique_ptr<DIR, DirCloser> dir(io::sys::OpenDir(path.c_str()));
  if (!dir) RaiseOpenFailure(errno);
  Listing listing;
  while (const dirent* entry = io::sys::ReadDir(dir.get())) {
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN || type == DT_LNK) {
      struct stat info {};
      if (io::sys::FstatAt(::dirfd(dir.get()), name, &info, type == DT_LNK ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        // Gone meanwhile, a dangling or looping link, or not to be looked
        // at: not a file to list. Any other failure ends the walk.
        if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP || errno == EACCES) continue;
        RaiseOpenFailure(errno);
      }
      if (S_ISDIR(info.st_mode)) {
        if (entry->d_type == DT_LNK) continue;
        type = DT_DIR;
      } else {
        type = S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
      }
    }
    if (type != DT_DIR && type != DT_REG) continue;
    const std::size_t size = std::strlen(name);
    listing.Entries.push_back({listing.Names.size(), static_cast<std::uint16_t>(size), type == DT_DIR});
    listing.Names.append(name, size);
  }
  if (errno != 0) RaiseOpenFailure(errno);  // the listing failed before its end
  std::sort(listing.Entries.begin(), listing.Entries.end(),
            [&](const Listing::Entry& a, const Listing::Entry& b) { return listing.Name(a) < listing.Name(b); });
  return listing;
}

std::string Child(const std::string& folder, std::string_view name) {
  std::string path;
  path.reserve(folder.size() + 1 + name.size());
  AppendChild(path, folder, name);
  return path;
}

// What the walk carries down the folders.
struct Walk {
  const LikePattern& Pattern;
  bool Recurse;
  const Progress& Told;
  const EnterFolder& Enter;
  const TakeFound& Take;
  std::uint64_t Folders = 0;

  std::vector<std::string_view> Found;  // one folder's matches, its room kept from folder to folder

  // One folder's matches, then each subfolder's complete result.
  void List(const std::string& folder) {
    const Listing listing = ListFolder(folder);
    if (Told) Told(++Folders, 0);
    Found.clear();
    for (const auto& entry : listing.Entries) {
      if (!entry.Folder && Pattern.Matches(listing.Name(entry))) Found.push_back(listing.Name(entry));
    }
    if (!Found.empty()) Take(folder, Found);
    if (!Recurse) return;
    for (const auto& entry : listing.Entries) {
      if (!entry.Folder) continue;
      const std::string sub = Child(folder, listing.Name(entry));
      if (Enter) Enter(sub, [&] { List(sub); });
      else List(sub);
    }
  }
};

}  // namespace

void AppendChild(std::string& path, std::string_view folder, std::string_view name) {
  path += folder;
  if (!folder.ends_with('/')) path += '/';
  path += name;
}

void MatchingFiles(const LikePattern& pattern, bool recurse, const std::string& folder, const Progress& progress,
                   const EnterFolder& enter, const TakeFound& take) {
  Walk{pattern, recurse, progress, enter, take, 0, {}}.List(folder);
}

std::vector<std::string> MatchingFiles(const LikePattern& pattern, bool recurse, const std::string& folder,
                                       const Progress& progress, const EnterFolder& enter) {
  std::vector<std::string> paths;
  MatchingFiles(pattern, recurse, folder, progress, enter,
                [&](const std::string& parent, std::span<const std::string_view> names) {
                  for (const std::string_view name : names) paths.push_back(Child(parent, name));
                });
  return paths;
}

}  // namespace qm::utility
