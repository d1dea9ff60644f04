// TextStream: line ends, whole-file writes and their failures, and the
// edges of the process (signals, pipes, fork and exec).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "io/Executor.h"
#include "io/System.h"
#include "quillmark/errors/Error.h"
#include "quillmark/runtime/FileTable.h"
#include "quillmark/runtime/TextStream.h"
#include "support/ErrorOf.h"
#include "support/FileSizeLimit.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qm::IOMode;
using qm::TextStream;
using qm::io::Executor;
using qm::test::ErrorOf;
using qm::test::RaisedBy;

std::ptrdiff_t Entries(const fs::path& folder) { return std::distance(fs::directory_iterator(folder), {}); }

using Lines = std::vector<std::string>;

Lines AllLines(TextStream& s) {
  Lines lines;
  while (!s.AtEndOfStream()) lines.push_back(s.ReadLine());
  return lines;
}

// Every kind of line end; long lines, and CR LF pairs straddling the 64 KiB
// read boundary at every offset near it. A CR alone ends the last line, in
// UTF-8, in UTF-16, as the very last byte of the first read and as the file's
// last byte. The bytes remaining bound the lines to come.
TEST(TextStream, ReadsEveryKindOfLineEndAcrossBufferBoundaries) {
  auto s = TextStream::FromText("a\r\nb\nc\rd\r\n\r\ne");
  EXPECT_EQ(AllLines(*s), (Lines{"a", "b", "c", "d", "", "e"}));
  EXPECT_EQ(ErrorOf([&] { s->ReadLine(); }), 62);
  EXPECT_TRUE(TextStream::FromText("")->AtEndOfStream());
  EXPECT_EQ(AllLines(*TextStream::FromText("a\rb\r")), (Lines{"a", "b"}));

  qm::test::ScratchDir dir;
  std::string text;
  Lines expected;
  for (int i = 0; text.size() < 300000; ++i) {
    std::string line(static_cast<std::size_t>(65530 + i % 9), static_cast<char>('a' + i % 26));
    if (i == 2) line = std::string(200000, 'x');
    expected.push_back(line);
    text += line + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\r" : "\n");
  }
  qm::test::WriteFile(dir / "long.txt", text);
  qm::test::WriteFile(dir / "u8.txt", "a\rb\r");
  qm::test::WriteFile(dir / "u16.txt", "\xFF\xFE" + std::string("a\0\r\0b\0\r\0", 8));
  qm::test::WriteFile(dir / "edge.txt", std::string(65535, 'x') + "\ry\r");
  const std::tuple<const char*, qm::TextFormat, Lines> files[] = {
      {"long.txt", qm::TextFormat::ASCII, expected},
      {"u8.txt", qm::TextFormat::SystemDefault, {"a", "b"}},
      {"u16.txt", qm::TextFormat::SystemDefault, {"a", "b"}},
      {"edge.txt", qm::TextFormat::ASCII, {std::string(65535, 'x'), "y"}}};
  for (const auto& [name, format, lines] : files)
    EXPECT_EQ(AllLines(*TextStream::Open(dir / name, IOMode::ForReading, false, format)), lines) << name;
  text = "first\r\n" + std::string(200000, 'x') + "\r\n";
  qm::test::WriteFile(dir / "f.txt", text);
  for (const auto& s : {TextStream::FromText(text), TextStream::Open(dir / "f.txt", IOMode::ForReading)}) {
    for (const std::uint64_t left : {200009u, 200002u}) {
      EXPECT_EQ(s->RemainingBytes(), left);
      s->ReadLine();
    }
    EXPECT_EQ(s->RemainingBytes(), 0u);
  }
}

