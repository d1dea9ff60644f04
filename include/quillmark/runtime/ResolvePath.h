#pragma once

/// @file
/// File names from the Windows world (written with "\" or a drive letter,
/// or in another case than the file on disk), found as that world's file
/// system would find them.
///
///     auto picture = qm::ResolveWindowsPath("..\\IMAGES\\Logo.JPG", pageFolder);

#include <filesystem>
#include <optional>
#include <string_view>

#include "quillmark/Export.h"

namespace qm {

/// The existing file or folder that `name` stands for, or nullopt (also for
/// ""). "\" and "/" both separate; a leading drive ("C:") stands for the
/// root; "." and ".." are taken as written, before any lookup; a component
/// that does not exist as written matches the first entry of its folder, in
/// name order, that equals it without regard to case (every letter, not only
/// ASCII). A relative `name` is taken from `base`, or from the current folder
/// when `base` is empty. A folder that cannot be listed matches nothing.
QUILLMARK_EXPORT std::optional<std::filesystem::path> ResolveWindowsPath(std::string_view name,
                                                                         const std::filesystem::path& base = {});

}  // namespace qm
