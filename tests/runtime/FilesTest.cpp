// The runtime's files: TextStream (line ends, whole-file writes and their
// failures, and the edges of the process: signals, pipes, fork and exec) and
// the settings store (processes and threads that share it, forks, locks,
// failing calls).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "io/Executor.h"
#include "io/System.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/runtime/FileTable.h"
#include "quillmark/runtime/Settings.h"
#include "quillmark/runtime/TextStream.h"
#include "runtime/SettingSwitch.h"
#include "support/Child.h"
#include "support/ErrorOf.h"
#include "support/FaultInjection.h"
#include "support/FileSizeLimit.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qm::IOMode;
using qm::TextStream;
using qm::io::Executor;
using qm::test::ErrorOf;
using qm::test::ForkChild;
using qm::test::InChild;
using qm::test::RaisedBy;
using qm::test::Succeeded;

std::ptrdiff_t Entries(const fs::path& folder) { return std::distance(fs::directory_iterator(folder), {}); }
int OpenDescriptors() { return static_cast<int>(Entries("/proc/self/fd")); }

bool Send(int fd, char byte = 'g') { return write(fd, &byte, 1) == 1; }
char Receive(int fd) {
  char byte = 0;
  return read(fd, &byte, 1) == 1 ? byte : 0;
}

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
  const std::tuple<const char*, std::string, qm::TextFormat, Lines> files[] = {
      {"long.txt", text, qm::TextFormat::ASCII, expected},
      {"u8.txt", "a\rb\r", qm::TextFormat::SystemDefault, {"a", "b"}},
      {"u16.txt", "\xFF\xFE" + std::string("a\0\r\0b\0\r\0", 8), qm::TextFormat::SystemDefault, {"a", "b"}},
      {"edge.txt", std::string(65535, 'x') + "\ry\r", qm::TextFormat::ASCII, {std::string(65535, 'x'), "y"}}};
  for (const auto& [name, bytes, format, lines] : files) {
    qm::test::WriteFile(dir / name, bytes);
    EXPECT_EQ(AllLines(*TextStream::Open(dir / name, IOMode::ForReading, false, format)), lines) << name;
  }
  text = "first\r\n" + std::string(200000, 'x') + "\r\n";
  qm::test::WriteFile(dir / "f.txt", text);
  for (const auto& s : {TextStream::FromText(text), TextStream::Open(dir / "f.txt", IOMode::ForReading)}) {
    for (const std::uint64_t left : {200009u, 200002u, 0u}) {
      EXPECT_EQ(s->RemainingBytes(), left);
      if (left > 0) s->ReadLine();
    }
  }
}

