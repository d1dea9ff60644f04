#pragma once

/// @file
/// Packing a page into a MIME web archive, over standard types.
///
///     qm::PackMht("report/index.html", "report.mht");
///
/// The page, the pages it links to and the files they refer to, in one
/// archive a browser opens as the page: the archive mdlHTML2MHT::ConvertHTMLToMHT
/// writes, made by the same packer. References inside the page are found the
/// Windows way; the page itself is a path of this system. A missing page
/// raises 53 "File not found: '<page>'" and leaves an earlier archive as it
/// was; a missing folder of the page or the archive raises 76 "Path not
/// found: '<folder>'" (errc::not_found).
///
/// The message header has the date of the packing (RFC 5322, in UTC) and a
/// subject beyond printable ASCII as RFC 2047 encoded-words; the published
/// converter keeps its fixed date and raw subject. Every file the page names
/// is read, wherever it lies (as the published converter does), unless the
/// job is confined to the page's folder (MhtOptions::Confine).

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/runtime/Progress.h"

namespace qm {

/// Writes the archive of `page` to `archive` (created or replaced) and
/// returns the subject it was given: `subject`, or when that is empty
/// "Report generated from " and the library's name and version. `progress`
/// hears the parts (the page, each linked page and file) written of those
/// found; an exception it throws stops the job and passes on, leaving any
/// earlier archive as it was.
QUILLMARK_EXPORT std::string PackMht(const std::filesystem::path& page, const std::filesystem::path& archive,
                                     std::string subject = {}, const Progress& progress = {});

/// How PackMht packs, beyond the page and the archive.
struct MhtOptions {
  /// The subject; empty: "Report generated from " and the library's name and version.
  std::string Subject;
  /// Hears the parts written of those found, as for the short form.
  Progress OnProgress;
  /// Packs only files inside the page's folder: a reference that leads out
  /// of it (by "..", an absolute path or a symbolic link) stays a link to
  /// the outside, is not read, and is listed in MhtResult::LeftOut.
  bool Confine = false;
  /// The date the header gives; none: the time of packing.
  std::optional<std::chrono::system_clock::time_point> Date;
};

/// What PackMht did.
struct MhtResult {
  std::string Subject;               ///< the subject the archive was given
  std::vector<std::string> LeftOut;  ///< references not packed for leading out (as the page writes them)
};

/// Writes the archive of `page` to `archive` as the short form does, with the
/// options given.
QUILLMARK_EXPORT MhtResult PackMht(const std::filesystem::path& page, const std::filesystem::path& archive,
                                   const MhtOptions& options);

}  // namespace qm
