// TextStream at the edges of the process: signals, pipes, fork and exec.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "quillmark/errors/Error.h"
#include "quillmark/runtime/FileTable.h"
#include "quillmark/runtime/TextStream.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using namespace std::chrono_literals;
using qm::IOMode;
using qm::TextStream;
using qm::test::RaisedBy;

std::string FdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// A pipe read while a handler installed without SA_RESTART interrupts the
// reading thread 1,000 times, mostly while it waits in a read: every line
// arrives, in order.
TEST(TextStreamProcess, APipeReadAcrossSignalsLosesNothing) {
  ::alarm(30);  // ends the test binary should a read wait for ever
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  struct sigaction handler {
  }, old{};
  handler.sa_handler = [](int) {};
  ::sigemptyset(&handler.sa_mask);  // and no SA_RESTART: a waiting read answers EINTR
  ASSERT_EQ(::sigaction(SIGUSR1, &handler, &old), 0);

  constexpr int kLines = 200, kSignals = 1000;
  std::atomic<int> sent{0};
  std::atomic<bool> done{false};
  const pthread_t reader = ::pthread_self();
  std::thread signaller([&] {
    for (int i = 0; i < kSignals && !done; ++i) {
      ::pthread_kill(reader, SIGUSR1);
      sent.fetch_add(1);
      std::this_thread::sleep_for(50us);
    }
    sent = kSignals;
  });
  std::thread writer([&] {
    for (int i = 0; i < kLines; ++i) {
      while (sent.load() < i * (kSignals / kLines)) std::this_thread::sleep_for(10us);
      const std::string line = "line " + std::to_string(i) + "\n";
      if (::write(fds[1], line.data(), line.size()) != static_cast<ssize_t>(line.size())) break;
    }
    ::close(fds[1]);
  });
  std::vector<std::string> lines;
  const qm::Error e = RaisedBy([&] {
    auto s = TextStream::Open(FdPath(fds[0]), IOMode::ForReading);
    while (!s->AtEndOfStream()) lines.push_back(s->ReadLine());
  });
  done = true;
  signaller.join();
  writer.join();
  ::sigaction(SIGUSR1, &old, nullptr);
  ::alarm(0);
  ::close(fds[0]);
  EXPECT_EQ(e.Number(), 0) << e.Description();
  std::vector<std::string> expected;
  for (int i = 0; i < kLines; ++i) expected.push_back("line " + std::to_string(i));
  EXPECT_EQ(lines, expected);
}

// A pipe whose reader has gone: the write raises 57 naming the broken pipe,
// and the process lives on with SIGPIPE's disposition, the thread's signal
// mask and its pending signals as they were.
TEST(TextStreamProcess, APipeWithoutReaderRaisesAndThePipeSignalStaysAway) {
  struct sigaction disposition {};
  ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &disposition), 0);
  ASSERT_EQ(disposition.sa_handler, SIG_DFL) << "the test means something only with SIGPIPE at its default";
  sigset_t maskBefore, maskAfter, pending;
  ::pthread_sigmask(SIG_SETMASK, nullptr, &maskBefore);
  for (const IOMode mode : {IOMode::ForWriting, IOMode::ForAppending}) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    auto s = TextStream::Open(FdPath(fds[1]), mode);
    ::close(fds[0]);
    ::close(fds[1]);
    s->WriteLine("nobody reads this");
    const qm::Error e = RaisedBy([&] { s->Close(); });
    EXPECT_EQ(e.Number(), 57);
    EXPECT_NE(e.Description().find("Broken pipe"), std::string::npos) << e.Description();
  }
  ::pthread_sigmask(SIG_SETMASK, nullptr, &maskAfter);
  for (int signal = 1; signal < NSIG; ++signal)
    EXPECT_EQ(::sigismember(&maskBefore, signal), ::sigismember(&maskAfter, signal)) << "signal " << signal;
  ::sigpending(&pending);
  EXPECT_EQ(::sigismember(&pending, SIGPIPE), 0);
}

