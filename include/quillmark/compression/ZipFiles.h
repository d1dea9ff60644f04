#pragma once
// qm::ZipFiles: every file of a list, however long, into one zip archive.
//
//   std::vector<std::filesystem::path> files = {"report.html", "pics/chart.png"};
//   const qm::ZipReport report = qm::ZipFiles("backup.zip", files);
//   if (!report.Complete()) std::cerr << report.Message() << '\n';
//
// Zipper takes at most 1024 names per operation; ZipFiles adds to the same
// archive in rounds of 1024 with the same engine and options (names stored
// as given, deflate level 6, an existing archive updated), and says which
// files did not make it into the archive and why.
//
// Each round is written whole or not at all, but the rounds before a failed
// one stay in the archive.

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/compression/Zipper.h"
#include "quillmark/runtime/Progress.h"

namespace qm {

/// A file that was asked for but is not in the archive.
struct QUILLMARK_EXPORT ZipSkipped {
  std::filesystem::path File;  ///< The file as it was asked for.
  std::string Reason;  ///< in words: "not found", "is the archive itself", ...
};

/// The outcome of ZipFiles.
struct QUILLMARK_EXPORT ZipReport {
  /// ZE_OK when every round succeeded; ZE_Nothing_To_Do_ERR when no file was
  /// found at all; otherwise the result of the round that failed.
  ZipErrors Result = ZE_OK;
  /// The file concerned when Result is neither ZE_OK nor ZE_Nothing_To_Do_ERR
  /// (an input file, or the archive; empty when no archive name was given).
  std::filesystem::path FailedFile;
  /// What went wrong with FailedFile, in words.
  std::string Problem;
  /// Files asked for but left out, in the order given.
  std::vector<ZipSkipped> Skipped;
  /// Files and folders written into the archive.
  std::size_t Archived = 0;
  /// Files given after a failed round, which were not tried.
  std::size_t NotTried = 0;

  /// True when every file asked for is in the archive.
  bool Complete() const { return Result == ZE_OK && Skipped.empty(); }
  /// One line per problem, naming the file: empty when Complete().
  std::string Message() const;
};

/// Writes every file into `archive`, in rounds of Zipper::kMaxFilenames.
QUILLMARK_EXPORT ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const std::filesystem::path> files);

/// ZipFiles, telling `progress` the bytes written so far of the files' sizes
/// (each file is looked at once more to learn its size). It should not throw:
/// the archive is written by a C library, so an exception it throws is
/// dropped.
QUILLMARK_EXPORT ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const std::filesystem::path> files,
                                    const Progress& progress);

}  // namespace qm