// Line ends are CR LF; UTF-16 has its mark and surrogate pairs. A stream
// written as a whole replaces its file at Close (or when released), keeping the
// file's mode and leaving nothing beside it; appending grows the file in place;
// a device cannot be replaced and is written in place.
TEST(TextStream, OpensInEachModeWritesCrLfAndReplacesTheFileAtClose) {
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
  EXPECT_EQ(std::pair(qm::test::ReadFile(file), fs::status(file).permissions()),
            std::pair(std::string(200000, 'n') + "\r\n", fs::perms(0640)));
  TextStream::Open(file, IOMode::ForWriting)->Write("released");
  auto a = TextStream::Open(file, IOMode::ForAppending);
  a->Write("+more");
  a->Close();
  EXPECT_EQ(qm::test::ReadFile(file) + std::to_string(Entries(dir.Path())), "released+more2");
  auto device = TextStream::Open("/dev/null", IOMode::ForWriting);
  device->WriteLine("gone");
  device->Close();

  // What cannot be opened, and a mode that does not fit.
  qm::test::WriteFile(dir / "ro.txt", "x");
  chmod((dir / "ro.txt").c_str(), 0444);
  EXPECT_EQ(std::tuple(ErrorOf([&] { TextStream::Open(dir / "none.txt", IOMode::ForReading); }),
                       ErrorOf([&] { TextStream::Open(dir / "no/dir.txt", IOMode::ForWriting); }),
                       ErrorOf([&] { TextStream::Open(dir.Path().string(), IOMode::ForReading); }),
                       geteuid() == 0 || ErrorOf([&] { TextStream::Open(dir / "ro.txt", IOMode::ForWriting); }) == 70),
            std::tuple(53, 76, 75, true));
  auto closed = TextStream::Open(dir / "w.txt", IOMode::ForWriting);
  EXPECT_EQ(ErrorOf([&] { closed->ReadLine(); }), 54);
  closed->Close();
  EXPECT_EQ(ErrorOf([&] { closed->WriteLine("x"); }), 52);

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

// Where no thread can be made (as at RLIMIT_NPROC) a write that fails does so
// at once with 57 and Close fails again (a failure on the writer's helper
// thread, raised later, is AtomicFile's: AtomicFileTest). Text that fails
// only at Close (it was still buffered), or a new file that cannot be put in
// place (a folder took the name meanwhile), fails Close with 57 too, and the
// stream is closed: a write raises 52, a second Close does nothing. Always the
// old file (or the folder) stays as it was and nothing is left beside it.
TEST(TextStream, AFailedWriteOrCloseIsRaisedAndTheFilesStayWhole) {
  struct Restore {
    ~Restore() {
      Executor::FailThreadCreation(false);
      Executor::ResetLimit();
    }
  } restore;
  Executor::SetLimit(0);
  while (Executor::LiveThreads() > 0) std::this_thread::sleep_for(1ms);
  Executor::ResetLimit();
  Executor::FailThreadCreation(true);
  qm::test::ScratchDir dir;
  const fs::path file = dir / "r.txt";
  qm::test::WriteFile(file, "old\r\n");
  auto w = TextStream::Open(file.string(), IOMode::ForWriting);
  {
    qm::test::FileSizeLimit limit(1 << 20);
    const int atWrite = ErrorOf([&] {
      for (int i = 0; i < 4000; ++i) w->WriteLine(std::string(1000, 'w'));
    });
    EXPECT_EQ(std::tuple(atWrite, ErrorOf([&] { w->Close(); }), Executor::LiveThreads()), std::tuple(57, 57, 0u));
  }
  EXPECT_EQ(qm::test::ReadFile(file) + std::to_string(Entries(dir.Path())), "old\r\n1");
  w = TextStream::Open(file.string(), IOMode::ForWriting);
  w->WriteLine(std::string(4000, 'w'));
  {
    qm::test::FileSizeLimit limit(100);
    EXPECT_EQ(ErrorOf([&] { w->Close(); }), 57);
  }
  EXPECT_EQ(qm::test::ReadFile(file) + std::to_string(Entries(dir.Path())), "old\r\n1");
  EXPECT_EQ(std::pair(ErrorOf([&] { w->WriteLine("x"); }), ErrorOf([&] { w->Close(); })), std::pair(52, 0));
  w = TextStream::Open(file.string(), IOMode::ForWriting);
  w->WriteLine("new");
  fs::remove(file);
  fs::create_directory(file);
  qm::test::WriteFile(file / "inside.txt", "keep");
  EXPECT_EQ(ErrorOf([&] { w->Close(); }), 57);
  EXPECT_EQ(qm::test::ReadFile(file / "inside.txt") + std::to_string(Entries(dir.Path())), "keep1");
  EXPECT_EQ(ErrorOf([&] { w->WriteLine("x"); }), 52);

  // An append that fails halfway (a short write, then a full disk) raises 61;
  // what was not written goes out with the next write, once.
  struct ShortThenFull : qm::io::sys::Faults {
    int Writes = 0;
    int Before(qm::io::sys::Call call) noexcept override {
      if (call != qm::io::sys::Call::Write) return 0;
      ++Writes;
      return Writes == 1 ? kShort : Writes == 2 ? ENOSPC : 0;
    }
  } faults;
  const fs::path log = dir / "log.txt";
  qm::test::WriteFile(log, "old\r\n");
  auto a = TextStream::Open(log.string(), IOMode::ForAppending);
  const std::string line(100000, 'a');  // more than a buffer: written at once
  qm::io::sys::SetFaults(&faults);
  const int raised = ErrorOf([&] { a->WriteLine(line); });
  qm::io::sys::SetFaults(nullptr);
  EXPECT_EQ(raised, 61);
  a->WriteLine("b");
  a->Close();
  EXPECT_EQ(qm::test::ReadFile(log), "old\r\n" + line + "\r\nb\r\n");
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
  Lines lines, expected;  // what the reader read, what the writer meant to send
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
      expected.push_back("line " + std::to_string(i));
      const std::string line = expected.back() + "\n";
      if (::write(fds[1], line.data(), line.size()) != static_cast<ssize_t>(line.size())) break;
    }
    ::close(fds[1]);
  });
  const qm::Error e = RaisedBy([&] { lines = AllLines(*TextStream::Open(FdPath(fds[0]), IOMode::ForReading)); });
  done = true;
  signaller.join();
  writer.join();
  ::sigaction(SIGUSR1, &old, nullptr);
  ::alarm(0);
  ::close(fds[0]);
  EXPECT_EQ(e.Number(), 0) << e.Description();
  EXPECT_EQ(lines, expected);
}

