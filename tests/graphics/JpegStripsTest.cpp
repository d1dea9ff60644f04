#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "graphics/JpegStrips.h"
#include "graphics/PictureFiles.h"
#include "io/Executor.h"
#include "quillmark/graphics/Jpeg.h"
#include "support/ErrorOf.h"

namespace {

using namespace qm;
using namespace qm::test;
using ijl::PixelRows;
using io::Executor;

// Sets the executor's thread limit for a scope.
struct ThreadLimit {
  explicit ThreadLimit(unsigned threads) { Executor::SetLimit(threads); }
  ~ThreadLimit() { Executor::ResetLimit(); }
};

// A noisy picture with padded rows (noise in the padding too), stored top-down.
struct Noisy {
  int Width, Height, Pitch;
  std::vector<std::uint8_t> Bytes;

  Noisy(int width, int height, unsigned seed) : Width(width), Height(height), Pitch((3 * width + 3) & ~3) {
    std::mt19937 random(seed);
    Bytes.resize(static_cast<std::size_t>(Pitch) * height);
    for (std::size_t i = 0; i < Bytes.size(); ++i)
      Bytes[i] = static_cast<std::uint8_t>((i % Pitch * 7 + i / Pitch * 3) % 256 ^ (random() & 31));
  }
  // The rows bottom-up, red first when `rgb`, with `extra` more bytes of
  // padding (0xAB) a row.
  std::vector<std::uint8_t> Flipped(bool rgb = false, int extra = 0) const {
    std::vector<std::uint8_t> out;
    for (int y = Height - 1; y >= 0; --y) {
      for (int x = 0; x < 3 * Width; ++x)
        out.push_back(Bytes[static_cast<std::size_t>(y) * Pitch + (rgb ? x - x % 3 + 2 - x % 3 : x)]);
      out.resize(out.size() + static_cast<std::size_t>(Pitch - 3 * Width + extra), 0xAB);
    }
    return out;
  }
  PixelRows Rows(const std::vector<std::uint8_t>& bytes, bool bottomUp) const {
    return {bytes.data(), Width, Height, Pitch, bottomUp};
  }
};

std::vector<std::uint8_t> Encode(const PixelRows& rows, int mcuRowsPerStrip, int status = ijl::IJL_OK) {
  ijl::StripEncoder encoder;
  std::vector<std::uint8_t> jpeg;
  EXPECT_EQ(ijl::EncodeInStrips(encoder, rows, 90, mcuRowsPerStrip, jpeg), status);
  return jpeg;
}

// Top-down RGB rows decoded by djpeg; empty when it fails or warns (a
// misplaced restart marker is a warning) or the size differs.
std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& jpeg, int width, int height) {
  const ScratchDir dir;
  WriteFile(dir / "in.jpg", std::string(jpeg.begin(), jpeg.end()));
  const test::RgbImage image = DecodeWithDjpeg(dir / "in.jpg");
  return image.Width == width && image.Height == height ? image.Pixels : std::vector<std::uint8_t>{};
}

// Whether a restart interval is defined before the scan begins.
bool HasRestartInterval(const std::vector<std::uint8_t>& jpeg) {
  const std::string bytes(jpeg.begin(), jpeg.end());
  return bytes.find("\xFF\xDD") < bytes.find("\xFF\xDA");
}

TEST(JpegStrips, StripsDecodeToExactlyThePixelsOfOneEncoderInEitherRowAndChannelOrder) {
  // Heights that end inside an MCU row, widths that end inside an MCU and a
  // one-pixel column; strips of one, two and three MCU rows.
  for (const auto& [width, height] : {std::pair{37, 100}, {160, 48}, {1, 33}, {64, 17}}) {
    const Noisy picture(width, height, static_cast<unsigned>(width * height));
    const std::vector<std::uint8_t> flipped = picture.Flipped(), rgb = picture.Flipped(true, 5);
    const auto whole = Decode(Encode(picture.Rows(picture.Bytes, false), 1000), width, height);
    ASSERT_FALSE(whole.empty()) << width << "x" << height;
    for (int mcuRows : {1, 2, 3}) {
      for (unsigned threads : {0u, 3u}) {
        const ThreadLimit limit(threads);
        const auto topDown = Encode(picture.Rows(picture.Bytes, false), mcuRows);
        SCOPED_TRACE(testing::Message() << width << "x" << height << " strips of " << mcuRows << " on " << threads);
        EXPECT_EQ(HasRestartInterval(topDown), height > 16 * mcuRows);
        EXPECT_EQ(Decode(topDown, width, height), whole);
        EXPECT_EQ(Decode(Encode(picture.Rows(flipped, true), mcuRows), width, height), whole);
        // Red-first rows with other padding, bottom-up: the very bytes of the blue-first ones.
        EXPECT_EQ(Encode({rgb.data(), width, height, picture.Pitch + 5, true, true}, mcuRows), topDown);
      }
    }
  }
}

