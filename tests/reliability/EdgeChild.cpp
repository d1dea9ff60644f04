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

// A numbered file written as a whole holds megabytes when the process forks;
// the child exits at once through exit() (as after a failed exec). It must
// neither hang nor write the parent's lines; the parent then finishes the file.
int ForkNumbered(const std::string& folder) {
  const std::string path = folder + "/numbered.txt";
  const std::int32_t n = qm::files::FreeFile();
  qm::files::Open(n, path, qm::files::OpenMode::Output);
  const std::string line(100, 'p');
  for (int i = 0; i < 30000; ++i) qm::files::PrintLine(n, line);
  const pid_t child = fork();
  if (child == 0) std::exit(3);  // static destructors run here
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 3) return 1;
  for (int i = 0; i < 10; ++i) qm::files::PrintLine(n, "last");
  qm::files::Close(n);
  return 0;
}

// An explicit Close in the child raises a clear error and publishes nothing.
int ForkClose(const std::string& folder) {
  const std::int32_t n = qm::files::FreeFile();
  qm::files::Open(n, folder + "/closed-in-child.txt", qm::files::OpenMode::Output);
  qm::files::PrintLine(n, "from the parent");
  const pid_t child = fork();
  if (child == 0) {
    try {
      qm::files::Close(n);
    } catch (const qm::Error& e) {
      std::printf("%d %s\n", e.Number(), e.Description().c_str());
      std::fflush(stdout);
      _exit(4);
    }
    _exit(5);
  }
  int status = 0;
  waitpid(child, &status, 0);
  qm::files::Close(n);
  return WIFEXITED(status) && WEXITSTATUS(status) == 4 ? 0 : 1;
}

// A file opened for appending holds unwritten lines when the process forks;
// the child's write raises and writes nothing, its exit writes nothing, and
// the parent's lines reach the file once.
int ForkAppend(const std::string& folder) {
  const std::int32_t n = qm::files::FreeFile();
  qm::files::Open(n, folder + "/appended.txt", qm::files::OpenMode::Append);
  for (int i = 0; i < 100; ++i) qm::files::PrintLine(n, "parent");
  const pid_t child = fork();
  if (child == 0) {
    try {
      qm::files::PrintLine(n, "child");
    } catch (const qm::Error& e) {
      std::exit(e.Number() == 75 ? 6 : 7);  // static destructors run
    }
    std::exit(8);
  }
  int status = 0;
  waitpid(child, &status, 0);
  qm::files::Close(n);
  return WIFEXITED(status) && WEXITSTATUS(status) == 6 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string scenario = argv[1];
  const std::string folder = argv[2];
  try {
    if (scenario == "exit-log") return ExitLog();
    if (scenario == "fork-numbered") return ForkNumbered(folder);
    if (scenario == "fork-close") return ForkClose(folder);
    if (scenario == "fork-append") return ForkAppend(folder);
  } catch (const qm::Error& e) {
    std::fprintf(stderr, "error %d: %s\n", e.Number(), e.Description().c_str());
    return 1;
  }
  return 2;
}
