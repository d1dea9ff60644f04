#pragma once
// What QMWriteLog needs from the runtime above the frame: the logging switch
// (a setting in the settings store) and a text file to append to. The
// runtime places one LogWriter in the linker section qm_log_writer
// (src/runtime/LogWriter.cpp):
//
//   [[gnu::section("qm_log_writer"), gnu::used]] constexpr frame::LogWriter kWriter{...};
//
// and the frame reads it from there (LibMain.cpp). The writer is in place
// before any code runs, so the log works from the first static initialiser
// to the last static destructor, with no registration state.

#include <string>

namespace qm::frame {

struct LogWriter {
  /// True when the logging switch is on, as the settings store holds it now.
  bool (*Enabled)();
  /// Appends `line` and CR LF to the text file `file`; raises when it cannot.
  void (*Append)(const std::string& file, const std::string& line);
};

}  // namespace qm::frame
