#pragma once
// The folder walk behind qm::FindFiles and FileRecurser::Files: the files of a
// folder whose names match a pattern, optionally with those of every subfolder.

#include <functional>
#include <string>
#include <vector>

#include "quillmark/runtime/Like.h"
#include "quillmark/runtime/Progress.h"

namespace qm::utility {

/// How the walk enters a subfolder: runs `list` (the subfolder's complete
/// listing) for `folder`. FileRecurser wraps it in its call frame, as a
/// recursive call of Files would; an empty one just runs it.
using EnterFolder = std::function<void(const std::string& folder, const std::function<void()>& list)>;

/// The paths of the files in `folder` whose names match `pattern`, in name
/// order; with `recurse`, each subfolder's complete result follows the
/// folder's own files (depth first). Links to folders are not followed.
/// `progress` hears the folders listed so far (total 0); what it throws
/// passes on untouched. A folder that cannot be listed raises 76 (missing),
/// 70 (no permission) or 75.
std::vector<std::string> MatchingFiles(const LikePattern& pattern, bool recurse, const std::string& folder,
                                       const Progress& progress, const EnterFolder& enter = {});

}  // namespace qm::utility
