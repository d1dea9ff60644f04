#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "graphics/JpegStrips.h"
#include "graphics/PictureFiles.h"
#include "io/Executor.h"
#include "quillmark/errors/Error.h"
#include "quillmark/graphics/IJL.h"
#include "quillmark/graphics/Jpeg.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using qm::ijl::PixelRows;
using qm::ijl::StripEncoder;
using qm::io::Executor;

// Sets the executor's thread limit for a scope.
struct ThreadLimit {
  explicit ThreadLimit(unsigned threads) { Executor::SetLimit(threads); }
  ~ThreadLimit() { Executor::ResetLimit(); }
};

// A noisy picture with padded rows, stored top-down or bottom-up.
struct Picture {
  int Width, Height, Pitch;
  std::vector<std::uint8_t> Bytes;

  Picture(int width, int height, unsigned seed) : Width(width), Height(height), Pitch((3 * width + 3) & ~3) {
    std::mt19937 random(seed);
    Bytes.resize(static_cast<std::size_t>(Pitch) * height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < 3 * width; ++x)
        Bytes[static_cast<std::size_t>(y) * Pitch + x] =
            static_cast<std::uint8_t>((x * 7 + y * 3) % 256 ^ (random() & 31));
  }
  std::vector<std::uint8_t> Flipped() const {
    std::vector<std::uint8_t> out;
    for (int y = Height - 1; y >= 0; --y)
      out.insert(out.end(), Bytes.begin() + y * Pitch, Bytes.begin() + (y + 1) * Pitch);
    return out;
  }
  // Red first, bottom-up, `extra` more bytes of padding a row.
  std::vector<std::uint8_t> RgbFlipped(int extra) const {
    std::vector<std::uint8_t> out;
    for (int y = Height - 1; y >= 0; --y) {
      for (int x = 0; x < 3 * Width; x += 3)
        for (int c = 2; c >= 0; --c) out.push_back(Bytes[static_cast<std::size_t>(y) * Pitch + x + c]);
      out.resize(out.size() + static_cast<std::size_t>(Pitch - 3 * Width + extra), 0xAB);
    }
    return out;
  }
  PixelRows Rows(const std::vector<std::uint8_t>& bytes, bool bottomUp) const {
    return {bytes.data(), Width, Height, Pitch, bottomUp};
  }
};

std::vector<std::uint8_t> Encode(const PixelRows& rows, int mcuRowsPerStrip) {
  StripEncoder encoder;
  std::vector<std::uint8_t> jpeg;
  EXPECT_EQ(qm::ijl::EncodeInStrips(encoder, rows, 90, mcuRowsPerStrip, jpeg), qm::ijl::IJL_OK);
  return jpeg;
}

// Top-down RGB rows decoded by djpeg; empty when it fails or warns (a
// misplaced restart marker is a warning) or the size differs.
std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& jpeg, int width, int height) {
  const qm::test::ScratchDir dir;
  qm::test::WriteFile(dir / "in.jpg", std::string(jpeg.begin(), jpeg.end()));
  const qm::test::RgbImage image = qm::test::DecodeWithDjpeg(dir / "in.jpg");
  if (image.Width != width || image.Height != height) return {};
  return image.Pixels;
}

bool HasRestartInterval(const std::vector<std::uint8_t>& jpeg) {
  for (std::size_t i = 0; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) return false;  // the scan began first
    else if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDD) return true;
  return false;
}

TEST(JpegStrips, StripsDecodeToExactlyThePixelsOfOneEncoderInEitherRowAndChannelOrder) {
  // Heights that end inside an MCU row, widths that end inside an MCU and a
  // one-pixel column; strips of one, two and three MCU rows.
  for (const auto& [width, height] : {std::pair{37, 100}, {160, 48}, {1, 33}, {64, 17}}) {
    const Picture picture(width, height, static_cast<unsigned>(width * height));
    const std::vector<std::uint8_t> flipped = picture.Flipped();
    const std::vector<std::uint8_t> rgb = picture.RgbFlipped(5);
    const auto whole = Decode(Encode(picture.Rows(picture.Bytes, false), 1000), width, height);
    ASSERT_FALSE(whole.empty()) << width << "x" << height;
    for (int mcuRows : {1, 2, 3}) {
      for (unsigned threads : {0u, 3u}) {
        const ThreadLimit limit(threads);
        const auto topDown = Encode(picture.Rows(picture.Bytes, false), mcuRows);
        const auto bottomUp = Encode(picture.Rows(flipped, true), mcuRows);
        SCOPED_TRACE(testing::Message() << width << "x" << height << " strips of " << mcuRows << " on " << threads);
        EXPECT_EQ(HasRestartInterval(topDown), height > 16 * mcuRows);
        EXPECT_EQ(Decode(topDown, width, height), whole);
        EXPECT_EQ(Decode(bottomUp, width, height), whole);
        // Red-first rows with other padding, bottom-up: the very bytes of the blue-first ones.
        EXPECT_EQ(Encode({rgb.data(), width, height, picture.Pitch + 5, true, true}, mcuRows), topDown);
      }
    }
  }
}

