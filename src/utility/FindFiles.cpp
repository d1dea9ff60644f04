#include "quillmark/utility/FindFiles.h"

#include "quillmark/runtime/Like.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Text.h"
#include "utility/MatchingFiles.h"

namespace qm {

std::vector<std::filesystem::path> FindFiles(const std::filesystem::path& folder, const std::string& pattern,
                                             bool recurse, const Progress& progress) {
  // Upper case as FileRecurser takes it: a character list like [a-z] then
  // holds the letters in either case.
  const LikePattern compiled(UCase(Trim(pattern)), TextCompare);
  // The progress callback is called directly: what it throws passes through
  // the walk untouched, as the very object thrown.
  std::vector<std::string> found = utility::MatchingFiles(compiled, recurse, folder.string(), progress);
  std::vector<std::filesystem::path> paths;
  paths.reserve(found.size());
  for (std::string& name : found) paths.emplace_back(std::move(name));
  return paths;
}

}  // namespace qm
