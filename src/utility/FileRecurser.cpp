#include "quillmark/utility/FileRecurser.h"

#include <vector>

#include "quillmark/frame/Frame.h"
#include "quillmark/runtime/Like.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Text.h"
#include "utility/MatchingFiles.h"

namespace qm {

std::string FileRecurser::ClassName() const { return "FileRecurser"; }

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
    // A subfolder runs in the frame of `Files`, as a recursive call of it would.
    const utility::EnterFolder enter = [&](const std::string& folder, const std::function<void()>& list) {
      QM_FRAME_TRY { list(); }
      QM_FRAME_CATCH("FileRecurser", "Public Function Files", pattern, RecurseDirs, folder);
    };
    std::vector<std::string> paths = utility::MatchingFiles(compiled, RecurseDirs, Path, progress, enter);
    std::vector<Variant> names;
    names.reserve(paths.size());
    for (std::string& path : paths) names.emplace_back(std::move(path));
    return Variant(VariantArray::FromVector(std::move(names), 0, vbString));
  }
  QM_FRAME_CATCH("FileRecurser", "Public Function Files", Filter, RecurseDirs, Path);
}

}  // namespace qm