TEST(JpegStrips, PlanComesFromThePictureAloneAndKeepsTheIntervalWithinSixteenBits) {
  using qm::ijl::McuRowsPerStrip;
  EXPECT_EQ(McuRowsPerStrip(4000, 3000), 5);  // 250 MCUs a row: about 256 K pixels a strip
  EXPECT_EQ(McuRowsPerStrip(64, 64), 4);      // small: one strip
  EXPECT_EQ(McuRowsPerStrip(1, 1), 1);
  EXPECT_EQ(McuRowsPerStrip(65535 * 16, 64), 1);  // 65,535 MCUs in one row: one row a strip
  EXPECT_EQ(McuRowsPerStrip(65536 * 16, 64), 4);  // no interval fits: one strip
  EXPECT_LE(McuRowsPerStrip(20000, 60000) * (20000 / 16), 65535);

  // A strip plan whose interval does not fit is refused rather than mis-written.
  const Picture picture(16, 32, 1);
  StripEncoder encoder;
  std::vector<std::uint8_t> jpeg;
  EXPECT_EQ(qm::ijl::EncodeInStrips(encoder, picture.Rows(picture.Bytes, false), 90, 0, jpeg),
            qm::ijl::IJL_ENCODER_ERROR);
}

TEST(JpegStrips, APictureGivesTheSameBytesOnAnyNumberOfThreadsAndWhateverTheEnvironmentHolds) {
  // 1500 x 1000: six strips of eleven MCU rows. (How close the JPEG is to
  // its source: the PSNR check of SaveAsJPG, which writes through these strips.)
  const Picture picture(1500, 1000, 5);
  const std::vector<std::uint8_t> bottomUp = picture.Flipped();  // as SaveJPG hands a DIB over
  const auto encode = [&] { return Encode(picture.Rows(bottomUp, true), qm::ijl::McuRowsPerStrip(1500, 1000)); };
  std::vector<std::uint8_t> reference;
  {
    const ThreadLimit none(0);
    reference = encode();
  }
  ASSERT_TRUE(HasRestartInterval(reference));
  ASSERT_EQ(Decode(reference, picture.Width, picture.Height).size(), std::size_t{3} * 1500 * 1000);
  // TurboJPEG's variables (read by its tj* calls, not by the libjpeg API) and
  // libjpeg's memory limit (JPEGMEM) change nothing, on any number of threads.
  const std::pair<const char*, const char*> variables[] = {
      {"TJ_OPTIMIZE", "1"}, {"TJ_RESTART", "5"}, {"TJ_PROGRESSIVE", "1"}, {"TJ_ARITHMETIC", "1"}, {"JPEGMEM", "1"}};
  for (int round = 0; round < 2; ++round) {
    for (unsigned threads : {1u, 2u, 3u, 8u}) {
      const ThreadLimit limit(threads);
      EXPECT_TRUE(encode() == reference) << threads << " threads" << (round ? " with the variables set" : "");
    }
    for (const auto& [name, value] : variables) ::setenv(name, value, 1);
  }
  for (const auto& [name, value] : variables) ::unsetenv(name);
}

// ConvertToJpeg streams a picture from its file to the JPEG strip by strip:
// the bytes are those of the writer of a picture in memory, whatever the
// rows' order, depth or format and however many threads help, and a picture
// that cannot be read leaves the old JPEG as it was, with the file named.
using qm::test::BmpFile;
using qm::test::ReadFile;
using qm::test::TestPicture;
using qm::test::WriteFile;

