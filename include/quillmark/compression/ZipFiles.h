#pragma once

/// @file
/// Every file of a list, however long, into one zip archive.
///
///     std::vector<std::filesystem::path> files = {"site/index.html", "site/pics/chart.png"};
///     const qm::ZipReport report = qm::ZipFiles("backup.zip", files, "site");  // index.html, pics/chart.png
///     if (!report.Complete()) std::cerr << report.Message() << '\n';
///
/// Entries are named after the paths as given ("./" and a leading "/"
/// dropped), after the paths relative to a base folder, or by (file, name)
/// pairs. They are deflated at level 6; an existing archive is updated
/// (entries of the same name replaced). The files are written in rounds of
/// 1024 with the engine qm::Zipper runs; each round is written whole or not at
/// all, but the rounds before a failed one stay in the archive. The report
/// says which files did not make it into the archive and why.
///
/// An entry name that is empty, absolute or climbs out of the archive's folder
/// (".."), and a file outside the base folder, raise 5 (Invalid procedure call
/// or argument) before anything is written.

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/runtime/Progress.h"

namespace qm {

/// A file and the name of its entry in the archive ("/" between folders).
struct QUILLMARK_EXPORT ZipEntry {
  std::filesystem::path File;  ///< the file to store
  std::string Name;            ///< its name in the archive
};

/// A file that was asked for but is not in the archive.
struct QUILLMARK_EXPORT ZipSkipped {
  std::filesystem::path File;  ///< The file as it was asked for.
  std::string Reason;          ///< in words: "not found", "is the archive itself", ...
};

/// How ZipFiles ended.
enum class ZipResult {
  Ok,            ///< every round was written (files may still be Skipped)
  NothingFound,  ///< none of the files was found: no archive written
  ReadFailed,    ///< an input file could not be read
  WriteFailed,   ///< the archive could not be created or written
  NotAnArchive,  ///< the archive named exists but is no zip archive (left alone)
  OutOfMemory,   ///< memory ran out
  Failed         ///< any other failure of the zip engine
};

/// The outcome of ZipFiles.
struct QUILLMARK_EXPORT ZipReport {
  /// Ok when every round succeeded; otherwise what stopped the job.
  ZipResult Result = ZipResult::Ok;
  /// The file concerned when Result is neither Ok nor NothingFound (an input
  /// file, or the archive; empty when no archive name was given).
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
  bool Complete() const { return Result == ZipResult::Ok && Skipped.empty(); }
  /// One line per problem, naming the file: empty when Complete().
  std::string Message() const;
};

/// Writes every file into `archive`, named as given, telling `progress` the
/// bytes written so far of the files' sizes (each file is looked at once more
/// to learn its size). An exception it throws cancels the archive (an archive
/// that was there stays as it was) and then passes on as the object thrown.
/// An archive whose folder is missing raises 76 "Path not found: <folder>"
/// (errc::not_found).
QUILLMARK_EXPORT ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const std::filesystem::path> files,
                                    const Progress& progress = {});

/// Writes every file into `archive`, named by its path relative to `base`
/// ("site/pics/a.png" under the base "site" is "pics/a.png"). Relative paths
/// are taken from the current folder; a file outside `base` raises 5.
QUILLMARK_EXPORT ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const std::filesystem::path> files,
                                    const std::filesystem::path& base, const Progress& progress = {});

/// Writes each entry's file into `archive` under the entry's name.
QUILLMARK_EXPORT ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const ZipEntry> entries,
                                    const Progress& progress = {});

}  // namespace qm
