// Scenarios at the edges of a process's life, each run in a process of its
// own by EdgeTest: `edge-child SCENARIO FOLDER`. Exit status 0 when the
// scenario ran to its end; what it wrote is checked by the test.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "quillmark/errors/Error.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/runtime/FileTable.h"
#include "quillmark/runtime/Settings.h"

namespace {

// Made before main, so destroyed after everything the library made in main.
struct LogsWhenDestroyed {
  bool Armed = false;
  ~LogsWhenDestroyed() {
    if (Armed) qm::QMWriteLog("written by a static destructor");
  }
} lastWords;

// Logging from a static destructor and from a thread still logging at exit.
int ExitLog() {
  qm::SaveSetting("Quillmark Library", "Init", "Logging", "yes");
  qm::QMWriteLog("written by main");
  lastWords.Armed = true;
  std::thread([] {
    for (;;) qm::QMWriteLog("written by a thread at exit");
  }).detach();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return 0;  // exit runs the static destructors while the thread logs
}

// Numbered files open when the process forks: one written as a whole, one
// appended to with lines not yet written. In the child a write raises 75, as
// does Close, saying why; its exit writes nothing, and the parent's lines
// reach each file once. (ForkMatrix covers a child that exits at once.)
int ForkChildCalls(const std::string& folder) {
  const std::int32_t whole = qm::files::FreeFile();
  qm::files::Open(whole, folder + "/closed-in-child.txt", qm::files::OpenMode::Output);
  qm::files::PrintLine(whole, "from the parent");
  const std::int32_t log = qm::files::FreeFile();
  qm::files::Open(log, folder + "/appended.txt", qm::files::OpenMode::Append);
  for (int i = 0; i < 100; ++i) qm::files::PrintLine(log, "parent");
  const pid_t child = fork();
  if (child == 0) {
    int status = 0;
    try {
      qm::files::PrintLine(log, "child");
    } catch (const qm::Error& e) {
      status += e.Number() == 75 ? 1 : 0;
    }
    try {
      qm::files::Close(whole);
    } catch (const qm::Error& e) {
      std::printf("%d %s\n", e.Number(), e.Description().c_str());
      status += 2;
    }
    std::exit(status == 3 ? 6 : 7);  // static destructors run
  }
  int status = 0;
  waitpid(child, &status, 0);
  qm::files::Close(whole);
  qm::files::Close(log);
  return WIFEXITED(status) && WEXITSTATUS(status) == 6 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string scenario = argv[1];
  const std::string folder = argv[2];
  try {
    if (scenario == "exit-log") return ExitLog();
    if (scenario == "fork-child-calls") return ForkChildCalls(folder);
  } catch (const qm::Error& e) {
    std::fprintf(stderr, "error %d: %s\n", e.Number(), e.Description().c_str());
    return 1;
  }
  return 2;
}
