#pragma once
// TemporaryFile: a file in the temporary folder that lives as long as the
// object.
//
// Creating the object creates an empty file "<TEMP>/~tmpN" under a name taken
// atomically: no other TemporaryFile, in this process or another, receives
// the same one. Releasing the object deletes the file (failures ignored).
//
// In a child process after fork, an object made before the fork belongs to
// the parent, and so does its file: releasing it there deletes nothing (the
// parent still deletes it), and CreateTextStream raises 75. Its name and
// file number stay readable; SetSuffix gives it a new file of the child's.

#include <cstdint>
#include <memory>
#include <string>

#include "quillmark/Export.h"
#include "quillmark/runtime/FileTable.h"
#include "quillmark/runtime/TextStream.h"
#include "quillmark/values/Object.h"

namespace qm {

/// An empty file "<TEMP>/~tmpN" under a name taken atomically, deleted when
/// the object is released.
class QUILLMARK_EXPORT TemporaryFile : public virtual Object {
 public:
  TemporaryFile();
  ~TemporaryFile() override;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  std::string ClassName() const override { return "TemporaryFile"; }

  /// Deletes the file and takes a new empty one whose name ends in
  /// `SuffixIncludingDot` (".xls"). The file number goes back to 0.
  void SetSuffix(const std::string& SuffixIncludingDot);
  /// Empties the file and opens a text stream on it: UTF-16 with `Unicode`,
  /// UTF-8 otherwise.
  std::shared_ptr<TextStream> CreateTextStream(bool Unicode);
  /// The file's full path.
  std::string Filename() const;
  /// Reserves the lowest free number of the numbered-file table and keeps it:
  /// no other TemporaryFile, nor FreeFile, is given that number until a file
  /// is opened under it or this object is released (or assigns again, or
  /// changes its suffix). Opening the file under the number is the caller's task.
  std::int32_t AssignFileNo();
  /// The number taken by AssignFileNo; before that, 11000
  /// "AssignFileNo() not yet called".
  std::int32_t FileNo() const;

 private:
  void Create(const std::string& suffix);
  void Delete() noexcept;

  // The object's state, defined in the library's sources.
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
