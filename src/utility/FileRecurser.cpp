#include "quillmark/utility/FileRecurser.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "frame/FileErrors.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/runtime/Like.h"
#include "quillmark/values/Conversions.h"

namespace qm {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
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
  std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
  if (!dir) RaiseOpenFailure(errno);
  std::vector<Entry> entries;
  while (const dirent* entry = ::readdir(dir.get())) {
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN || type == DT_LNK) {
      struct stat info {};
      if (::fstatat(::dirfd(dir.get()), name, &info, type == DT_LNK ? 0 : AT_SYMLINK_NOFOLLOW) != 0) continue;
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
  return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

// What a listing carries down the folders: the matches so far and the
// caller's progress.
struct Listing {
  std::vector<Variant> Paths;
  std::uint64_t Folders = 0;
  const Progress& Told;
};

void Collect(const LikePattern& pattern, const std::string& Filter, bool RecurseDirs, const std::string& Path,
             Listing& out);

// One folder's matches, then each subfolder's complete result, appended to `out`.
void ListMatches(const LikePattern& pattern, const std::string& Filter, bool RecurseDirs, const std::string& Path,
                 Listing& out) {
  const std::vector<Entry> entries = ListFolder(Path);
  if (out.Told) out.Told(++out.Folders, 0);
  for (const auto& entry : entries) {
    if (!entry.Folder && pattern.Matches(entry.Name)) out.Paths.emplace_back(Child(Path, entry.Name));
  }
  if (!RecurseDirs) return;
  for (const auto& entry : entries) {
    if (entry.Folder) Collect(pattern, Filter, RecurseDirs, Child(Path, entry.Name), out);
  }
}

// A subfolder runs in the frame of `Files`, as a recursive call of it would.
void Collect(const LikePattern& pattern, const std::string& Filter, bool RecurseDirs, const std::string& Path,
             Listing& out) {
  QM_FRAME_TRY { ListMatches(pattern, Filter, RecurseDirs, Path, out); }
  QM_FRAME_CATCH("FileRecurser", "Public Function Files", Filter, RecurseDirs, Path);
}

}  // namespace

Variant FileRecurser::Files(const std::string& Filter, bool RecurseDirs, const std::string& Path) const {
  return Files(Filter, RecurseDirs, Path, Progress());
}

Variant FileRecurser::Files(const std::string& Filter, bool RecurseDirs, const std::string& Path,
                            const Progress& progress) const {
  QM_FRAME_TRY {
    // The pattern in upper case, as the name it is passed on under; the
    // match itself ignores case in every letter, the name's and the pattern's.
    const std::string pattern = UCase(Trim(Filter));
    const LikePattern compiled(pattern, TextCompare);
    Listing listing{{}, 0, progress};
    ListMatches(compiled, pattern, RecurseDirs, Path, listing);
    return Variant(VariantArray::FromVector(std::move(listing.Paths), 0, vbString));
  }
  QM_FRAME_CATCH("FileRecurser", "Public Function Files", Filter, RecurseDirs, Path);
}

}  // namespace qm
