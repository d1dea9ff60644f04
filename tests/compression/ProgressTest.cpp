// The file jobs tell their progress in bytes, steadily up to the whole, and
// write exactly what their published forms write.

#include <gtest/gtest.h>

#include <filesystem>

#include "compression/WorkingFolder.h"
#include "quillmark/compression/Compress.h"
#include "quillmark/compression/ZipFiles.h"
#include "support/ProgressLog.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using qm::test::ProgressLog;

TEST(Progress, CompressAndDecompressTellTheBytesOfTheInputRead) {
  qm::test::ScratchDir dir;
  std::string data;
  for (int i = 0; data.size() < (5u << 20) / 2; ++i) data += "line " + std::to_string(i * 7919 % 10007) + "\n";
  qm::test::WriteFile(dir / "in.txt", data);
  const std::uint64_t size = data.size();
  qm::Compress compress;

  ProgressLog packing;
  ASSERT_EQ(compress.CompressFile(dir / "in.txt", dir / "told.cmp", qm::COM_DEFAULT_COMPRESSION, packing.Callback()),
            0);
  ASSERT_EQ(compress.CompressFile(dir / "in.txt", dir / "plain.cmp", qm::COM_DEFAULT_COMPRESSION), 0);
  EXPECT_EQ(qm::test::ReadFile(dir / "told.cmp"), qm::test::ReadFile(dir / "plain.cmp"));
  EXPECT_GT(packing.Calls.size(), 2u);  // more than one block of the input
  EXPECT_TRUE(packing.Steady());
  EXPECT_EQ(packing.Calls.front(), std::make_pair(std::uint64_t{0}, size));
  EXPECT_EQ(packing.Calls.back(), std::make_pair(size, size));

  const std::uint64_t packed = fs::file_size(dir.Path() / "told.cmp");
  ProgressLog unpacking;
  ASSERT_EQ(compress.DecompressFile(dir / "told.cmp", dir / "out.txt", unpacking.Callback()), 0);
  EXPECT_EQ(qm::test::ReadFile(dir / "out.txt"), data);
  EXPECT_TRUE(unpacking.Steady());
  EXPECT_EQ(unpacking.Calls.front(), std::make_pair(std::uint64_t{4}, packed));  // past the length field
  EXPECT_EQ(unpacking.Calls.back(), std::make_pair(packed, packed));

  // Level 0 works in one call: one report of the whole.
  ProgressLog stored;
  ASSERT_EQ(compress.CompressFile(dir / "in.txt", dir / "stored.cmp", qm::COM_NO_COMPRESSION, stored.Callback()), 0);
  EXPECT_EQ(stored.Calls, (decltype(stored.Calls){{size, size}}));
}

TEST(Progress, ZipFilesTellsTheBytesWrittenAcrossRounds) {
  qm::test::ScratchDir dir;
  qm::test::WorkingFolder here(dir.Path());
  std::vector<fs::path> files;
  std::uint64_t total = 0;
  for (int i = 0; i < 1100; ++i) {  // two rounds
    files.emplace_back("f" + std::to_string(i));
    const std::string bytes(static_cast<std::size_t>(i % 50) * 100, static_cast<char>('a' + i % 26));
    qm::test::WriteFile(files.back().string(), bytes);
    total += bytes.size();
  }
  files.emplace_back("missing");  // counts nothing
  ProgressLog log;
  const qm::ZipReport report = qm::ZipFiles("all.zip", files, log.Callback());
  EXPECT_EQ(report.Archived, 1100u);
  EXPECT_TRUE(log.Steady());
  ASSERT_FALSE(log.Calls.empty());
  EXPECT_EQ(log.Calls.back(), std::make_pair(total, total));
  // The second round starts where the first ended, and both are told.
  std::uint64_t firstRound = 0;
  for (std::size_t i = 0; i < 1024; ++i) firstRound += fs::file_size(files[i]);
  const auto reached = [&](std::uint64_t bytes) {
    return std::any_of(log.Calls.begin(), log.Calls.end(), [&](const auto& call) { return call.first == bytes; });
  };
  EXPECT_TRUE(reached(firstRound));
  EXPECT_TRUE(std::any_of(log.Calls.begin(), log.Calls.end(),
                          [&](const auto& call) { return call.first > firstRound && call.first < total; }));
}

}  // namespace
