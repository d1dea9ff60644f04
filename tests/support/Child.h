#pragma once
// A body run in a forked child bounded by an alarm (a child that hangs ends
// there): the child exits 0 when the body returns true, 1 when it returns
// false or throws. Succeeded waits for a child: true when it exited 0.

#include <sys/wait.h>
#include <unistd.h>

namespace qm::test {

inline pid_t ForkChild(auto body, unsigned seconds = 20) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(seconds);
    bool ok = false;
    try {
      ok = body();
    } catch (...) {}
    ::_exit(ok ? 0 : 1);
  }
  return pid;
}

inline bool Succeeded(pid_t child) {
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

inline bool InChild(auto body, unsigned seconds = 20) { return Succeeded(ForkChild(body, seconds)); }

}  // namespace qm::test
