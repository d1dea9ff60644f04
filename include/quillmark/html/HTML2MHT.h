#pragma once
// mdlHTML2MHT: packs an HTML page, the pages it links to and the files it
// refers to into one MIME web archive (MHT, a multipart/related message) that
// a browser such as Chromium opens as the page itself.
//
// Pages travel as quoted-printable text labelled with the page's own charset
// (lines broken softly, so a reader restores them exactly), every other file
// as base64 in lines of 76 characters. References are found in "src=",
// "background=" and "href=" attributes; each part is named as the page spells
// the reference, and the file behind it is found the Windows way: "\" and "/"
// both separate, and a name that does not exist exactly is matched without
// regard to case, component by component. References that are missing or
// cannot be read are skipped. The archive is replaced in one step when the
// conversion succeeds; a failed conversion leaves the old one, except that a
// missing main page fails after the message header has been written.

#include <string>
#include <string_view>

#include "quillmark/Export.h"
#include "quillmark/runtime/Progress.h"

namespace qm::mdlHTML2MHT {

/// The absolute URL every part's location starts with.
inline constexpr std::string_view kLocationBase = "http://localhost/";

/// Writes the archive of `HTMLFilename` to `MHTFilename` (created or
/// overwritten). An empty `Subject` becomes "Report generated from " +
/// `GetAppName()`, and the caller's variable receives that text. The mouse
/// pointer shows the hourglass while the conversion runs.
QUILLMARK_EXPORT void ConvertHTMLToMHT(const std::string& HTMLFilename, const std::string& MHTFilename,
                                       std::string& Subject);

/// ConvertHTMLToMHT, telling `progress` the parts written so far of the
/// parts found (the page, each linked page, each file it refers to).
QUILLMARK_EXPORT void ConvertHTMLToMHT(const std::string& HTMLFilename, const std::string& MHTFilename,
                                       std::string& Subject, const Progress& progress);

/// "Lib V1.6.74": the library's file name, " V" and its version.
QUILLMARK_EXPORT std::string GetAppName();

}  // namespace qm::mdlHTML2MHT
