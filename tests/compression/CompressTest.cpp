#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <random>
#include <set>

#include "compression/BinaryFile.h"
#include "compression/ExternalCheck.h"
#include "compression/WorkBuffer.h"
#include "io/BackgroundIo.h"
#include "quillmark/compression/Compress.h"
#include "quillmark/values/Conversions.h"
#include "support/ErrorTrail.h"
#include "support/FileSizeLimit.h"
#include "support/ProgressLog.h"
#include "support/TestEnvironment.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace qm::test;

// Text, runs and noise: about 3:1 at the default level.
Bytes MixedData(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  const std::string text = "quarterly totals by region and product line; ";
  Bytes data;
  while (data.size() < size) {
    const auto kind = random() % 3;
    if (kind == 0) data.insert(data.end(), text.begin(), text.end());
    else if (kind == 1) data.insert(data.end(), random() % 200, static_cast<std::uint8_t>(random()));
    else
      for (int i = 0; i < 40; ++i) data.push_back(static_cast<std::uint8_t>(random()));
  }
  data.resize(size);
  return data;
}

std::string AsString(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

// Byte arrays round-trip at every level (tested with the files below) or
// give zlib's codes; strings cross as one byte per character.
TEST(Compress, ByteArraysAndStringsGiveZlibsCodesAndTheWorkBufferFollowsTheRuleAndTheLimit) {
  // An empty array compresses to an empty stream and back.
  qm::Compress compress;
  Bytes empty;
  ASSERT_EQ(compress.CompressByteArray(empty, qm::COM_DEFAULT_COMPRESSION), 0);
  EXPECT_FALSE(empty.empty());
  ASSERT_EQ(compress.DecompressByteArray(empty, 0), 0);
  EXPECT_TRUE(empty.empty());

  // Zlib's codes come back and leave the data alone.
  const Bytes small = MixedData(5000, 2);
  Bytes data = small;
  EXPECT_EQ(compress.CompressByteArray(data, static_cast<qm::CompressionLevelConstants>(10)), -2);
  EXPECT_EQ(data, small);

  ASSERT_EQ(compress.CompressByteArray(data, qm::COM_DEFAULT_COMPRESSION), 0);
  const Bytes compressed = data;
  EXPECT_EQ(compress.DecompressByteArray(data, 100), -5);  // far too small an original size
  EXPECT_EQ(data, compressed);

  Bytes corrupt = compressed;
  corrupt[corrupt.size() / 2] ^= 0xFF;
  corrupt.back() ^= 0xFF;
  EXPECT_EQ(compress.DecompressByteArray(corrupt, 5000), -3);
  Bytes truncated(compressed.begin(), compressed.begin() + static_cast<std::ptrdiff_t>(compressed.size() / 2));
  EXPECT_NE(compress.DecompressByteArray(truncated, 5000), 0);

  // A size whose work buffer would be negative cannot be allocated.
  EXPECT_EQ(
      Trail([&] { compress.DecompressByteArray(data, -1000); }),
      "9: Subscript out of range @ QuillmarkLibrary.Compress|[Compress]Public Function DecompressByteArray(?, -1000)");

  // Strings cross as one byte per character: they compress to the bytes
  // (one character each) of the same text as a byte array, and come back.
  // Characters outside ISO-8859-1 ("€ 5") have no byte of their own.
  std::string ascii;
  for (int i = 0; i < 200; ++i) ascii += "Quillmark " + std::to_string(i % 7) + "; ";
  for (const auto& [in, out] : {std::pair<std::string, std::string>{ascii, ascii}, {"\xE2\x82\xAC 5", "? 5"}}) {
    std::string text = in;
    Bytes asBytes(out.begin(), out.end());
    ASSERT_EQ(compress.CompressString(text, qm::COM_DEFAULT_COMPRESSION), 0);
    ASSERT_EQ(compress.CompressByteArray(asBytes, qm::COM_DEFAULT_COMPRESSION), 0);
    EXPECT_EQ(qm::ToLatin1(text), AsString(asBytes)) << out;
    ASSERT_EQ(compress.DecompressString(text, static_cast<std::int32_t>(out.size())), 0);
    EXPECT_EQ(text, out);
  }

  // The work buffer follows the rule and the expansion limit.
  using qm::compression::MaxExpansion;
  using qm::compression::WorkBufferSize;
  // 264.5 rounds to even.
  EXPECT_EQ((std::array{WorkBufferSize(0), WorkBufferSize(1000), WorkBufferSize(250), WorkBufferSize(-13),
                        WorkBufferSize(INT32_MAX)}),
            (std::array<std::int64_t, 5>{12, 1022, 264, -1, 2168958495}));

  // The most compressible input there is stays within the limit.
  Bytes zeros(20 << 20, 0);
  ASSERT_EQ(compress.CompressByteArray(zeros, qm::COM_BEST_COMPRESSION), 0);
  EXPECT_LT(static_cast<std::int64_t>(zeros.size()) * 1000, 20 << 20);  // beyond 1000:1
  EXPECT_GE(MaxExpansion(static_cast<std::int64_t>(zeros.size())), 20 << 20);
  // A claimed size of 2 GB is served from a buffer the data can fill.
  ASSERT_EQ(compress.DecompressByteArray(zeros, INT32_MAX), 0);
  EXPECT_EQ(zeros.size(), std::size_t{20 << 20});
}

// Byte arrays round-trip at every level, and files hold exactly what the
// one-call functions give.
TEST(Compress, ByteArraysRoundTripAtEveryLevelAndFilesHoldExactlyWhatTheyGive) {
  // Larger than the buffers the file operations stream through.
  ScratchDir dir;
  const Bytes original = MixedData(2500000, 7);
  WriteFile(dir / "in.bin", AsString(original));
  for (auto level :
       {qm::COM_NO_COMPRESSION, qm::COM_BEST_SPEED, qm::COM_BEST_COMPRESSION, qm::COM_DEFAULT_COMPRESSION}) {
    qm::Compress compress;
    Bytes oneCall = original;
    ASSERT_EQ(compress.CompressByteArray(oneCall, level), 0);
    EXPECT_EQ(compress.ValueDecompressedSize(), 2500000);
    EXPECT_LT(oneCall.size(), level == qm::COM_NO_COMPRESSION ? original.size() + 1000 : original.size() / 2);
    EXPECT_EQ(oneCall[0], 0x78);  // a zlib header
    // It tells the bytes of the input read steadily up to the whole; level 0
    // works in one call, one report.
    ProgressLog told;
    ASSERT_EQ(compress.CompressFile(dir / "in.bin", dir / "packed.z", level, told.Callback()), 0);
    EXPECT_EQ(ReadFile(dir / "packed.z").substr(4), AsString(oneCall)) << level;
    EXPECT_TRUE(told.Steady());
    const bool stored = level == qm::COM_NO_COMPRESSION;
    const std::uint64_t size = original.size();
    EXPECT_EQ(std::pair(told.Calls.front(), told.Calls.back()),
              std::pair(std::make_pair(stored ? size : 0, size), std::make_pair(size, size)));
    EXPECT_TRUE(stored ? told.Calls.size() == 1 : told.Calls.size() > 2) << told.Calls.size();
    ASSERT_EQ(compress.DecompressByteArray(oneCall, 2500000), 0);
    EXPECT_EQ(oneCall, original);
  }
  // The container is the length field and the stream, as another inflater
  // reads it; decompressing replaces an old output, or the input itself.
  EXPECT_TRUE(PythonConfirmsContainer(dir / "packed.z", dir / "in.bin"));
  WriteFile(dir / "out.bin", "old content that must go");
  qm::Compress fresh;
  ProgressLog unpacking;
  ASSERT_EQ(fresh.DecompressFile(dir / "packed.z", dir / "out.bin", unpacking.Callback()), 0);
  EXPECT_EQ(fresh.ValueDecompressedSize(), 2500000);
  EXPECT_EQ(ReadFile(dir / "out.bin"), AsString(original));
  const std::uint64_t packedSize = std::filesystem::file_size(dir.Path() / "packed.z");
  EXPECT_TRUE(unpacking.Steady());
  EXPECT_EQ(std::pair(unpacking.Calls.front(), unpacking.Calls.back()),  // the first past the length field
            std::pair(std::make_pair(std::uint64_t{4}, packedSize), std::make_pair(packedSize, packedSize)));
  ASSERT_EQ(fresh.CompressFile(dir / "in.bin", dir / "in.bin", qm::COM_BEST_SPEED), 0);
  ASSERT_EQ(fresh.DecompressFile(dir / "in.bin", dir / "in.bin"), 0);
  EXPECT_EQ(ReadFile(dir / "in.bin"), AsString(original));

  // Too small an original size: the same code, and the bytes that fitted.
  WriteFile(dir / "small.z", ReadFile(dir / "packed.z").replace(0, 4, std::string("\x00\x10\x00\x00", 4)));  // 4096
  EXPECT_EQ(fresh.DecompressFile(dir / "small.z", dir / "out.bin"), -5);
  EXPECT_EQ(ReadFile(dir / "out.bin"), AsString(original).substr(0, 4149));  // round(4096 * 1.01 + 12)
  // A level zlib refuses leaves just the length field.
  EXPECT_EQ(fresh.CompressFile(dir / "in.bin", dir / "bad.z", static_cast<qm::CompressionLevelConstants>(10)), -2);
  EXPECT_EQ(ReadFile(dir / "bad.z"), std::string("\xA0\x25\x26\x00", 4));  // 2500000
}

TEST(Compress, BadContainersAndFileProblemsGiveCodesOrTheRunTimesErrors) {
  ScratchDir dir;
  const Bytes original = MixedData(50000, 5);
  WriteFile(dir / "in.bin", AsString(original));
  qm::Compress compress;
  ASSERT_EQ(compress.CompressFile(dir / "in.bin", dir / "good.z", qm::COM_DEFAULT_COMPRESSION), 0);
  const std::string good = ReadFile(dir / "good.z");
  const auto withLength = [&](std::uint32_t length) {
    std::string file = good;
    for (int i = 0; i < 4; ++i) file[static_cast<std::size_t>(i)] = static_cast<char>(length >> (8 * i));
    return file;
  };
  const auto decompress = [&](const std::string& container) {
    WriteFile(dir / "bad.z", container);
    return compress.DecompressFile(dir / "bad.z", dir / "out.bin");
  };

  EXPECT_NE(decompress(good.substr(0, good.size() / 2)), 0);  // truncated
  EXPECT_NE(decompress(good.substr(0, 3)), 0);                // shorter than the length field
  EXPECT_NE(decompress(AsString(MixedData(4000, 6))), 0);     // random bytes
  EXPECT_EQ(decompress(withLength(0xFFFFFFFF)), -5);          // -1: a buffer of 11 bytes
  EXPECT_EQ(decompress(withLength(INT32_MAX)), 0);            // served from a bounded buffer
  EXPECT_EQ(ReadFile(dir / "out.bin"), AsString(original));
  EXPECT_EQ(compress.ValueDecompressedSize(), INT32_MAX);
  EXPECT_EQ(ErrorOf([&] { decompress(withLength(0x80000000)); }), 9);  // -2147483648

  // Streams altered in ways one inflater may take and another not give what
  // the one-call function gives: a header naming a smaller window than the
  // stream's distances need, a wrong checksum, a checksum cut short, a header
  // asking for a dictionary, a changed byte, bytes after the end.
  // A header of its own: CMF and FLG, with FLG's check bits made right.
  const auto withHeader = [&](int cmf, int flg) {
    std::string file = good;
    file[4] = static_cast<char>(cmf);
    file[5] = static_cast<char>(flg + (31 - (cmf * 256 + flg) % 31) % 31);
    return file;
  };
  const int flags = static_cast<unsigned char>(good[5]) & 0xE0;
  const std::size_t middle = good.size() / 2, last = good.size() - 1;
  for (const std::string& container :
       {withHeader(0x18, flags), std::string(good).replace(last, 1, 1, static_cast<char>(~good[last])),
        good.substr(0, good.size() - 2), withHeader(static_cast<unsigned char>(good[4]), flags | 0x20),
        std::string(good).replace(middle, 1, 1, static_cast<char>(good[middle] ^ 0x10)), good + "trailing bytes"}) {
    Bytes data(container.begin() + 4, container.end());
    const std::int32_t oneCall = compress.DecompressByteArray(data, static_cast<std::int32_t>(original.size()));
    EXPECT_EQ(decompress(container), oneCall);
    EXPECT_TRUE(oneCall != 0 || ReadFile(dir / "out.bin") == AsString(data));
  }

  // File problems raise the run time's errors.
  EXPECT_EQ(Trail([&] { compress.CompressFile(dir / "missing.bin", dir / "out.z", qm::COM_BEST_SPEED); }),
            "53: File not found @ QuillmarkLibrary.Compress|[Compress]Public Function CompressFile(\"" +
                (dir / "missing.bin") + "\", \"" + (dir / "out.z") + "\", ?)");
  EXPECT_EQ(ErrorOf([&] { decompress(""); }), 9);  // an empty file
  // Once the old output is deleted, errors leave without the procedure's element.
  EXPECT_EQ(Trail([&] { compress.CompressFile(dir / "in.bin", dir / "no-such-folder/out.z", qm::COM_BEST_SPEED); }),
            "76: Path not found @ QuillmarkLibrary.Compress");
  // A write that fails on the background thread is raised on the caller's.
  WriteFile(dir / "in.bin", AsString(MixedData(40 << 16, 9)));
  ASSERT_EQ(compress.CompressFile(dir / "in.bin", dir / "packed.z", qm::COM_BEST_SPEED), 0);
  FileSizeLimit limit(4 << 16);
  EXPECT_EQ(ErrorOf([&] { compress.CompressFile(dir / "in.bin", dir / "again.z", qm::COM_BEST_SPEED); }), 57);
  EXPECT_EQ(ErrorOf([&] { compress.DecompressFile(dir / "packed.z", dir / "out.bin"); }), 57);
}

TEST(Compress, NewOutputTakesTheOldOnesPlaceAsIfItWereDeletedFirst) {
  ScratchDir dir;
  WriteFile(dir / "in.bin", "some bytes to compress, some bytes to compress");
  WriteFile(dir / "elsewhere.z", "kept");
  const mode_t mask = ::umask(0);
  ::umask(mask);
  qm::Compress compress;
  // An old output's permissions are not carried over; a link in its place is
  // replaced, and the file it named is left alone.
  WriteFile(dir / "out.z", "old");
  ::chmod((dir / "out.z").c_str(), 0600);
  std::filesystem::create_symlink(dir / "elsewhere.z", dir / "link.z");
  ASSERT_EQ(compress.CompressFile(dir / "in.bin", dir / "out.z", qm::COM_BEST_SPEED), 0);
  ASSERT_EQ(compress.DecompressFile(dir / "out.z", dir / "link.z"), 0);
  EXPECT_EQ(static_cast<mode_t>(std::filesystem::status(dir / "out.z").permissions()), 0666 & ~mask);
  EXPECT_FALSE(std::filesystem::is_symlink(dir / "link.z"));
  EXPECT_EQ(ReadFile(dir / "link.z"), ReadFile(dir / "in.bin"));
  EXPECT_EQ(ReadFile(dir / "elsewhere.z"), "kept");
  // An output that cannot be created leaves no hidden file behind.
  std::filesystem::create_directories(dir.Path() / "folder.z" / "inside");
  EXPECT_EQ(ErrorOf([&] { compress.CompressFile(dir / "in.bin", dir / "folder.z", qm::COM_BEST_SPEED); }), 75);
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) names.insert(entry.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"in.bin", "elsewhere.z", "out.z", "link.z", "folder.z"}));
}

constexpr std::size_t kChunk = 1 << 16;

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
  ScratchDir dir;
  const std::string bytes = AsString(MixedData(20 * kChunk + 123, 9));
  WriteFile(dir / "in", bytes);
  // Only the bytes asked for are read; a file shorter than claimed ends early.
  for (const auto& [claimed, chunks] :
       {std::pair{bytes.size(), 21u}, {3 * kChunk, 3u}, {bytes.size() + 5 * kChunk, 21u}}) {
    EXPECT_EQ(CopyThrough(dir / "in", claimed, dir / "out"), chunks) << claimed;
    EXPECT_EQ(ReadFile(dir / "out"), bytes.substr(0, claimed)) << claimed;
  }
  WriteFile(dir / "empty", "");
  EXPECT_EQ(CopyThrough(dir / "empty", 0, dir / "out"), 0u);
}

}  // namespace
