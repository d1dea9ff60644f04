#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "graphics/JpegStrips.h"
#include "quillmark/graphics/IJL.h"

namespace {

using qm::ijl::BgrRows;

struct Encoder {
  tjhandle Handle = tjInitCompress();
  ~Encoder() { tjDestroy(Handle); }
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
  BgrRows Rows(const std::vector<std::uint8_t>& bytes, bool bottomUp) const {
    return {bytes.data(), Width, Height, Pitch, bottomUp};
  }
};

std::vector<std::uint8_t> Encode(const BgrRows& rows, unsigned workers, int mcuRowsPerStrip) {
  Encoder encoder;
  std::vector<std::uint8_t> jpeg;
  EXPECT_EQ(qm::ijl::EncodeInStrips(encoder.Handle, rows, 90, workers, mcuRowsPerStrip, jpeg), qm::ijl::IJL_OK);
  return jpeg;
}

// Top-down RGB rows; empty when the decoder fails or warns (a misplaced
// restart marker is a warning).
std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& jpeg, int width, int height) {
  tjhandle handle = tjInitDecompress();
  int w = 0, h = 0, subsampling = 0, colorspace = 0;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
  if (tjDecompressHeader3(handle, jpeg.data(), jpeg.size(), &w, &h, &subsampling, &colorspace) != 0 || w != width ||
      h != height || tjDecompress2(handle, jpeg.data(), jpeg.size(), pixels.data(), w, 0, h, TJPF_RGB, 0) != 0)
    pixels.clear();
  tjDestroy(handle);
  return pixels;
}

bool HasRestartInterval(const std::vector<std::uint8_t>& jpeg) {
  for (std::size_t i = 0; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA)
      return false;  // the scan began first
    else if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDD)
      return true;
  return false;
}

TEST(JpegStrips, StripsDecodeToExactlyThePixelsOfOneEncoderInEitherRowOrder) {
  // Heights that end inside an MCU row, widths that end inside an MCU and a
  // one-pixel column; strips of one, two and three MCU rows.
  for (const auto& [width, height] : {std::pair{37, 100}, {160, 48}, {1, 33}, {64, 17}}) {
    const Picture picture(width, height, static_cast<unsigned>(width * height));
    const std::vector<std::uint8_t> flipped = picture.Flipped();
    const auto whole = Decode(Encode(picture.Rows(picture.Bytes, false), 1, 1000), width, height);
    ASSERT_FALSE(whole.empty()) << width << "x" << height;
    for (int mcuRows : {1, 2, 3}) {
      for (unsigned workers : {1u, 3u}) {
        const auto topDown = Encode(picture.Rows(picture.Bytes, false), workers, mcuRows);
        const auto bottomUp = Encode(picture.Rows(flipped, true), workers, mcuRows);
        SCOPED_TRACE(testing::Message() << width << "x" << height << " strips of " << mcuRows << " on " << workers);
        EXPECT_EQ(HasRestartInterval(topDown), height > 16 * mcuRows);
        EXPECT_EQ(Decode(topDown, width, height), whole);
        EXPECT_EQ(Decode(bottomUp, width, height), whole);
      }
    }
  }
}

TEST(JpegStrips, PlanKeepsSmallPicturesWholeAndTheIntervalWithinSixteenBits) {
  using qm::ijl::McuRowsPerStrip;
  EXPECT_EQ(McuRowsPerStrip(4000, 3000, 1), 188);  // one worker: one strip
  EXPECT_EQ(McuRowsPerStrip(64, 64, 8), 4);        // too small to share
  const int rows = McuRowsPerStrip(4000, 3000, 2);
  EXPECT_GT(rows, 1);
  EXPECT_LT(rows, 188 / 2);                          // more strips than workers
  EXPECT_EQ(McuRowsPerStrip(65535 * 16, 64, 4), 1);  // 65,535 MCUs in one row: one row a strip
  EXPECT_EQ(McuRowsPerStrip(65536 * 16, 64, 4), 4);  // no interval fits: one strip
  EXPECT_LE(McuRowsPerStrip(20000, 60000, 4) * (20000 / 16), 65535);

  // A strip plan whose interval does not fit is refused rather than mis-written.
  const Picture picture(16, 32, 1);
  Encoder encoder;
  std::vector<std::uint8_t> jpeg;
  EXPECT_EQ(qm::ijl::EncodeInStrips(encoder.Handle, picture.Rows(picture.Bytes, false), 90, 2, 0, jpeg),
            qm::ijl::IJL_ENCODER_ERROR);
}

TEST(JpegStrips, JoiningRefusesStripsThatAreNotPlainBaselineJpeg) {
  const Picture picture(48, 48, 2);
  const auto baseline = Encode(picture.Rows(picture.Bytes, false), 1, 1000);
  std::vector<std::uint8_t> out;
  const auto join = [&](std::vector<std::uint8_t> strip) {
    const std::span<const std::uint8_t> parts[] = {baseline, strip};
    return qm::ijl::JoinStrips(parts, 96, 9, out);
  };
  EXPECT_TRUE(join(baseline));
  EXPECT_EQ(Decode(out, 48, 96).size(), 48u * 96 * 3);

  EXPECT_FALSE(join({}));
  EXPECT_FALSE(join({0xFF, 0xD8, 0xFF, 0xD9}));  // no frame, no scan
  EXPECT_FALSE(join({baseline.begin(), baseline.begin() + baseline.size() / 2}));  // no end marker
  unsigned char* progressive = nullptr;
  unsigned long size = 0;
  Encoder encoder;
  ASSERT_EQ(tjCompress2(encoder.Handle, picture.Bytes.data(), 48, picture.Pitch, 48, TJPF_BGR, &progressive, &size,
                        TJSAMP_420, 90, TJFLAG_PROGRESSIVE),
            0);
  std::unique_ptr<unsigned char, decltype(&tjFree)> owned(progressive, &tjFree);
  EXPECT_FALSE(join({progressive, progressive + size}));
}

}  // namespace
