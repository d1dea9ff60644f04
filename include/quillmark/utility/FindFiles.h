#pragma once

/// @file
/// Files whose names match a wildcard pattern, as paths.
///
///     for (const auto& page : qm::FindFiles("site", "*.htm*", true)) ...
///
/// The folder walk qm::FileRecurser::Files runs too, without its Variant
/// array and call frames: the pattern is the `Like` operator's (`? * # [list]
/// [!list]`, without regard to case; blanks around it are ignored and it is
/// taken in upper case), entries are taken in name order, depth first, and
/// symbolic links to folders are not followed. A missing folder raises 76
/// "Path not found: '<folder>'" (errc::not_found); a folder that cannot be
/// listed raises 70 or 75 naming it.

#include <filesystem>
#include <string>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/runtime/Progress.h"

namespace qm {

/// The files of `folder` whose names match `pattern`; with `recurse`, each
/// subfolder's files follow the folder's own. `progress` hears the folders
/// listed so far (the total is not known beforehand: 0); an exception it
/// throws stops the search and passes on as the object thrown.
QUILLMARK_EXPORT std::vector<std::filesystem::path> FindFiles(const std::filesystem::path& folder,
                                                              const std::string& pattern, bool recurse = false,
                                                              const Progress& progress = {});

}  // namespace qm