// A pipe whose reader has gone: the write raises 57 naming the broken pipe,
// and the process lives on with SIGPIPE's disposition, the thread's signal
// mask and its pending signals as they were. Each stream holds one descriptor
// on its file, close-on-exec.
TEST(TextStreamProcess, APipeWithoutReaderRaisesThePipeSignalStaysAwayAndDescriptorsAreCloseOnExec) {
  struct sigaction disposition {};
  ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &disposition), 0);
  ASSERT_EQ(disposition.sa_handler, SIG_DFL) << "the test means something only with SIGPIPE at its default";
  sigset_t maskBefore, maskAfter, pending;
  ::pthread_sigmask(SIG_SETMASK, nullptr, &maskBefore);
  for (const IOMode mode : {IOMode::ForWriting, IOMode::ForAppending}) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    auto s = TextStream::Open(FdPath(fds[1]), mode);
    for (const int fd : fds) ::close(fd);
    s->WriteLine("nobody reads this");
    const std::string raised = qm::test::Described([&] { s->Close(); });
    EXPECT_TRUE(raised.starts_with("57: ") && raised.find("Broken pipe") != std::string::npos) << raised;
  }
  ::pthread_sigmask(SIG_SETMASK, nullptr, &maskAfter);
  for (int signal = 1; signal < NSIG; ++signal)
    EXPECT_EQ(::sigismember(&maskBefore, signal), ::sigismember(&maskAfter, signal)) << "signal " << signal;
  ::sigpending(&pending);
  EXPECT_EQ(::sigismember(&pending, SIGPIPE), 0);

  qm::test::ScratchDir dir;
  const std::string file = fs::canonical(dir.Path()).string() + "/f.txt";
  qm::test::WriteFile(file, "text\r\n");
  for (const auto& [path, mode] : {std::pair{file, IOMode::ForReading}, std::pair{file, IOMode::ForAppending},
                                   std::pair{std::string("/dev/null"), IOMode::ForWriting}}) {
    const auto on = [&path = path] {  // the descriptors on `path`: how many, how many close-on-exec
      std::pair<int, int> fds{0, 0};
      for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (fs::read_symlink(entry.path(), ec) != path) continue;
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
  EXPECT_TRUE(InChild([&] {
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
    std::fflush(nullptr);
    if (qm::test::SanitizerAllocator()) ::_exit(failures);
    std::exit(failures);
    return false;
  }));
  EXPECT_EQ(reader->ReadLine(), "two");
  appender->WriteLine("last");
  appender->Close();
  writer->Close();
  for (const std::int32_t n : {whole, log}) qm::files::Close(n);
  EXPECT_EQ(qm::test::ReadFile(dir / "append.txt"), "old\r\n" + written + "last\r\n");
  EXPECT_EQ(qm::test::ReadFile(dir / "write.txt"), written);
  EXPECT_EQ(qm::test::ReadFile(dir / "log.txt"), written);
  EXPECT_EQ(qm::test::ReadFile(dir / "whole.txt"), "from the parent\r\n");
  EXPECT_EQ(Entries(dir.Path()), 5);
}

TEST(Settings, ReadWriteDeleteKeysAndSections) {
  EXPECT_EQ(qm::GetSetting("App", "Sec", "Key", "default"), "default");
  qm::SaveSetting("App", "Sec", "Key", "v1");
  qm::SaveSetting("App", "Sec", "Key", "v2");
  qm::SaveSetting("App", "Sec", "Other", "o");
  qm::SaveSetting("App", "Sec2", "Key", "x");
  EXPECT_EQ(qm::GetSetting("App", "Sec", "Key") + qm::GetSetting("app", "Sec", "Key", "-"), "v2-");
  qm::DeleteSetting("App", "Sec", "Key");
  EXPECT_EQ(qm::GetSetting("App", "Sec", "Key", "gone") + qm::GetSetting("App", "Sec", "Other"), "goneo");
  qm::DeleteSetting("App", "Sec");
  EXPECT_EQ(qm::GetSetting("App", "Sec", "Other", "gone") + qm::GetSetting("App", "Sec2", "Key"), "gonex");
  const std::string odd = std::string("quote ' and \0 nul", 17);
  qm::SaveSetting("App", odd, odd, odd);
  EXPECT_EQ(qm::GetSetting("App", odd, odd), odd);
}

// An ordinary SQLite client in a process of its own: it opens the database,
// reads it and closes it (the last connection to close checkpoints the log
// and deletes it with the index).
bool OrdinaryClientOpensAndCloses(const std::string& path) {
  return InChild([&] {
    sqlite3* db = nullptr;
    const bool read = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
                      sqlite3_exec(db, "SELECT count(*) FROM settings", nullptr, nullptr, nullptr) == SQLITE_OK;
    return sqlite3_close(db) == SQLITE_OK && read;
  });
}

// Processes that open the store while others write must neither lose a
// value nor be killed: no process may drop the locks SQLite holds on its
// shared index. Children start one after another (each opening its own
// connection while the earlier ones write), every one also writes one key
// they all share and asks the logging switch, which watches that index. The
// parent writes meanwhile too.
TEST(Settings, ConcurrentProcessesKeepEveryWrite) {
  if (qm::test::ThreadSanitizer())
    GTEST_SKIP() << "the child starts threads, which ThreadSanitizer does not allow after fork";
  qm::SaveSetting("Conc", "warm", "up", "1");  // the parent's connection must not disturb the children
  (void)qm::LoggingEnabled();
  constexpr int kProcesses = 8, kKeys = 500;
  const auto at = [](int p, int k) { return std::pair("p" + std::to_string(p), "k" + std::to_string(k)); };
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(ForkChild([&] {
      for (int k = 0; k < kKeys; ++k) {
        qm::SaveSetting("Conc", at(p, k).first, at(p, k).second, std::to_string(p * 1000 + k));
        if (k % 50 == 0) qm::SaveSetting("Conc", "shared", "k", std::to_string(p));
        (void)qm::LoggingEnabled();
      }
      return true;
    }));
    for (int k = 0; k < 20; ++k) qm::SaveSetting("Conc", "parent", "k" + std::to_string(p * 20 + k), "v");
  }
  for (pid_t pid : children) EXPECT_TRUE(Succeeded(pid));  // a child killed by SIGBUS fails here
  int lost = 0;
  for (int p = 0; p < kProcesses; ++p)
    for (int k = 0; k < kKeys; ++k)
      lost += qm::GetSetting("Conc", at(p, k).first, at(p, k).second) != std::to_string(p * 1000 + k);
  for (int k = 0; k < kProcesses * 20; ++k) lost += qm::GetSetting("Conc", "parent", "k" + std::to_string(k)) != "v";
  EXPECT_EQ(lost, 0);
  EXPECT_NE(qm::GetSetting("Conc", "shared", "k", "none"), "none");
}

