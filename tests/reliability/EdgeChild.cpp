// The end of a process's life, run in a process of its own by EdgeTest:
// logging from a static destructor and from a thread still logging at exit.
// Exit status 0 when main ran to its end; the test checks the log.

#include <chrono>
#include <cstdio>
#include <thread>

#include "quillmark/errors/Error.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/runtime/Settings.h"

namespace {

// Made before main, so destroyed after everything the library made in main.
struct LogsWhenDestroyed {
  bool Armed = false;
  ~LogsWhenDestroyed() {
    if (Armed) qm::QMWriteLog("written by a static destructor");
  }
} lastWords;

}  // namespace

int main() {
  try {
    qm::SaveSetting("Quillmark Library", "Init", "Logging", "yes");
    qm::QMWriteLog("written by main");
  } catch (const qm::Error& e) {
    std::fprintf(stderr, "error %d: %s\n", e.Number(), e.Description().c_str());
    return 1;
  }
  lastWords.Armed = true;
  std::thread([] {
    for (;;) qm::QMWriteLog("written by a thread at exit");
  }).detach();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return 0;  // exit runs the static destructors while the thread logs
}
