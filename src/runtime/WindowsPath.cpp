#include "runtime/WindowsPath.h"

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <system_error>

#include "io/System.h"
#include "quillmark/runtime/ResolvePath.h"
#include "quillmark/values/Text.h"

namespace qm::detail {
namespace {

namespace fs = std::filesystem;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The components of `name`, empty ones (doubled separators) left out.
std::vector<std::string_view> Components(std::string_view name) {
  std::vector<std::string_view> parts;
  std::size_t i = 0;
  while (i < name.size()) {
    while (i < name.size() && IsSeparator(name[i])) ++i;
    const std::size_t start = i;
    while (i < name.size() && !IsSeparator(name[i])) ++i;
    if (start < i) parts.push_back(name.substr(start, i - start));
  }
  return parts;
}

// An entry of that name is there (a link counts, whatever it points to).
bool Present(const fs::path& path) {
  struct stat info {};
  return io::sys::Lstat(path.c_str(), &info) == 0;
}

}  // namespace

std::string NativePath(std::string_view name) {
  std::string path(name);
  if constexpr (fs::path::preferred_separator == '/') std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string FileNamePart(std::string_view name) {
  const auto cut = name.find_last_of("\\/");
  return std::string(cut == std::string_view::npos ? name : name.substr(cut + 1));
}

std::string FolderPart(std::string_view name) {
  const auto cut = name.find_last_of("\\/");
  return cut == std::string_view::npos ? std::string() : std::string(name.substr(0, cut + 1));
}

bool IsDrive(std::string_view component) {
  return component.size() == 2 && component[1] == ':' &&
         ((component[0] >= 'A' && component[0] <= 'Z') || (component[0] >= 'a' && component[0] <= 'z'));
}

WindowsPathResolver::WindowsPathResolver(fs::path base) : base_(std::move(base)) {
  if (base_.empty()) {
    std::error_code ec;
    base_ = fs::current_path(ec);
  }
}

std::optional<fs::path> WindowsPathResolver::Resolve(std::string_view name) {
  if (name.empty()) return std::nullopt;
  auto parts = Components(name);
  const bool drive = !parts.empty() && IsDrive(parts.front());
  if (drive) parts.erase(parts.begin());
  fs::path current = drive || IsSeparator(name.front()) ? fs::path("/") : base_;
  // "." and ".." apply to the name as written, before any lookup (so
  // "a\missing\..\b" is "a\b"); a ".." left over climbs from the base.
  std::vector<std::string_view> walk;
  for (const std::string_view part : parts) {
    if (part == ".") continue;
    if (part != "..") {
      walk.push_back(part);
    } else if (!walk.empty()) {
      walk.pop_back();
    } else if (current.has_relative_path()) {
      current = current.parent_path();
    }
  }
  for (const std::string_view part : walk) {
    fs::path exact = current / part;
    if (Present(exact)) {
      current = std::move(exact);
      continue;
    }
    const auto& entries = Listing(current);
    const auto match = std::find_if(entries.begin(), entries.end(),
                                    [&](const std::string& entry) { return EqualsIgnoringCase(entry, part); });
    if (match == entries.end()) return std::nullopt;
    current /= *match;
  }
  if (!Present(current)) return std::nullopt;  // a relative base that does not exist
  return current;
}

fs::path WindowsPathResolver::Unresolved(std::string_view name) const {
  if (name.size() >= 2 && IsDrive(name.substr(0, 2))) name.remove_prefix(2);  // the drive stands for the root
  const fs::path given(NativePath(name));
  return given.is_absolute() ? given : base_ / given;
}

bool WindowsPathResolver::FileExists(std::string_view name) {
  const auto path = Resolve(name);
  struct stat info {};
  return path && io::sys::Stat(path->c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

const std::vector<std::string>& WindowsPathResolver::Listing(const fs::path& folder) {
  const auto [it, inserted] = listings_.try_emplace(folder.string());
  if (inserted) {
    const std::unique_ptr<DIR, int (*)(DIR*)> listed(io::sys::OpenDir(folder.c_str()), &io::sys::CloseDir);
    while (const dirent* entry = listed ? io::sys::ReadDir(listed.get()) : nullptr) {
      const std::string_view name = entry->d_name;
      if (name != "." && name != "..") it->second.emplace_back(name);
    }
    std::sort(it->second.begin(), it->second.end());
  }
  return it->second;
}

}  // namespace qm::detail

namespace qm {

std::optional<std::filesystem::path> ResolveWindowsPath(std::string_view name, const std::filesystem::path& base) {
  return detail::WindowsPathResolver(base).Resolve(name);
}

}  // namespace qm