TEST(ConvertToJpeg, GivesTheBytesOfTheWriterOfAPictureInMemory) {
  qm::test::ScratchDir dir;
  // 512 x 1600: four strips, more than the strips a lone thread keeps on their way.
  const qm::test::RgbImage picture = TestPicture(512, 1600);
  const qm::test::RgbImage small = TestPicture(9, 5);
  std::string palette, indices;
  for (int i = 0; i < 256; ++i) palette += {char(i), char(255 - i), char(i / 2), '\0'};
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 400; ++x) indices += char((x + 3 * y) % 256);
  ASSERT_TRUE(qm::test::WritePng((dir / "small.png"), small));
  const struct {
    const char* Name;
    std::string Bytes;  // empty: written above
  } inputs[] = {{"bottom-up.bmp", BmpFile(picture)},
                {"top-down.bmp", BmpFile(picture, true)},
                {"palette.bmp", BmpFile(400, 300, 8, indices, palette)},
                {"small.png", {}}};
  for (const auto& input : inputs) {
    if (!input.Bytes.empty()) WriteFile(dir / input.Name, input.Bytes);
    qm::WriteJpeg(qm::ReadPicture(dir.Path() / input.Name), dir.Path() / "reference.jpg", 85);
    for (const unsigned threads : {0u, 2u}) {
      ThreadLimit limit(threads);
      qm::ConvertToJpeg(dir.Path() / input.Name, dir.Path() / "streamed.jpg", 85);
      EXPECT_EQ(ReadFile(dir / "streamed.jpg"), ReadFile(dir / "reference.jpg")) << input.Name << ", " << threads;
    }
  }
  // Decoded by libjpeg's own tool, it is the picture's size again.
  const qm::test::RgbImage decoded = qm::test::DecodeWithDjpeg(dir / "streamed.jpg");
  EXPECT_EQ(std::pair(decoded.Width, decoded.Height), std::pair(small.Width, small.Height));
}

TEST(ConvertToJpeg, APictureThatCannotBeReadLeavesTheOldJpegAndNamesItsFile) {
  qm::test::ScratchDir dir;
  const std::string good = BmpFile(TestPicture(64, 48));
  std::string badDepth = good;
  badDepth[28] = 7;
  const struct {
    const char* Name;
    std::string Bytes;
    std::int32_t Number;
    const char* Says;
  } cases[] = {
      {"cut.bmp", good.substr(0, good.size() - 100), qm::ERR_InvalidPicture, "ended before its last row"},
      {"header.bmp", good.substr(0, 30), qm::ERR_InvalidPicture, "header is cut short"},
      {"depth.bmp", badDepth, qm::ERR_InvalidPicture, "7 bits per pixel"},
      {"empty.bmp", "", qm::ERR_InvalidPicture, "empty"},
      {"missing.bmp", {}, qm::ERR_FileNotFound, "File not found"},
  };
  WriteFile(dir / "out.jpg", "old bytes");
  for (const auto& c : cases) {
    if (c.Number != qm::ERR_FileNotFound) WriteFile(dir / c.Name, c.Bytes);
    const qm::Error e = qm::test::RaisedBy([&] { qm::ConvertToJpeg(dir.Path() / c.Name, dir.Path() / "out.jpg"); });
    EXPECT_EQ(e.Number(), c.Number) << c.Name << ": " << e.Description();
    EXPECT_NE(e.Description().find(c.Says), std::string::npos) << e.Description();
    EXPECT_NE(e.Description().find(c.Name), std::string::npos) << e.Description();
    EXPECT_EQ(ReadFile(dir / "out.jpg"), "old bytes") << c.Name;
  }
  EXPECT_EQ(qm::test::ErrorOf([&] { qm::ConvertToJpeg(dir.Path() / "depth.bmp", dir.Path() / "no/out.jpg"); }),
            qm::ERR_InvalidPicture);
  WriteFile(dir / "good.bmp", good);
  EXPECT_EQ(qm::test::ErrorOf([&] { qm::ConvertToJpeg(dir.Path() / "good.bmp", dir.Path() / "no/out.jpg"); }),
            qm::ERR_PathNotFound);
  EXPECT_EQ(ReadFile(dir / "out.jpg"), "old bytes");
}

}  // namespace
