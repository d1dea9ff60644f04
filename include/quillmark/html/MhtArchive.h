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
/// raises 53 (File not found) and leaves an earlier archive as it was; a
/// missing folder of the page or the archive raises 76 "Path not found:
/// <folder>" (errc::not_found).

#include <filesystem>
#include <string>

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

}  // namespace qm
