#pragma once
// Library identity and the diagnostic log.

#include <string>
#include <string_view>

#include "quillmark/Export.h"
#include "quillmark/Version.h"

namespace qm {

/// "Quillmark Library " and the version, e.g. "Quillmark Library 1.6.74"
inline constexpr std::string_view kLibraryTitle = "Quillmark Library " QUILLMARK_VERSION_STRING;
/// The version, "major.minor.patch" (kVersionString)
inline constexpr std::string_view kLibraryVersion = kVersionString;
/// The product name used in the error reporter's log file name.
inline constexpr std::string_view kProductName = "Quillmark Libraries";
/// The project name, first piece of errors the library raises itself.
inline constexpr std::string_view kProjectName = "QuillmarkLibrary";
/// Settings application of the library's own switches.
inline constexpr std::string_view kSettingsApp = "Quillmark Library";

/// The temporary folder: $TEMP, else $TMPDIR, else /tmp.
QUILLMARK_EXPORT std::string TempFolder();

/// The diagnostic log file: `lib.log` in the temporary folder.
QUILLMARK_EXPORT std::string LogFilePath();

/// True when the setting "Quillmark Library"/"Init"/"Logging" is "yes" in any
/// case, as the store holds it now (a change committed by any process shows
/// at the next call). Cheap enough to ask before every line: the value is
/// read again only when the store changed. Lets a caller skip building lines.
QUILLMARK_EXPORT bool LoggingEnabled();

/// Appends Text and CR LF to the diagnostic log when the setting
/// "Quillmark Library"/"Init"/"Logging" is "yes" in any case. The setting is
/// read on every call. A log that cannot be written raises, with the
/// "[LibMain]Public Sub QMWriteLog(...)" element in the trail.
QUILLMARK_EXPORT void QMWriteLog(const std::string& Text);

}  // namespace qm
