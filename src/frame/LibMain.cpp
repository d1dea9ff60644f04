#include "quillmark/frame/LibMain.h"

#include <cstdlib>

#include "frame/LogWriter.h"
#include "quillmark/frame/Frame.h"

// The bounds of the section qm_log_writer (frame/LogWriter.h); weak, so that
// they are null when no writer is linked in and the log stays off.
extern "C" {
extern const qm::frame::LogWriter __start_qm_log_writer[] __attribute__((weak, visibility("hidden")));
extern const qm::frame::LogWriter __stop_qm_log_writer[] __attribute__((weak, visibility("hidden")));
}

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
const frame::LogWriter* Writer() {
  const frame::LogWriter* first = __start_qm_log_writer;
  return first != nullptr && first != static_cast<const frame::LogWriter*>(__stop_qm_log_writer) ? first : nullptr;
}
}  // namespace

bool LoggingEnabled() {
  const frame::LogWriter* writer = Writer();
  return writer && writer->Enabled();
}

void QMWriteLog(const std::string& Text) {
  QM_FRAME_TRY {
    const frame::LogWriter* writer = Writer();
    if (!writer || !writer->Enabled()) return;
    writer->Append(LogFilePath(), Text);
  }
  QM_FRAME_CATCH("LibMain", "Public Sub QMWriteLog", Text);
}

}  // namespace qm
