// The failure paths of the background work (read-ahead, the line store's
// packer, the compression I/O): with no thread to be had, with allocations
// failing on a helper, and in a child after fork.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "io/Executor.h"
#include "io/HugeBlock.h"
#include "io/ReadAheadBudget.h"
#include "quillmark/compression/Compress.h"
#include "quillmark/errors/Error.h"
#include "quillmark/persistence/QMStream.h"
#include "quillmark/runtime/TextStream.h"
#include "support/Child.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using qm::io::Executor;
using qm::io::FailAllocations;

// Restores the pool and the allocation hook however a test ends.
struct Restore {
  ~Restore() {
    FailAllocations(0);
    Executor::FailThreadCreation(false);
    Executor::ResetLimit();
  }
};

// Indented, repeated lines: the packer compresses their runs.
std::string Line(int i) {
  return std::string(3 * (i % 4), ' ') + "%Property Field" + std::to_string(i) + " value 12345";
}

// About 7 MB: the first block, then several blocks read ahead.
struct RecordFile {
  qm::test::ScratchDir Dir;
  std::string Path = Dir / "records.txt";
  int Lines = 0;
  RecordFile() {
    std::string text;
    while (text.size() < 7'000'000) text += Line(Lines++) + "\r\n";
    qm::test::WriteFile(Path, text);
  }
};

// Runs `call` again while it raises 7 (no memory), counting the errors in
// `outOfMemory`; without a count, no error is expected.
auto Retry(auto call, int* outOfMemory) {
  for (int attempt = 0;; ++attempt) {
    try {
      return call();
    } catch (const qm::Error& e) {
      if (e.Number() != 7 || !outOfMemory || attempt >= 20) throw;
      ++*outOfMemory;
    }
  }
}

// Reads the whole file through a record stream, a line read again now and
// then, then every line pushed back and read again. A call that raises 7
// (no memory) is made again.
void ReadWhole(const RecordFile& file, int* outOfMemory = nullptr) {
  qm::QMStream s;
  const auto stream = qm::TextStream::Open(file.Path, qm::IOMode::ForReading);
  Retry([&] { s.Use(stream); }, outOfMemory);
  for (int i = 0; i < file.Lines; ++i) {
    ASSERT_EQ(Retry([&] { return s.ReadLine(); }, outOfMemory), Line(i)) << i;
    if (i % 1000 == 999) {
      s.UnReadLine();
      ASSERT_EQ(Retry([&] { return s.ReadLine(); }, outOfMemory), Line(i));
    }
  }
  ASSERT_TRUE(Retry([&] { return s.AtEndOfStream(); }, outOfMemory));
  for (int back = 0; back < file.Lines; ++back) s.UnReadLine();
  for (int i = 0; i < file.Lines; ++i)
    ASSERT_EQ(Retry([&] { return s.ReadLine(); }, outOfMemory), Line(i)) << "read again: " << i;
}

// Compresses the file and back. The compression's first input buffer is made
// by the task reading ahead (or by the caller when it gets there first): that
// allocation failing first gives 7 at the call, not the end of the process,
// and the next call works.
void CompressRoundTrip(const RecordFile& file) {
  qm::Compress compress;
  FailAllocations(1);
  EXPECT_EQ(qm::test::ErrorOf([&] { compress.CompressFile(file.Path, file.Dir / "packed", qm::COM_BEST_SPEED); }), 7);
  FailAllocations(0);
  ASSERT_EQ(compress.CompressFile(file.Path, file.Dir / "packed", qm::COM_BEST_SPEED), 0);
  ASSERT_EQ(compress.DecompressFile(file.Dir / "packed", file.Dir / "unpacked"), 0);
  EXPECT_TRUE(qm::test::ReadFile(file.Dir / "unpacked") == qm::test::ReadFile(file.Path));
}

// No thread to be had, by a limit of 0 and by thread creation failing: the
// callers do the work themselves, with the same results.
TEST(BackgroundFailures, WithoutThreadsOrMemoryTheResultsAreCorrectOrTheErrorClear) {
  Restore restore;
  const RecordFile file;
  for (const bool failCreation : {false, true}) {
    SCOPED_TRACE(failCreation ? "thread creation fails" : "limit 0");
    Executor::SetLimit(0);
    while (Executor::LiveThreads() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (failCreation) {
      Executor::FailThreadCreation(true);
      Executor::ResetLimit();
    }
    ReadWhole(file);
    CompressRoundTrip(file);
    EXPECT_EQ(std::pair(Executor::LiveThreads(), qm::io::ReadAheadBudget::InUse()), std::pair(0u, std::size_t{0}));
  }
  Restore{};  // the threads back

  // Allocations failing (the read-ahead's blocks, the packer's buffers, the
  // compression's buffers), on a helper or on the caller: a clear error (7,
  // out of memory) at a call, after which the work goes on, or a correct
  // result; never a crash, never a wrong line.
  int outOfMemory = 0;
  for (unsigned failing = 1; failing <= 6; ++failing) {
    SCOPED_TRACE(failing);
    qm::QMStream s;
    s.Use(qm::TextStream::Open(file.Path, qm::IOMode::ForReading));
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(s.ReadLine(), Line(i));
    s.Close_();
    // Armed mid-way through a run of reads: whichever allocation comes next fails.
    FailAllocations(failing);
    ReadWhole(file, &outOfMemory);
    FailAllocations(0);
  }
  RecordProperty("OutOfMemoryErrors", outOfMemory);
  CompressRoundTrip(file);  // with threads
}

// A child forked while a record stream is halfway through its file (blocks
// read ahead on their way) never waits for the parent's reads: reading on
// raises 75 (or gives the lines already read), letting the stream go does
// not wait, its own streams read ahead, and it exits. The parent reads on.
TEST(BackgroundFailures, AChildAfterForkWithAStreamMidReadExitsWithoutHanging) {
  if (qm::test::ThreadSanitizer())
    GTEST_SKIP() << "the child starts threads, which ThreadSanitizer does not allow after fork";
  if (qm::test::SanitizerAllocator()) GTEST_SKIP() << "the sanitizer's allocator is not safe across fork";
  Restore restore;
  const RecordFile file;
  auto stream = std::make_unique<qm::QMStream>();
  stream->Use(qm::TextStream::Open(file.Path, qm::IOMode::ForReading));
  int read = 0;
  for (const int forkAt : {10, 6000, 30000, 60000, 100000}) {
    for (; read < forkAt; ++read) ASSERT_EQ(stream->ReadLine(), Line(read));
    EXPECT_TRUE(qm::test::InChild(
        [&] {
          int failures = 0;
          try {
            for (int i = read; i < file.Lines; ++i) failures += stream->ReadLine() != Line(i);
            ++failures;  // the whole file read through the parent's read-ahead
          } catch (const qm::Error& e) {
            failures += e.Number() != 75;
          }
          stream.reset();  // never waits for the parent's reads
          qm::QMStream own;
          own.Use(qm::TextStream::Open(file.Path, qm::IOMode::ForReading));
          for (int i = 0; i < file.Lines; ++i) failures += own.ReadLine() != Line(i);
          own.Close_();
          return failures == 0;
        },
        60))
        << "forked at line " << forkAt;  // a child that hangs ends at its alarm
  }
  for (; read < file.Lines; ++read) ASSERT_EQ(stream->ReadLine(), Line(read));
  EXPECT_TRUE(stream->AtEndOfStream());
}

}  // namespace
