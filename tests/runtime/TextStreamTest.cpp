#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

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
using qm::IOMode;
using qm::TextStream;
using qm::io::Executor;

using qm::test::ErrorOf;

std::ptrdiff_t Entries(const fs::path& folder) { return std::distance(fs::directory_iterator(folder), {}); }

std::vector<std::string> AllLines(TextStream& s) {
  std::vector<std::string> lines;
  while (!s.AtEndOfStream()) lines.push_back(s.ReadLine());
  return lines;
}

// Every kind of line end; long lines, and CR LF pairs straddling the 64 KiB
// read boundary at every offset near it. A CR alone ends the last line, in
// UTF-8, in UTF-16, as the very last byte of the first read and as the file's
// last byte.
TEST(TextStream, ReadsEveryKindOfLineEndAcrossBufferBoundaries) {
  using Lines = std::vector<std::string>;
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
}

TEST(TextStream, WritesCrLfInUtf8AndUtf16) {
  qm::test::ScratchDir dir;
  auto s = TextStream::Open(dir / "a.txt", IOMode::ForWriting);
  s->WriteLine("h\xC3\xA9");
  s->WriteBlankLines(2);
  s->Write("end");
  s->Close();
  EXPECT_EQ(qm::test::ReadFile(dir / "a.txt"), "h\xC3\xA9\r\n\r\n\r\nend");
  TextStream::Open(dir / "u.txt", IOMode::ForWriting, true, qm::TextFormat::Unicode)
      ->WriteLine("\xC3\xA9\xF0\x9F\x98\x80");  // é and an emoji (a surrogate pair); published on release
  EXPECT_EQ(qm::test::ReadFile(dir / "u.txt"), std::string("\xFF\xFE\xE9\x00\x3D\xD8\x00\xDE\r\x00\n\x00", 12));
  for (auto format : {qm::TextFormat::Unicode, qm::TextFormat::SystemDefault}) {
    auto r = TextStream::Open(dir / "u.txt", IOMode::ForReading, false, format);
    EXPECT_EQ(r->ReadLine(), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_TRUE(r->AtEndOfStream());
  }
}

TEST(TextStream, WritingReplacesTheFileAtClose) {
  qm::test::ScratchDir dir;
  qm::test::WriteFile(dir / "r.txt", "old\r\n");
  chmod((dir / "r.txt").c_str(), 0640);
  auto w = TextStream::Open(dir / "r.txt", IOMode::ForWriting);
  w->WriteLine(std::string(200000, 'n'));  // more than one buffer: written out before Close
  EXPECT_EQ(qm::test::ReadFile(dir / "r.txt"), "old\r\n");
  w->Close();
  EXPECT_EQ(qm::test::ReadFile(dir / "r.txt"), std::string(200000, 'n') + "\r\n");
  struct stat info {};
  stat((dir / "r.txt").c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  // A stream released without Close is published as well; appending grows the file in place.
  TextStream::Open(dir / "r.txt", IOMode::ForWriting)->Write("released");
  auto a = TextStream::Open(dir / "r.txt", IOMode::ForAppending);
  a->Write("+more");
  a->Close();
  EXPECT_EQ(qm::test::ReadFile(dir / "r.txt"), "released+more");
  EXPECT_EQ(Entries(dir.Path()), 1);
  // A device cannot be replaced: it is written in place.
  auto device = TextStream::Open("/dev/null", IOMode::ForWriting);
  device->WriteLine("gone");
  device->Close();
}

// The text goes to the file on a thread of its own: a write that fails there
// is raised by a later write or by Close. Where no thread can be made (as at
// RLIMIT_NPROC) the write fails at once and Close fails again. Either way the
// old file stays as it was and nothing is left beside it.
TEST(TextStream, AFailedWriteIsRaisedAndTheOldFileStays) {
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
      while (Executor::LiveThreads() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
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
    if (noThread) {
      EXPECT_EQ(std::pair(atWrite, atClose), std::pair(57, 57));
      EXPECT_EQ(Executor::LiveThreads(), 0u);
    }
    EXPECT_EQ(qm::test::ReadFile(dir / "r.txt"), "old\r\n");
    EXPECT_EQ(Entries(dir.Path()), 1);
  }
}

// A stream written as a whole whose last text fails only at Close (it was
// still buffered) or whose new file cannot be put in place (a folder took the
// name meanwhile): Close raises 57, the old file (or the folder) stays as it
// was, nothing is left beside it, and the stream is closed: a write raises 52,
// a second Close does nothing.
TEST(TextStream, AFailureAtCloseKeepsTheOldFile) {
  qm::test::ScratchDir dir;
  const fs::path file = dir / "r.txt";
  {
    qm::test::WriteFile(file, "old\r\n");
    auto w = TextStream::Open(file.string(), IOMode::ForWriting);
    w->WriteLine(std::string(4000, 'w'));
    {
      qm::test::FileSizeLimit limit(100);
      EXPECT_EQ(ErrorOf([&] { w->Close(); }), 57);
    }
    EXPECT_EQ(qm::test::ReadFile(file), "old\r\n");
    EXPECT_EQ(Entries(dir.Path()), 1);
    EXPECT_EQ(ErrorOf([&] { w->WriteLine("x"); }), 52);
    EXPECT_EQ(ErrorOf([&] { w->Close(); }), 0);
  }
  {
    auto w = TextStream::Open(file.string(), IOMode::ForWriting);
    w->WriteLine("new");
    fs::remove(file);
    fs::create_directory(file);
    qm::test::WriteFile(file / "inside.txt", "keep");
    EXPECT_EQ(ErrorOf([&] { w->Close(); }), 57);
    EXPECT_EQ(qm::test::ReadFile(file / "inside.txt"), "keep");
    EXPECT_EQ(Entries(dir.Path()), 1);
    EXPECT_EQ(ErrorOf([&] { w->WriteLine("x"); }), 52);
  }
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
  EXPECT_EQ(ErrorOf([&] { TextStream::Open(dir / "none.txt", IOMode::ForReading); }), 53);
  EXPECT_EQ(ErrorOf([&] { TextStream::Open(dir / "no/dir.txt", IOMode::ForWriting); }), 76);
  EXPECT_EQ(ErrorOf([&] { TextStream::Open(dir.Path().string(), IOMode::ForReading); }), 75);
  qm::test::WriteFile(dir / "ro.txt", "x");
  chmod((dir / "ro.txt").c_str(), 0444);
  if (geteuid() != 0) {
    EXPECT_EQ(ErrorOf([&] { TextStream::Open(dir / "ro.txt", IOMode::ForWriting); }), 70);
  }
  auto w = TextStream::Open(dir / "w.txt", IOMode::ForWriting);
  EXPECT_EQ(ErrorOf([&] { w->ReadLine(); }), 54);
  w->Close();
  EXPECT_EQ(ErrorOf([&] { w->WriteLine("x"); }), 52);
}

TEST(FileTable, NumberedFiles) {
  qm::test::ScratchDir dir;
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

TEST(TextStream, RemainingBytesBoundTheLinesToCome) {
  qm::test::ScratchDir dir;
  const std::string big(200000, 'x'), text = "first\r\n" + big + "\r\n";
  qm::test::WriteFile(dir / "f.txt", text);
  for (const auto& s : {TextStream::FromText(text), TextStream::Open(dir / "f.txt", IOMode::ForReading)}) {
    EXPECT_EQ(s->RemainingBytes(), big.size() + 9);
    s->ReadLine();
    EXPECT_EQ(s->RemainingBytes(), big.size() + 2);
    s->ReadLine();
    EXPECT_EQ(s->RemainingBytes(), 0u);
  }
}

}  // namespace
