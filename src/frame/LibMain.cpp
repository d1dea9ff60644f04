#include "quillmark/frame/LibMain.h"

#include <cstdlib>

#include "quillmark/frame/Frame.h"
#include "quillmark/runtime/Conversions.h"
#include "quillmark/runtime/TextStream.h"
#include "runtime/SettingSwitch.h"

namespace qm {
std::string TempFolder() {
  for (const char* name : {"TEMP", "TMPDIR"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return "/tmp";
}

std::string LogFilePath() {
#ifdef _WIN32
  return "c:\\lib.log";
#else
  std::string folder = TempFolder();
  if (folder.back() != '/') folder += '/';
  return folder + "lib.log";
#endif
}

namespace {
// Read again only when the store may have changed: asking costs a few loads.
constinit detail::SettingSwitch logging(kSettingsApp, "Init", "Logging", "yes");
}  // namespace

bool LoggingEnabled() { return logging.On(); }

void QMWriteLog(const std::string& Text) {
  QM_FRAME_TRY {
    if (!LoggingEnabled()) return;
    // A stream of its own, outside the numbered-file table: threads logging
    // at once never meet, and a thread still logging at exit is not cut off
    // when the table's files are closed.
    const TextStreamPtr log = TextStream::Open(LogFilePath(), IOMode::ForAppending);
    log->WriteLine(Text);
    log->Close();
  }
  QM_FRAME_CATCH("LibMain", "Public Sub QMWriteLog", Text);
}

}  // namespace qm
