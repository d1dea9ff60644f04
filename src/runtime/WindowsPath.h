#pragma once
// Resolution of file names that come from the Windows world of the documents
// and their callers (references found in pages, which the scan upper-cases;
// names written with "\" or a drive letter), as that world's file system
// would: "\" and "/" both separate, a leading drive ("C:") stands for the
// root, "." and ".." are taken lexically, and a component that does not exist
// as written is matched without regard to case (qm::EqualsIgnoringCase, every
// letter, not only ASCII): the first such entry in name order.
//
// Each folder is listed at most once per resolver, so one resolver serves one
// conversion or one page. The HTML converter, the preview and the utilities
// all resolve through it.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qm::detail {

/// `name` with every "\" turned into the platform separator.
std::string NativePath(std::string_view name);
/// What follows the last "\" or "/" (the whole name when there is none).
std::string FileNamePart(std::string_view name);
/// Everything up to and including the last "\" or "/" (empty when there is none).
std::string FolderPart(std::string_view name);
/// True for a drive: one ASCII letter and a colon ("C:").
bool IsDrive(std::string_view component);

class WindowsPathResolver {
 public:
  /// Relative names resolve against `base` (the current folder when empty).
  explicit WindowsPathResolver(std::filesystem::path base = {});

  /// The existing path `name` stands for, or nullopt (also for "").
  std::optional<std::filesystem::path> Resolve(std::string_view name);
  /// `name` taken against the base as it is, without resolving.
  std::filesystem::path Unresolved(std::string_view name) const;
  /// True when `name` resolves to a regular file.
  bool FileExists(std::string_view name);

 private:
  const std::vector<std::string>& Listing(const std::filesystem::path& folder);

  std::filesystem::path base_;
  std::unordered_map<std::string, std::vector<std::string>> listings_;  // folder -> sorted entry names
};

}  // namespace qm::detail