// A process that uses the store forks. Its child opens the store, an
// ordinary SQLite client opens and closes the database, and the child then
// writes 100 settings: a fresh process must see every one, whether the
// parent exited first (as a daemon starts) or stayed and wrote too. Were a
// connection carried across the fork, the child's locks would never reach
// the kernel; with the parent gone the client would take itself for the
// only user and delete the log the child goes on writing into. The parent
// that stays sees the child's commits through its watch and its switch.
TEST(Settings, ForkedChildAndParentKeepEveryWrite) {
  constexpr int kKeys = 100;
  const auto fill = [&](const char* section) {
    for (int k = 0; k < kKeys; ++k) qm::SaveSetting("Fork", section, "k" + std::to_string(k), "v");
  };
  const auto full = [&](const char* section) {
    int found = 0;
    for (int k = 0; k < kKeys; ++k) found += qm::GetSetting("Fork", section, "k" + std::to_string(k)) == "v";
    return found == kKeys;
  };
  for (const bool parentExits : {true, false}) {
    SCOPED_TRACE(parentExits ? "the parent exits" : "the parent stays");
    const qm::test::ScratchDir config;
    const std::string path = (config.Path() / "quillmark" / "settings.db").string();
    int ready[2], go[2], done[2];
    ASSERT_EQ(pipe(ready) | pipe(go) | pipe(done), 0);
    const pid_t parent = ForkChild([&] {
      setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
      qm::SaveSetting("Quillmark Library", "Init", "Logging", "no");
      qm::SettingsWatch watch;
      if (qm::LoggingEnabled() || !watch.Changed() || watch.Changed()) return false;
      const pid_t self = getpid();
      const pid_t child = ForkChild([&] {
        while (parentExits && getppid() == self) usleep(1000);
        if (qm::GetSetting("Fork", "none", "k", "-") != "-" || !Send(ready[1], 'r') || !Receive(go[0])) return false;
        fill("child");
        qm::SaveSetting("Quillmark Library", "Init", "Logging", "yes");
        return Send(done[1], full("child") ? 'y' : 'n');
      });
      if (parentExits) return child > 0;
      for (int fd : {ready[1], done[1]}) close(fd);
      fill("parent");
      return Succeeded(child) && watch.Changed() && qm::LoggingEnabled() && full("child") && full("parent");
    });
    for (int fd : {ready[1], done[1]}) close(fd);
    EXPECT_TRUE(!parentExits || Succeeded(parent));
    EXPECT_EQ(Receive(ready[0]), 'r');
    EXPECT_TRUE(OrdinaryClientOpensAndCloses(path));
    EXPECT_TRUE(Send(go[1]));  // go[0] still open here: never a SIGPIPE
    EXPECT_EQ(Receive(done[0]), 'y') << "the child did not read back what it wrote";
    EXPECT_TRUE(parentExits || Succeeded(parent));
    for (int fd : {ready[0], go[0], go[1], done[0]}) close(fd);
    EXPECT_TRUE(OrdinaryClientOpensAndCloses(path));
    EXPECT_TRUE(InChild([&] {
      setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
      return full("child") && (parentExits || full("parent"));
    }));
  }
}

