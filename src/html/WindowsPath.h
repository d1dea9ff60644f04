#pragma once
// Resolution of file names that come from the Windows world of the documents
// (references found in pages, which the scan upper-cases, and names written
// with "\"): both "\" and "/" separate, and when the exact name does not
// exist, a component that matches without regard to case (qm::EqualsIgnoringCase,
// every letter, not only ASCII) is taken.
// Each folder is listed at most once per resolver, so one resolver serves
// one conversion.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qm::html {

/// `name` with every "\" turned into the platform separator.
std::string NativePath(std::string_view name);
/// What follows the last "\" or "/" (the whole name when there is none).
std::string FileNamePart(std::string_view name);
/// Everything up to and including the last "\" or "/" (empty when there is none).
std::string FolderPart(std::string_view name);

class WindowsPathResolver {
 public:
  /// Relative names resolve against `base` (the current folder when empty).
  explicit WindowsPathResolver(std::filesystem::path base = {});

  /// The existing path `name` stands for, or nullopt.
  std::optional<std::filesystem::path> Resolve(std::string_view name);
  /// `name` taken against the base as it is, without resolving.
  std::filesystem::path Unresolved(std::string_view name) const;
  /// True when `name` is not empty and resolves to a regular file.
  bool FileExists(std::string_view name);

 private:
  const std::vector<std::string>& Listing(const std::filesystem::path& folder);

  std::filesystem::path base_;
  std::unordered_map<std::string, std::vector<std::string>> listings_;  // folder -> sorted entry names
};

}  // namespace qm::html