// Line ends are CR LF; UTF-16 has its mark and surrogate pairs. A stream
// written as a whole replaces its file at Close (or when released), keeping the
// file's mode and leaving nothing beside it; appending grows the file in place;
// a device cannot be replaced and is written in place.
TEST(TextStream, WritesCrLfInUtf8AndUtf16AndReplacesTheFileAtClose) {
  qm::test::ScratchDir dir;
  auto s = TextStream::Open(dir / "a.txt", IOMode::ForWriting);
  s->WriteLine("h\xC3\xA9");
  s->WriteBlankLines(2);
  s->Write("end");
  s->Close();
  EXPECT_EQ(qm::test::ReadFile(dir / "a.txt"), "h\xC3\xA9\r\n\r\n\r\nend");
  TextStream::Open(dir / "u.txt", IOMode::ForWriting, true, qm::TextFormat::Unicode)
      ->WriteLine("\xC3\xA9\xF0\x9F\x98\x80");  // é and an emoji (a surrogate pair)
  EXPECT_EQ(qm::test::ReadFile(dir / "u.txt"), std::string("\xFF\xFE\xE9\x00\x3D\xD8\x00\xDE\r\x00\n\x00", 12));
  for (auto format : {qm::TextFormat::Unicode, qm::TextFormat::SystemDefault})
    EXPECT_EQ(AllLines(*TextStream::Open(dir / "u.txt", IOMode::ForReading, false, format)),
              Lines{"\xC3\xA9\xF0\x9F\x98\x80"});

  const std::string file = dir / "a.txt";
  chmod(file.c_str(), 0640);
  auto w = TextStream::Open(file, IOMode::ForWriting);
  w->WriteLine(std::string(200000, 'n'));  // more than one buffer: written out before Close
  EXPECT_EQ(qm::test::ReadFile(file), "h\xC3\xA9\r\n\r\n\r\nend");
  w->Close();
  EXPECT_EQ(qm::test::ReadFile(file), std::string(200000, 'n') + "\r\n");
  struct stat info {};
  stat(file.c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  TextStream::Open(file, IOMode::ForWriting)->Write("released");
  auto a = TextStream::Open(file, IOMode::ForAppending);
  a->Write("+more");
  a->Close();
  EXPECT_EQ(qm::test::ReadFile(file) + std::to_string(Entries(dir.Path())), "released+more2");
  auto device = TextStream::Open("/dev/null", IOMode::ForWriting);
  device->WriteLine("gone");
  device->Close();
}

// The text goes to the file on a thread of its own: a write that fails there
// is raised by a later write or by Close. Where no thread can be made (as at
// RLIMIT_NPROC) the write fails at once and Close fails again. Text that fails
// only at Close (it was still buffered), or a new file that cannot be put in
// place (a folder took the name meanwhile), fails Close with 57 too, and the
// stream is closed: a write raises 52, a second Close does nothing. Always the
// old file (or the folder) stays as it was and nothing is left beside it.
TEST(TextStream, AFailedWriteOrCloseIsRaisedAndTheOldFileStays) {
  struct Restore {
    ~Restore() {
      Executor::FailThreadCreation(false);
      Executor::ResetLimit();
    }
  } restore;
  for (const bool noThread : {false, true}) {
    SCOPED_TRACE(noThread ? "no thread to be had" : "a helper thread");
    if (noThread) {
      Executor::SetLimit(0);
      while (Executor::LiveThreads() > 0) std::this_thread::sleep_for(1ms);
      Executor::ResetLimit();
      Executor::FailThreadCreation(true);
    }
    qm::test::ScratchDir dir;
    qm::test::WriteFile(dir / "r.txt", "old\r\n");
    int atWrite = 0, atClose = 0;
    {
      qm::test::FileSizeLimit limit(1 << 20);
      auto w = TextStream::Open(dir / "r.txt", IOMode::ForWriting);
      atWrite = ErrorOf([&] {
        for (int i = 0; i < 4000; ++i) w->WriteLine(std::string(1000, 'w'));
      });
      atClose = ErrorOf([&] { w->Close(); });
    }
    EXPECT_EQ(atWrite != 0 ? atWrite : atClose, 57);
    if (noThread) EXPECT_EQ(std::tuple(atWrite, atClose, Executor::LiveThreads()), std::tuple(57, 57, 0u));
    EXPECT_EQ(qm::test::ReadFile(dir / "r.txt") + std::to_string(Entries(dir.Path())), "old\r\n1");
  }
  qm::test::ScratchDir dir;
  const fs::path file = dir / "r.txt";
  qm::test::WriteFile(file, "old\r\n");
  auto w = TextStream::Open(file.string(), IOMode::ForWriting);
  w->WriteLine(std::string(4000, 'w'));
  {
    qm::test::FileSizeLimit limit(100);
    EXPECT_EQ(ErrorOf([&] { w->Close(); }), 57);
  }
  EXPECT_EQ(qm::test::ReadFile(file) + std::to_string(Entries(dir.Path())), "old\r\n1");
  EXPECT_EQ(ErrorOf([&] { w->WriteLine("x"); }), 52);
  EXPECT_EQ(ErrorOf([&] { w->Close(); }), 0);
  w = TextStream::Open(file.string(), IOMode::ForWriting);
  w->WriteLine("new");
  fs::remove(file);
  fs::create_directory(file);
  qm::test::WriteFile(file / "inside.txt", "keep");
  EXPECT_EQ(ErrorOf([&] { w->Close(); }), 57);
  EXPECT_EQ(qm::test::ReadFile(file / "inside.txt") + std::to_string(Entries(dir.Path())), "keep1");
  EXPECT_EQ(ErrorOf([&] { w->WriteLine("x"); }), 52);
}

// An append that fails halfway (a short write, then a full disk) raises 61;
// what was not written goes out with the next write, once.
TEST(TextStream, AnAppendThatFailsHalfwayGoesOnWhereItStopped) {
  struct ShortThenFull : qm::io::sys::Faults {
    int Writes = 0;
    int Before(qm::io::sys::Call call) noexcept override {
      if (call != qm::io::sys::Call::Write) return 0;
      ++Writes;
      return Writes == 1 ? kShort : Writes == 2 ? ENOSPC : 0;
    }
  } faults;
  qm::test::ScratchDir dir;
  const fs::path file = dir / "log.txt";
  qm::test::WriteFile(file, "old\r\n");
  auto a = TextStream::Open(file.string(), IOMode::ForAppending);
  const std::string line(100000, 'a');  // more than a buffer: written at once
  qm::io::sys::SetFaults(&faults);
  const int raised = ErrorOf([&] { a->WriteLine(line); });
  qm::io::sys::SetFaults(nullptr);
  EXPECT_EQ(raised, 61);
  a->WriteLine("b");
  a->Close();
  EXPECT_EQ(qm::test::ReadFile(file), "old\r\n" + line + "\r\nb\r\n");
}

TEST(TextStream, OpenErrorsAndModes) {
  qm::test::ScratchDir dir;
  qm::test::WriteFile(dir / "ro.txt", "x");
  chmod((dir / "ro.txt").c_str(), 0444);
  EXPECT_EQ(std::tuple(ErrorOf([&] { TextStream::Open(dir / "none.txt", IOMode::ForReading); }),
                       ErrorOf([&] { TextStream::Open(dir / "no/dir.txt", IOMode::ForWriting); }),
                       ErrorOf([&] { TextStream::Open(dir.Path().string(), IOMode::ForReading); }),
                       geteuid() == 0 || ErrorOf([&] { TextStream::Open(dir / "ro.txt", IOMode::ForWriting); }) == 70),
            std::tuple(53, 76, 75, true));
  auto w = TextStream::Open(dir / "w.txt", IOMode::ForWriting);
  EXPECT_EQ(ErrorOf([&] { w->ReadLine(); }), 54);
  w->Close();
  EXPECT_EQ(ErrorOf([&] { w->WriteLine("x"); }), 52);

  // Numbered files.
  const auto n = qm::files::FreeFile();
  qm::files::Open(n, dir / "log.txt", qm::files::OpenMode::Append);
  EXPECT_NE(qm::files::FreeFile(), n);
  EXPECT_EQ(ErrorOf([&] { qm::files::Open(n, dir / "x.txt", qm::files::OpenMode::Output); }), 55);
  qm::files::PrintLine(n, "one");
  qm::files::Close(n);
  EXPECT_EQ(ErrorOf([&] { qm::files::PrintLine(n, "two"); }), 52);
  qm::files::Open(n, dir / "log.txt", qm::files::OpenMode::Input);
  EXPECT_EQ(qm::files::LineInput(n), "one");
  EXPECT_TRUE(qm::files::Eof(n));
  qm::files::Close(n);
  EXPECT_EQ(ErrorOf([] { qm::files::Open(0, "x", qm::files::OpenMode::Input); }), 52);
}

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
  Lines lines, expected;
  const qm::Error e = RaisedBy([&] { lines = AllLines(*TextStream::Open(FdPath(fds[0]), IOMode::ForReading)); });
  done = true;
  signaller.join();
  writer.join();
  ::sigaction(SIGUSR1, &old, nullptr);
  ::alarm(0);
  ::close(fds[0]);
  EXPECT_EQ(e.Number(), 0) << e.Description();
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
    const std::string raised = qm::test::Described([&] { s->Close(); });
    EXPECT_TRUE(raised.starts_with("57: ") && raised.find("Broken pipe") != std::string::npos) << raised;
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
  for (const char* name : {"append.txt", "write.txt"}) qm::test::WriteFile(dir / name, "old\r\n");
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