// SQLite marks a shared index in use with a read lock on one byte of the
// "-shm" file (offset 128 in its unix file system layer); a process that
// finds it free takes the index for its own and truncates it under the
// others. POSIX locks belong to the process, so any descriptor of the
// library's own on that file, once closed, would drop the lock. Another
// process (forked first: a fork closes the store's connections) must see
// it held while this one uses the store. A writer killed mid-write loses
// the store nothing.
TEST(Settings, OtherProcessesSeeTheStoreInUseAndAWriterKilledMidWriteHarmsNothing) {
  const std::string shm = qm::SettingsStorePath() + "-shm";
  const pid_t parent = getpid();
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  const pid_t prober = ForkChild([&] {
    close(go[1]);
    const int fd = Receive(go[0]) ? open(shm.c_str(), O_RDWR | O_CLOEXEC) : -1;
    struct flock probe {
      .l_type = F_WRLCK, .l_whence = SEEK_SET, .l_start = 128, .l_len = 1, .l_pid = 0
    };
    const bool held = fd >= 0 && fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type == F_RDLCK && probe.l_pid == parent;
    close(fd);
    return held;
  });
  qm::SaveSetting("Lock", "s", "k", "v");
  (void)qm::LoggingEnabled();
  qm::SettingsWatch watch;
  (void)watch.Changed();
  (void)qm::GetSetting("Lock", "s", "k");
  EXPECT_TRUE(Send(go[1]));  // go[0] still open here: never a SIGPIPE
  for (int fd : go) close(fd);
  EXPECT_TRUE(Succeeded(prober));

  const pid_t writer = ForkChild([] {
    for (int k = 0;; ++k) qm::SaveSetting("Kill", "s", "k" + std::to_string(k), std::string(500, 'v'));
    return true;
  });
  ASSERT_GT(writer, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(writer, SIGKILL);
  waitpid(writer, nullptr, 0);
  qm::SaveSetting("Kill", "after", "k", "written");
  EXPECT_EQ(qm::GetSetting("Kill", "s", "k0") + qm::GetSetting("Kill", "after", "k"),
            std::string(500, 'v') + "written");
}

// XDG_CONFIG_HOME set to `folder` while it lives, then as it was.
struct ConfigHome {
  explicit ConfigHome(const std::string& folder) { setenv("XDG_CONFIG_HOME", folder.c_str(), 1); }
  ~ConfigHome() { was ? setenv("XDG_CONFIG_HOME", saved.c_str(), 1) : unsetenv("XDG_CONFIG_HOME"); }
  const char* was = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = was ? was : "";
};

TEST(Settings, FollowsTheStoreWhenItMovesOrIsCreatedAnew) {
  const qm::test::ScratchDir root, quick(qm::test::MemoryFolder());
  const auto remove = [](const std::string& db) {
    for (const char* part : {"", "-wal", "-shm"}) fs::remove(db + part);
  };
  std::optional<ConfigHome> home(std::in_place, root / "a");
  qm::SettingsWatch watch;
  EXPECT_TRUE(watch.Changed());
  qm::SaveSetting("Move", "s", "k", "in a");
  EXPECT_TRUE(watch.Changed());
  EXPECT_FALSE(watch.Changed());

  // Another folder: the watch answers at once and the reads go there.
  setenv("XDG_CONFIG_HOME", (root / "b").c_str(), 1);
  EXPECT_TRUE(watch.Changed());
  EXPECT_EQ(qm::GetSetting("Move", "s", "k", "none"), "none");
  qm::SaveSetting("Move", "s", "k", "in b");

  // Another process deletes the database and creates it anew.
  EXPECT_TRUE(InChild([&] {
    remove(qm::SettingsStorePath());
    qm::SaveSetting("Move", "s", "k", "new b");
    return true;
  }));
  EXPECT_EQ(qm::GetSetting("Move", "s", "k"), "new b");
  qm::SaveSetting("Move", "s", "k", "written after");
  EXPECT_TRUE(InChild([] { return qm::GetSetting("Move", "s", "k") == "written after"; }));

  // Deleted a thousand times while a watch and a thread asking the switch
  // compare index heads: each superseded connection is closed, at once or
  // once no thread compares its head, so the descriptors stay few. In
  // memory where there is a file system for it: SQLite syncs a new
  // database six times.
  setenv("XDG_CONFIG_HOME", quick.Path().c_str(), 1);
  const std::string created = qm::SettingsStorePath();
  const int descriptors = OpenDescriptors();
  std::atomic<bool> stop{false};
  std::atomic<int> failed{0};
  std::thread asker([&] {
    for (; !stop.load(); std::this_thread::yield())
      failed += qm::test::ErrorOf([] { (void)qm::LoggingEnabled(); }) != 0;
  });
  for (int i = 0; i < 1000; ++i) {
    remove(created);
    qm::SaveSetting("Move", "s", "k", std::to_string(i));
    EXPECT_TRUE(watch.Changed());
  }
  stop.store(true);
  asker.join();
  EXPECT_EQ(std::to_string(failed.load()) + " " + qm::GetSetting("Move", "s", "k"), "0 999");
  EXPECT_LE(OpenDescriptors(), descriptors + 3);

  home.reset();
  EXPECT_TRUE(watch.Changed());
}

// Threads that ask the logging switch over and over must see each flip at
// their first ask after the commit, whichever thread refreshed the kept
// answer; flips come from this process and from a child in turn. The
// askers go on asking while the child is forked (a fork waits for the
// readers of the index head it closes), and the child asks the switch too.
// They are parked only under AddressSanitizer, whose allocator a fork may
// find locked.
TEST(Settings, LoggingSwitchSeenByEveryThreadAfterEachFlip) {
  constexpr int kThreads = 4, kFlips = 40;
  const bool park = qm::test::SanitizerAllocator();
  std::atomic<int> round{-1}, answered{0}, parked{0}, wrong{0};
  std::atomic<bool> hold{false}, stop{false};
  std::vector<std::thread> askers;
  for (int t = 0; t < kThreads; ++t) {
    askers.emplace_back([&] {
      for (int seen = -1; !stop.load();) {
        if (hold.load()) {
          parked.fetch_add(1);
          while (hold.load()) std::this_thread::yield();
          parked.fetch_sub(1);
        }
        const int now = round.load();
        const bool on = qm::LoggingEnabled();  // asks between flips keep the kept answer busy
        if (now == seen) continue;
        wrong.fetch_add(on != (now % 2 == 0));
        seen = now;
        answered.fetch_add(1);
      }
    });
  }
  int flip = 0;
  for (; flip < kFlips; ++flip) {
    const char* value = flip % 2 == 0 ? "yes" : "no";
    const bool fromChild = flip % 4 == 3;
    hold.store(park && fromChild);
    while (hold.load() && parked.load() < kThreads) std::this_thread::yield();
    if (!fromChild) qm::SaveSetting("Quillmark Library", "Init", "Logging", value);
    const bool saved = !fromChild || InChild([&] {
      qm::SaveSetting("Quillmark Library", "Init", "Logging", value);
      return qm::LoggingEnabled() == (flip % 2 == 0);
    });
    hold.store(false);
    if (!saved) break;
    answered.store(0);
    round.store(flip);
    while (answered.load() < kThreads) std::this_thread::yield();
  }
  stop.store(true);
  for (auto& t : askers) t.join();
  EXPECT_EQ(flip, kFlips) << "the child could not save the switch";
  EXPECT_EQ(wrong.load(), 0);
  qm::DeleteSetting("Quillmark Library", "Init");
  EXPECT_FALSE(qm::LoggingEnabled());
}

// The settings store under failing calls: SQLite's (through a VFS wrapped
// round the default one) and the store's own (through io::sys).

// The methods of SQLite's files that the wrapper can fail, each known by the
// answer it gives when it fails: open, read, write, sync, truncate, size, lock.
constexpr int kAnswers[] = {SQLITE_CANTOPEN,       SQLITE_IOERR_READ,  SQLITE_FULL,      SQLITE_IOERR_FSYNC,
                            SQLITE_IOERR_TRUNCATE, SQLITE_IOERR_FSTAT, SQLITE_IOERR_LOCK};

// The wrapping VFS: it opens each file through the default one and gives
// it SQLite's own methods with the failing ones put in their place, so that
// the Nth call of the armed method answers the armed error. Static: a
// connection may outlive the test that opened it.
sqlite3_vfs* underlying = nullptr;
sqlite3_vfs wrapper{};
std::atomic<int> armed{0};
std::atomic<long> nth{0}, seen{0};  // nth 0: nothing armed

bool Fails(int answer) { return nth.load() != 0 && armed.load() == answer && seen.fetch_add(1) + 1 == nth.load(); }

// The default VFS's tables of methods (one for each kind of file), each
// copied with the failing methods put in place, beside the original. Never
// moved: files point at them.
struct Patch {
  sqlite3_io_methods Patched;  // first: a patched file's methods are the address of its Patch
  const sqlite3_io_methods* Real;
};
std::deque<Patch> patches;

// The method `Member` of SQLite's files, failing with `Answer` when that is armed.
template <int Answer, auto Member>
struct Failing;
template <int Answer, class... Args, int (*sqlite3_io_methods::*Member)(sqlite3_file*, Args...)>
struct Failing<Answer, Member> {
  static int Call(sqlite3_file* f, Args... args) {
    return Fails(Answer) ? Answer : (reinterpret_cast<const Patch*>(f->pMethods)->Real->*Member)(f, args...);
  }
};

const sqlite3_io_methods* Patched(const sqlite3_io_methods* real) {
  for (const Patch& patch : patches)
    if (patch.Real == real) return &patch.Patched;
  Patch& patch = patches.emplace_back(Patch{*real, real});
  patch.Patched.xRead = Failing<SQLITE_IOERR_READ, &sqlite3_io_methods::xRead>::Call;
  patch.Patched.xWrite = Failing<SQLITE_FULL, &sqlite3_io_methods::xWrite>::Call;
  patch.Patched.xTruncate = Failing<SQLITE_IOERR_TRUNCATE, &sqlite3_io_methods::xTruncate>::Call;
  patch.Patched.xSync = Failing<SQLITE_IOERR_FSYNC, &sqlite3_io_methods::xSync>::Call;
  patch.Patched.xFileSize = Failing<SQLITE_IOERR_FSTAT, &sqlite3_io_methods::xFileSize>::Call;
  patch.Patched.xLock = Failing<SQLITE_IOERR_LOCK, &sqlite3_io_methods::xLock>::Call;
  return &patch.Patched;
}

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
  file->pMethods = nullptr;
  if (Fails(SQLITE_CANTOPEN)) return SQLITE_CANTOPEN;
  const int rc = underlying->xOpen(underlying, name, file, flags, outFlags);
  if (file->pMethods) file->pMethods = Patched(file->pMethods);
  return rc;
}

