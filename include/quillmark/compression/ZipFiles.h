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
/// pairs. They are deflated at level 6. The archive is made anew by default:
/// the entries of an archive already there are dropped. ZipMode::Update keeps
/// them instead, replacing those of the same name:
///
///     qm::ZipFiles("backup.zip", files, qm::ZipMode::Update);
///
/// A file of the archive's name that is no zip archive is left alone in
/// either mode (ZipResult::NotAnArchive).
///
/// The archive is written once, whatever the number of files, to a temporary
/// beside it that replaces it when whole: a failure leaves the old archive
/// as it was. The report says which files did not make it into the archive
/// and why.
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

/// What ZipFiles does with an archive that is already there.
enum class ZipMode {
  Create,  ///< replaces it by an archive of the files given only
  Update   ///< keeps its entries, replacing those of the same name
};

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
  Ok,            ///< the archive was written (files may still be Skipped)
  NothingFound,  ///< none of the files was found: no archive written
  ReadFailed,    ///< an input file could not be read
  WriteFailed,   ///< the archive could not be created or written
  NotAnArchive,  ///< the archive named exists but is no zip archive (left alone)
  OutOfMemory,   ///< memory ran out
  Failed         ///< any other failure of the zip engine
};

/// The outcome of ZipFiles.
struct QUILLMARK_EXPORT ZipReport {
  /// Ok when the archive was written; otherwise what stopped the job.
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
  /// Always 0: the archive is written in one pass, so a failure leaves out
  /// every file (Archived is 0) rather than leaving some untried.
  std::size_t NotTried = 0;

  /// True when every file asked for is in the archive.
  bool Complete() const { return Result == ZipResult::Ok && Skipped.empty(); }
  /// One line per problem, naming the file: empty when Complete().
  std::string Message() const;
};

/// Writes every file into `archive`, named as given, telling `progress` the
/// bytes written so far of the files' sizes. An exception it throws cancels
/// the archive (an archive that was there stays as it was) and then passes on
/// as the object thrown. An archive whose folder is missing raises 76 "Path
/// not found: <folder>" (errc::not_found). An archive already there is
/// replaced (ZipMode::Create).
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

/// As ZipFiles(archive, files, progress), with an archive already there
/// replaced or updated as `mode` says.
QUILLMARK_EXPORT ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const std::filesystem::path> files,
                                    ZipMode mode, const Progress& progress = {});

/// As ZipFiles(archive, files, base, progress), with `mode`.
QUILLMARK_EXPORT ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const std::filesystem::path> files,
                                    const std::filesystem::path& base, ZipMode mode, const Progress& progress = {});

/// As ZipFiles(archive, entries, progress), with `mode`.
QUILLMARK_EXPORT ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const ZipEntry> entries,
                                    ZipMode mode, const Progress& progress = {});

}  // namespace qm
