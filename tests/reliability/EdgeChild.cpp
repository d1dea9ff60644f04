// The end of a process's life, run in a process of its own by EdgeTest:
// logging from a static destructor and from a thread still logging at exit.
// Exit status 0 when main ran to its end; the test checks the log.

#include <chrono>
#include <thread>

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
  qm::SaveSetting("Quillmark Library", "Init", "Logging", "yes");  // an error ends the program, its text shown
  qm::QMWriteLog("written by main");
  lastWords.Armed = true;
  std::thread([] {
    for (;;) qm::QMWriteLog("written by a thread at exit");
  }).detach();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return 0;  // exit runs the static destructors while the thread logs
}
