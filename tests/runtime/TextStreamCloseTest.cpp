#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "io/System.h"
#include "quillmark/runtime/TextStream.h"
#include "support/ErrorOf.h"
#include "support/FileSizeLimit.h"
#include "support/TestEnvironment.h"

namespace {
namespace fs = std::filesystem;
using qm::IOMode;
using qm::TextStream;
using qm::test::ErrorOf;

std::ptrdiff_t Entries(const fs::path& folder) { return std::distance(fs::directory_iterator(folder), {}); }

// A stream written as a whole whose last text fails only at Close (it was
// still buffered) or whose new file cannot be put in place (a folder took the
// name meanwhile): Close raises 57, the old file (or the folder) stays as it
// was, nothing is left beside it, and the stream is closed: a write raises 52,
// a second Close does nothing.
TEST(TextStreamClose, AFailureAtCloseKeepsTheOldFile) {
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
TEST(TextStreamClose, AnAppendThatFailsHalfwayGoesOnWhereItStopped) {
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

}  // namespace
