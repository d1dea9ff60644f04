#pragma once

/// @file
/// Files written as a whole: a failure or a crash at any instant leaves either
/// the old file or the new one, complete.
///
///     qm::WriteFileAtomically("settings.json", text);
///
///     qm::AtomicFileWriter out("big.csv");
///     for (const auto& row : rows) out.Write(row);
///     out.Commit();  // until here, big.csv is the old file
///
/// The bytes go to a temporary file in the target's folder, which is synced
/// and renamed over the target; the folder is synced after the rename. The
/// library's own whole-file writes (records, pages, workbooks, archives)
/// go the same way. A file that is a symbolic link is replaced through the
/// link, which stays; the new file keeps the old one's permission bits.
///
/// Failures raise a qm::Error naming the file: 70 "Permission denied", 61
/// "Disk full", 75 "Path/File access error" (with the system's cause), or 76
/// "Path not found: '<folder>'" when the target's folder is missing. The
/// target is then as it was. Only a folder that cannot be synced after the
/// rename raises with the new file in place (75, which says so); writing the
/// same content again is the remedy.

#include <filesystem>
#include <memory>
#include <string_view>

#include "quillmark/Export.h"

namespace qm {

/// Replaces `target` with `bytes` in one step.
QUILLMARK_EXPORT void WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes);

/// Replaces `target` with a copy of `source` in one step; the new file takes
/// the permission bits of `source`. A `source` that cannot be read raises an
/// error naming it.
QUILLMARK_EXPORT void CopyFileAtomically(const std::filesystem::path& source, const std::filesystem::path& target);

/// A new file for `target`, written piece by piece and put in place by
/// Commit(). Destroyed without Commit(), it drops what was written and leaves
/// the target untouched.
///
/// In a child process after fork, a writer made before the fork is the
/// parent's: Write and Commit raise 75, and nothing is published or removed.
class QUILLMARK_EXPORT AtomicFileWriter {
 public:
  /// What the temporary file is.
  enum class Temporary {
    /// Without a name where the file system allows it: a writer killed
    /// before Commit leaves nothing behind. Written only through Write.
    Unnamed,
    /// A hidden file beside the target (TemporaryPath()), for libraries that
    /// write to a file name of their own; a writer killed before Commit
    /// leaves it behind.
    Named,
  };

  /// Makes the temporary file in the target's folder.
  explicit AtomicFileWriter(const std::filesystem::path& target, Temporary temporary = Temporary::Unnamed);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  /// Appends bytes to the new file. A failed write is kept: every later
  /// Write and Commit raises it, and the target is never replaced.
  void Write(std::string_view bytes);
  /// The temporary file's path for Temporary::Named (whatever is there at
  /// Commit() is published), else empty.
  const std::filesystem::path& TemporaryPath() const noexcept;
  /// The file that Commit() replaces: the target, or the file its link leads to.
  const std::filesystem::path& Target() const noexcept;
  /// Syncs the new file and puts it in place of the target. Raises, keeping
  /// the old file, when a write failed; the writer is done either way.
  void Commit();
  /// Drops the new file without touching the target (done on destruction too).
  void Discard() noexcept;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
