#include "html/WindowsPath.h"

#include <algorithm>
#include <system_error>

#include "quillmark/runtime/Text.h"

namespace qm::html {
namespace {

namespace fs = std::filesystem;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool Exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(path, ec);
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

WindowsPathResolver::WindowsPathResolver(fs::path base) : base_(std::move(base)) {
  if (base_.empty()) {
    std::error_code ec;
    base_ = fs::current_path(ec);
  }
}

std::optional<fs::path> WindowsPathResolver::Resolve(std::string_view name) {
  if (name.empty()) return std::nullopt;
  const fs::path full = Unresolved(name);
  if (Exists(full)) return full;

  // Walk the name one component at a time, matching without regard to case
  // where the exact component is missing.
  fs::path current = fs::path(NativePath(name)).is_absolute() ? fs::path("/") : base_;
  std::size_t i = 0;
  while (i < name.size()) {
    while (i < name.size() && IsSeparator(name[i])) ++i;
    const std::size_t start = i;
    while (i < name.size() && !IsSeparator(name[i])) ++i;
    if (start == i) break;
    const std::string_view component = name.substr(start, i - start);
    fs::path candidate = current / std::string(component);
    if (component == "." || component == ".." || Exists(candidate)) {
      current = std::move(candidate);
      continue;
    }
    const auto& entries = Listing(current);
    const auto match = std::find_if(entries.begin(), entries.end(),
                                    [&](const std::string& entry) { return EqualsIgnoringCase(entry, component); });
    if (match == entries.end()) return std::nullopt;
    current /= *match;
  }
  return current;
}

fs::path WindowsPathResolver::Unresolved(std::string_view name) const {
  const fs::path given(NativePath(name));
  return given.is_absolute() ? given : base_ / given;
}

bool WindowsPathResolver::FileExists(std::string_view name) {
  const auto path = Resolve(name);
  std::error_code ec;
  return path && fs::is_regular_file(*path, ec);
}

const std::vector<std::string>& WindowsPathResolver::Listing(const fs::path& folder) {
  const auto [it, inserted] = listings_.try_emplace(folder.string());
  if (inserted) {
    std::error_code ec;
    for (fs::directory_iterator entry(folder, ec), end; !ec && entry != end; entry.increment(ec))
      it->second.push_back(entry->path().filename().string());
    std::sort(it->second.begin(), it->second.end());
  }
  return it->second;
}

}  // namespace qm::html