// The strip plan comes from the picture alone and keeps the restart interval
// within sixteen bits; a picture gives the same bytes on any number of
// threads and whatever the environment holds.
TEST(JpegStrips, APictureGivesTheSameBytesOnAnyNumberOfThreadsAndWhateverTheEnvironmentHolds) {
  // 250 MCUs a row: about 256 K pixels a strip; small: one strip; 65,535
  // MCUs in one row: one row a strip; 65,536: no interval fits, one strip.
  for (const auto& [width, height, rows] :
       {std::tuple{4000, 3000, 5}, {64, 64, 4}, {1, 1, 1}, {65535 * 16, 64, 1}, {65536 * 16, 64, 4}})
    EXPECT_EQ(ijl::McuRowsPerStrip(width, height), rows) << width << "x" << height;
  EXPECT_LE(ijl::McuRowsPerStrip(20000, 60000) * (20000 / 16), 65535);
  // 1500 x 1000: six strips of eleven MCU rows. (How close the JPEG is to
  // its source: the PSNR check of SaveAsJPG, which writes through these strips.)
  const Noisy picture(1500, 1000, 5);
  const std::vector<std::uint8_t> bottomUp = picture.Flipped();  // as SaveJPG hands a DIB over
  // A strip plan whose interval does not fit is refused rather than mis-written.
  Encode(picture.Rows(bottomUp, true), 0, ijl::IJL_ENCODER_ERROR);
  const auto encode = [&](unsigned threads) {
    const ThreadLimit limit(threads);
    return Encode(picture.Rows(bottomUp, true), ijl::McuRowsPerStrip(1500, 1000));
  };
  const std::vector<std::uint8_t> reference = encode(0);
  ASSERT_TRUE(HasRestartInterval(reference));
  ASSERT_EQ(Decode(reference, picture.Width, picture.Height).size(), std::size_t{3} * 1500 * 1000);
  // TurboJPEG's variables (read by its tj* calls, not by the libjpeg API) and
  // libjpeg's memory limit (JPEGMEM) change nothing, on any number of threads.
  const std::pair<const char*, const char*> variables[] = {
      {"TJ_OPTIMIZE", "1"}, {"TJ_RESTART", "5"}, {"TJ_PROGRESSIVE", "1"}, {"TJ_ARITHMETIC", "1"}, {"JPEGMEM", "1"}};
  for (int round = 0; round < 2; ++round) {
    for (unsigned threads : {1u, 2u, 3u, 8u})
      EXPECT_TRUE(encode(threads) == reference) << threads << " threads" << (round ? " with the variables set" : "");
    for (const auto& [name, value] : variables) ::setenv(name, value, 1);
  }
  for (const auto& [name, value] : variables) ::unsetenv(name);
}

// ConvertToJpeg streams a picture from its file to the JPEG strip by strip:
// the bytes are those of the writer of a picture in memory, whatever the
// rows' order, depth or format and however many threads help, and a picture
// that cannot be read leaves the old JPEG as it was, with the file named.

TEST(ConvertToJpeg, GivesTheBytesOfTheWriterOfAPictureInMemoryOrLeavesTheOldJpegAndNamesTheFile) {
  ScratchDir dir;
  // 512 x 1600: four strips, more than the strips a lone thread keeps on their way.
  const test::RgbImage picture = TestPicture(512, 1600), small = TestPicture(9, 5);
  std::string palette, indices;
  for (int i = 0; i < 256; ++i) palette += {char(i), char(255 - i), char(i / 2), '\0'};
  for (int i = 0; i < 300 * 400; ++i) indices += char((i % 400 + 3 * (i / 400)) % 256);
  ASSERT_TRUE(WritePng(dir / "small.png", small.Width, small.Height, PNG_FORMAT_RGB, small.Pixels));
  WriteFile(dir / "bottom-up.bmp", BmpFile(picture));
  WriteFile(dir / "top-down.bmp", BmpFile(picture, true));
  WriteFile(dir / "palette.bmp", BmpFile(400, 300, 8, indices, palette));
  for (const char* name : {"bottom-up.bmp", "top-down.bmp", "palette.bmp", "small.png"}) {
    WriteJpeg(ReadPicture(dir.Path() / name), dir.Path() / "reference.jpg", 85);
    for (const unsigned threads : {0u, 2u}) {
      ThreadLimit limit(threads);
      ConvertToJpeg(dir.Path() / name, dir.Path() / "streamed.jpg", 85);
      EXPECT_EQ(ReadFile(dir / "streamed.jpg"), ReadFile(dir / "reference.jpg")) << name << ", " << threads;
    }
  }

  // A picture that cannot be read leaves the old JPEG as it was.
  const std::string good = BmpFile(TestPicture(64, 48));
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"cut.bmp", good.substr(0, good.size() - 100),
       "481: Invalid picture: the file ended before its last row of pixels"},
      {"header.bmp", good.substr(0, 30), "481: Invalid picture: the BMP header is cut short"},
      {"depth.bmp", std::string(good).replace(28, 1, "\7"), "481: Invalid picture: BMP with 7 bits per pixel"},
      {"empty.bmp", "", "481: Invalid picture: the file is empty"},
      {"missing.bmp", "", "53: File not found"},
  };
  WriteFile(dir / "out.jpg", "old bytes");
  for (const auto& [name, bytes, says] : cases) {
    if (name != "missing.bmp") WriteFile(dir / name, bytes);
    EXPECT_EQ(Described([&, &name = name] { ConvertToJpeg(dir.Path() / name, dir.Path() / "out.jpg"); }),
              says + ": '" + (dir / name) + "'");
    EXPECT_EQ(ReadFile(dir / "out.jpg"), "old bytes") << name;
  }
  EXPECT_EQ(ErrorOf([&] { ConvertToJpeg(dir.Path() / "depth.bmp", dir.Path() / "no/out.jpg"); }), ERR_InvalidPicture);
  EXPECT_EQ(ErrorOf([&] { ConvertToJpeg(dir.Path() / "top-down.bmp", dir.Path() / "no/out.jpg"); }), ERR_PathNotFound);
  EXPECT_EQ(ReadFile(dir / "out.jpg"), "old bytes");
}

}  // namespace