// The wrapper as the default VFS while it lives.
struct Installed {
  Installed() {
    underlying = sqlite3_vfs_find(nullptr);
    wrapper = *underlying;
    wrapper.zName = "qm-faults";
    wrapper.xOpen = &Open;
    sqlite3_vfs_register(&wrapper, 1);
  }
  ~Installed() {
    sqlite3_vfs_register(underlying, 1);
    sqlite3_vfs_unregister(&wrapper);
  }
};

// The store in a folder of its own for one test, with a hang bounded.
class SettingsFaults : public ::testing::Test {
 protected:
  void SetUp() override { alarm(60); }
  void TearDown() override { alarm(0); }
  qm::test::ScratchDir config_;
  ConfigHome home_{config_.Path()};
};

// A job that either works or raises the store's error naming its file.
void ExpectCleanEnd(const std::function<void()>& job) {
  const qm::Error e = RaisedBy(job);
  EXPECT_TRUE(e.Number() == 0 || (e.Number() == qm::ERR_PathFileAccess &&
                                  e.Description().find(qm::SettingsStorePath()) != std::string::npos))
      << e.Number() << ": " << e.Description();
}

const std::function<void()> kJobs[] = {
    [] { qm::SaveSetting("Faults", "job", "k", "v"); },
    [] { (void)qm::GetSetting("Faults", "kept", "k0"); },
    [] { qm::DeleteSetting("Faults", "job", "k"); },
};

