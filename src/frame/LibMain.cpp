#include "quillmark/frame/LibMain.h"

#include <cstdlib>

#include "quillmark/frame/Frame.h"
#include "quillmark/runtime/Conversions.h"
#include "quillmark/runtime/FileTable.h"
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
    // A number of its own, so that threads logging at once never meet.
    const files::Reservation reserved = files::Reservation::Take();
    const std::int32_t number = reserved.Number();
    files::Open(number, LogFilePath(), files::OpenMode::Append);
    try {
      files::PrintLine(number, Text);
    } catch (...) {
      files::Close(number);
      throw;
    }
    files::Close(number);
  }
  QM_FRAME_CATCH("LibMain", "Public Sub QMWriteLog", Text);
}

}  // namespace qm
