#include <gtest/gtest.h>

#include <random>

#include "compression/BinaryFile.h"
#include "io/BackgroundIo.h"
#include "quillmark/compression/Compress.h"
#include "support/ErrorOf.h"
#include "support/FileSizeLimit.h"
#include "support/TestEnvironment.h"

namespace {

using qm::test::FileSizeLimit;

constexpr std::size_t kChunk = 1 << 16;

std::string Noise(std::size_t size) {
  std::mt19937 random(9);
  std::string bytes(size, '\0');
  for (auto& b : bytes) b = static_cast<char>(random());
  return bytes;
}

// Copies `in` to `out` through the background thread, chunk by chunk.
std::size_t CopyThrough(const std::string& in, std::size_t claimed, const std::string& out) {
  qm::compression::InputFile input(in);
  qm::compression::OutputFile output(out);
  std::size_t chunks = 0;
  {
    qm::io::BackgroundIo io([&](std::span<std::uint8_t> b) { return input.Read(b); }, claimed,
                            [&](std::span<const std::uint8_t> b) { output.Write(b); }, kChunk);
    for (auto chunk = io.NextInput(); !chunk.empty(); chunk = io.NextInput(), ++chunks) {
      auto buffer = io.OutputBuffer();
      EXPECT_EQ(buffer.size(), kChunk);
      std::copy(chunk.begin(), chunk.end(), buffer.begin());
      io.Write(std::move(buffer), chunk.size());
    }
    io.Finish();
  }
  output.Close();
  return chunks;
}

TEST(BackgroundIo, HandsOverTheInputInOrderAndWritesEveryChunkBehind) {
  qm::test::ScratchDir dir;
  const std::string bytes = Noise(20 * kChunk + 123);
  qm::test::WriteFile(dir / "in", bytes);
  // Only the bytes asked for are read; a file shorter than claimed ends early.
  for (const auto& [claimed, chunks] :
       {std::pair{bytes.size(), 21u}, {3 * kChunk, 3u}, {bytes.size() + 5 * kChunk, 21u}}) {
    EXPECT_EQ(CopyThrough(dir / "in", claimed, dir / "out"), chunks) << claimed;
    EXPECT_EQ(qm::test::ReadFile(dir / "out"), bytes.substr(0, claimed)) << claimed;
  }
  qm::test::WriteFile(dir / "empty", "");
  EXPECT_EQ(CopyThrough(dir / "empty", 0, dir / "out"), 0u);
}

TEST(BackgroundIo, AWriteFailureIsRaisedOnTheCallersThreadAndStopsTheFile) {
  qm::test::ScratchDir dir;
  const std::string bytes = Noise(40 * kChunk);
  qm::test::WriteFile(dir / "in", bytes);
  {
    FileSizeLimit limit(4 * kChunk);
    EXPECT_EQ(qm::test::ErrorOf([&] { CopyThrough(dir / "in", bytes.size(), dir / "out"); }), 57);

    // Through the library: noise does not shrink, so both outputs pass the limit.
    qm::Compress compress;
    EXPECT_EQ(qm::test::ErrorOf([&] { compress.CompressFile(dir / "in", dir / "packed.z", qm::COM_BEST_SPEED); }), 57);
  }
  qm::Compress compress;
  ASSERT_EQ(compress.CompressFile(dir / "in", dir / "packed.z", qm::COM_BEST_SPEED), 0);
  FileSizeLimit limit(4 * kChunk);
  EXPECT_EQ(qm::test::ErrorOf([&] { compress.DecompressFile(dir / "packed.z", dir / "out"); }), 57);
}

}  // namespace
