// Many record streams open at once: the read-ahead runs on the executor's
// threads (never a thread per stream) and within the one read-ahead budget,
// and a stream read a little holds little.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "io/Executor.h"
#include "io/ReadAheadBudget.h"
#include "quillmark/persistence/QMStream.h"
#include "quillmark/runtime/TextStream.h"
#include "support/TestEnvironment.h"

namespace {

using qm::io::Executor;

long long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

int ProcessThreads() {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}));
}

std::string Line(int file, int i) {
  return "%Record " + std::to_string(file) + " line " + std::to_string(i) + " of the file";
}

TEST(ReadAheadMemory, HundredRecordStreamsShareTheExecutorAndOneBudget) {
  constexpr int kStreams = 100;
  constexpr std::size_t kFileBytes = 4'000'000;
  constexpr long long kMaxGrowth = 164LL << 20;
  qm::test::ScratchDir dir;
  std::vector<int> lineCounts;
  for (int f = 0; f < kStreams; ++f) {
    std::string text;
    int lines = 0;
    while (text.size() < kFileBytes) text += Line(f, lines++) + "\r\n";
    qm::test::WriteFile(dir / ("records" + std::to_string(f) + ".txt"), text);
    lineCounts.push_back(lines);
  }

  const int threadsBefore = ProcessThreads();
  const long long before = ResidentBytes();
  std::vector<std::unique_ptr<qm::QMStream>> streams;
  for (int f = 0; f < kStreams; ++f) {
    streams.push_back(std::make_unique<qm::QMStream>());
    streams[f]->Use(qm::TextStream::Open(dir / ("records" + std::to_string(f) + ".txt"), qm::IOMode::ForReading));
    ASSERT_EQ(streams[f]->ReadLine(), Line(f, 0));
  }
  const long long growth = ResidentBytes() - before;
  const int threadsAfter = ProcessThreads();
  RecordProperty("ResidentGrowthMiB", static_cast<int>(growth >> 20));

  EXPECT_LE(Executor::Capacity(), 8u);
  EXPECT_LE(Executor::LiveThreads(), Executor::Capacity());
  EXPECT_LE(threadsAfter - threadsBefore, static_cast<int>(Executor::Capacity()));
  EXPECT_LE(qm::io::ReadAheadBudget::InUse(), qm::io::ReadAheadBudget::kLimit);
  EXPECT_LE(growth, kMaxGrowth) << (growth >> 20) << " MiB";

  // Every stream still reads its file whole and in order, the ones holding
  // read-ahead and the ones reading on their own thread alike.
  for (int f : {0, 1, kStreams / 2, kStreams - 1}) {
    for (int i = 1; i < lineCounts[f]; ++i) ASSERT_EQ(streams[f]->ReadLine(), Line(f, i)) << f;
    EXPECT_TRUE(streams[f]->AtEndOfStream());
    streams[f].reset();
  }
  streams.clear();
  EXPECT_EQ(qm::io::ReadAheadBudget::InUse(), 0u) << "every reservation is given back";
}

}  // namespace
