#pragma once
// FileRecurser: the files of a folder whose names match a wildcard pattern,
// optionally with those of every subfolder.

#include <string>

#include "quillmark/Export.h"
#include "quillmark/runtime/Progress.h"
#include "quillmark/values/Object.h"
#include "quillmark/values/Variant.h"

namespace qm {

/// Finds the files of a folder whose names match a wildcard pattern,
/// optionally in every subfolder as well.
class QUILLMARK_EXPORT FileRecurser : public virtual Object {
 public:
  /// "FileRecurser". Defined in the library, which so holds the class's virtual table
  /// and type information.
  std::string ClassName() const override;

  /// The full paths of the files in `Path` whose names match `Filter` (the
  /// `Like` operator, without regard to case; blanks around the filter are
  /// ignored), as a 0-based string array (bounds 0 to -1 when none). With
  /// `RecurseDirs`, each subfolder's complete result follows the folder's own
  /// files (depth first). Entries are taken in name order. Symbolic links to
  /// folders are not followed. A missing folder raises 76 (Path not found).
  Variant Files(const std::string& Filter, bool RecurseDirs, const std::string& Path) const;
  /// Files, telling `progress` the folders listed so far (the total is not
  /// known beforehand: 0).
  Variant Files(const std::string& Filter, bool RecurseDirs, const std::string& Path, const Progress& progress) const;
};

}  // namespace qm
