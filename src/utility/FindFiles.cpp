#include "quillmark/utility/FindFiles.h"

#include "quillmark/utility/FileRecurser.h"
#include "runtime/ProgressRelay.h"

namespace qm {

std::vector<std::filesystem::path> FindFiles(const std::filesystem::path& folder, const std::string& pattern,
                                             bool recurse, const Progress& progress) {
  runtime::ProgressRelay relay(progress);
  Variant found;
  try {
    found = FileRecurser().Files(pattern, recurse, folder.string(), relay.Callback());
  } catch (...) {
    relay.RethrowCallerException();
    throw;
  }
  std::vector<std::filesystem::path> paths;
  paths.reserve(found.Array().Size());
  for (const Variant& name : found.Array().Data()) paths.emplace_back(name.String());
  return paths;
}

}  // namespace qm
