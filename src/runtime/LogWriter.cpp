// The runtime's half of the diagnostic log: the logging switch and the file
// append behind QMWriteLog, handed to the frame below through the linker
// section qm_log_writer (frame/LogWriter.h). A static link takes this file
// only when something refers to it: a program linking the static library
// names qm_log_writer_anchor to the linker (CMakeLists.txt).

#include "frame/LogWriter.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/runtime/TextStream.h"
#include "runtime/SettingSwitch.h"

namespace qm {
namespace {

// Read again only when the store may have changed: asking costs a few loads.
constinit detail::SettingSwitch logging(kSettingsApp, "Init", "Logging", "yes");

bool Enabled() { return logging.On(); }

void Append(const std::string& file, const std::string& line) {
  // A stream of its own, outside the numbered-file table: threads logging
  // at once never meet, and a thread still logging at exit is not cut off
  // when the table's files are closed.
  const TextStreamPtr log = TextStream::Open(file, IOMode::ForAppending);
  log->WriteLine(line);
  log->Close();
}

[[gnu::section("qm_log_writer"), gnu::used]] constexpr frame::LogWriter kLogWriter{&Enabled, &Append};

}  // namespace
}  // namespace qm

extern "C" const char qm_log_writer_anchor = 0;
