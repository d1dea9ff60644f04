// The file jobs tell their progress in bytes, steadily up to the whole, and
// write exactly what their published forms write. ZipFiles' reports across
// its rounds are tested with its rounds, in ZipFilesTest.cpp.

#include <gtest/gtest.h>

#include <filesystem>

#include "quillmark/compression/Compress.h"
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

}  // namespace