// Each stream holds one descriptor on its file, close-on-exec.
TEST(TextStreamProcess, ItsDescriptorsAreCloseOnExec) {
  qm::test::ScratchDir dir;
  const std::string file = std::filesystem::canonical(dir.Path()).string() + "/f.txt";
  qm::test::WriteFile(file, "text\r\n");
  for (const auto& [path, mode] : {std::pair{file, IOMode::ForReading}, std::pair{file, IOMode::ForAppending},
                                   std::pair{std::string("/dev/null"), IOMode::ForWriting}}) {
    const auto on = [&path = path] {  // the descriptors on `path`: how many, how many close-on-exec
      std::pair<int, int> fds{0, 0};
      for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(entry.path(), ec) != path) continue;
        ++fds.first;
        fds.second += (::fcntl(std::stoi(entry.path().filename()), F_GETFD) & FD_CLOEXEC) != 0;
      }
      return fds;
    };
    const auto before = on();
    const auto stream = TextStream::Open(path, mode);
    EXPECT_EQ(on(), std::make_pair(before.first + 1, before.second + 1)) << path;
  }
}

// Streams opened before fork are the parent's, numbered files' too. In the
// child every read, write or numbered Close raises 75 telling to open the
// file again, an accessor answers, the streams go without a word, and exit()
// (which flushes the C library's buffers and closes the numbered files) writes
// nothing of the text an appending stream holds. The parent then reads and
// writes on: its files hold exactly what it wrote.
TEST(TextStreamProcess, AStreamOpenedBeforeForkIsTheParents) {
  qm::test::ScratchDir dir;
  qm::test::WriteFile(dir / "read.txt", "one\r\ntwo\r\n");
  qm::test::WriteFile(dir / "append.txt", "old\r\n");
  qm::test::WriteFile(dir / "write.txt", "old\r\n");
  auto reader = TextStream::Open(dir / "read.txt", IOMode::ForReading);
  EXPECT_EQ(reader->ReadLine(), "one");
  auto appender = TextStream::Open(dir / "append.txt", IOMode::ForAppending);
  auto writer = TextStream::Open(dir / "write.txt", IOMode::ForWriting);
  const std::int32_t whole = qm::files::FreeFile();
  qm::files::Open(whole, dir / "whole.txt", qm::files::OpenMode::Output);
  const std::int32_t log = qm::files::FreeFile();
  qm::files::Open(log, dir / "log.txt", qm::files::OpenMode::Append);
  qm::files::PrintLine(whole, "from the parent");
  std::string written;
  for (int i = 0; i < 5000; ++i) {  // more than a buffer: part of it written, a tail pending
    const std::string line = "parent line " + std::to_string(i);
    appender->WriteLine(line);
    writer->WriteLine(line);
    qm::files::PrintLine(log, line);
    written += line + "\r\n";
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(20);
    int failures = 0;
    for (const auto& use : std::vector<std::function<void()>>{
             [&] { reader->ReadLine(); }, [&] { writer->WriteLine("child"); },
             [&] { qm::files::PrintLine(log, "child"); }, [&] { qm::files::Close(whole); }}) {
      const qm::Error e = RaisedBy(use);
      failures += e.Number() != 75 || e.Description().find("again in the child") == std::string::npos;
    }
    failures += reader->Line() != 2;
    reader.reset();
    writer.reset();
    // The appending stream is left untouched, as by a child whose exec failed.
    // Under LeakSanitizer the flush alone: its check at exit cannot see the
    // parent's threads and may take what they hold for leaks.
    if (qm::test::SanitizerAllocator()) {
      std::fflush(nullptr);
      ::_exit(failures);
    }
    std::exit(failures);
  }
  int status = -1;
  ASSERT_TRUE(child > 0 && ::waitpid(child, &status, 0) == child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(reader->ReadLine(), "two");
  appender->WriteLine("last");
  appender->Close();
  writer->Close();
  qm::files::Close(whole);
  qm::files::Close(log);
  EXPECT_EQ(qm::test::ReadFile(dir / "append.txt"), "old\r\n" + written + "last\r\n");
  EXPECT_EQ(qm::test::ReadFile(dir / "write.txt"), written);
  EXPECT_EQ(qm::test::ReadFile(dir / "log.txt"), written);
  EXPECT_EQ(qm::test::ReadFile(dir / "whole.txt"), "from the parent\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 5);
}

}  // namespace
