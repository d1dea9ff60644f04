#pragma once
// The folder walk behind qm::FindFiles and FileRecurser::Files: the files of a
// folder whose names match a pattern, optionally with those of every subfolder.

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quillmark/runtime/Like.h"
#include "quillmark/runtime/Progress.h"

namespace qm::utility {

/// How the walk enters a subfolder: runs `list` (the subfolder's complete
/// listing) for `folder`. FileRecurser wraps it in its call frame, as a
/// recursive call of Files would; an empty one just runs it.
using EnterFolder = std::function<void(const std::string& folder, const std::function<void()>& list)>;

/// Takes the files the walk finds, one folder's matches at a time, in the
/// order of the result: the folder as the walk names it and the names of its
/// matching files (valid during the call). Folders without a match are not
/// passed.
using TakeFound = std::function<void(const std::string& folder, std::span<const std::string_view> names)>;

/// Appends the path of `name` in `folder` to `path`: the two joined by a '/'
/// unless the folder ends in one.
void AppendChild(std::string& path, std::string_view folder, std::string_view name);

/// Walks `folder` and passes the files whose names match `pattern` to
/// `take`, in name order; with `recurse`, each subfolder's
/// complete result follows the folder's own files (depth first). Links to
/// folders are not followed. `progress` hears the folders listed so far
/// (total 0); what it or `take` throws passes on untouched. A folder that
/// cannot be listed raises 76 (missing), 70 (no permission) or 75.
void MatchingFiles(const LikePattern& pattern, bool recurse, const std::string& folder, const Progress& progress,
                   const EnterFolder& enter, const TakeFound& take);

/// The same walk, its paths in one list.
std::vector<std::string> MatchingFiles(const LikePattern& pattern, bool recurse, const std::string& folder,
                                       const Progress& progress, const EnterFolder& enter = {});

}  // namespace qm::utility