// Each failure of SQLite's calls, at each of its places in a job, on a
// connection opened for the job and on one already open: the job works or
// raises the store's error, what was saved before stays, and the failed
// connection's descriptors are released.
TEST_F(SettingsFaults, FailedCallOfSQLiteEndsCleanly) {
  const Installed installed;
  qm::detail::CloseSettingsConnections();  // the store's next connection goes through the wrapper
  const auto Key = [](int k) { return "k" + std::to_string(k); };
  for (int k = 0; k < 3; ++k) qm::SaveSetting("Faults", "kept", Key(k), std::string(k * 3000, 'x'));
  const int descriptors = OpenDescriptors();
  int runs = 0;
  for (const int answer : kAnswers)
    for (const bool fresh : {true, false})
      for (const auto& job : kJobs)
        for (long n = 1;; ++n) {
          ASSERT_LT(n, 200) << "no end to the calls";
          if (fresh) qm::detail::CloseSettingsConnections();
          armed = answer;
          seen = 0;
          nth = n;
          ExpectCleanEnd(job);
          nth = 0;
          ++runs;
          for (int k = 0; k < 3; ++k) ASSERT_EQ(qm::GetSetting("Faults", "kept", Key(k)), std::string(k * 3000, 'x'));
          ASSERT_LE(OpenDescriptors(), descriptors);
          if (seen < n) break;  // the job ran past every such call
        }
  EXPECT_GT(runs, 100);
  qm::detail::CloseSettingsConnections();
}

// The store's own calls (the folder it creates, the file it looks at),
// failed one by one with an I/O error.
TEST_F(SettingsFaults, FailedCallOfTheSystemEndsCleanly) {
  for (const auto& job : kJobs) {
    for (long n = 1;; ++n) {
      ASSERT_LT(n, 50);
      setenv("XDG_CONFIG_HOME", (config_.Path() / std::to_string(n) / "deeper").c_str(), 1);
      qm::test::FailNthCall fault(n, EIO);
      ExpectCleanEnd(job);
      if (!fault.Fired()) {
        EXPECT_GT(n, 3) << "the folder and the file are looked at through io::sys";
        break;
      }
    }
  }
  qm::SaveSetting("Faults", "after", "k", "v");
  EXPECT_EQ(qm::GetSetting("Faults", "after", "k"), "v");
}

}  // namespace
