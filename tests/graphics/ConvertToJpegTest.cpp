// ConvertToJpeg streams a picture from its file to the JPEG strip by strip:
// the bytes are those of the writer of a picture in memory, whatever the
// rows' order, depth or format and however many threads help, and a picture
// that cannot be read leaves the old JPEG as it was, with the file named.

#include <gtest/gtest.h>

#include <string>

#include "PictureFiles.h"
#include "io/Executor.h"
#include "quillmark/errors/Error.h"
#include "quillmark/graphics/Jpeg.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using qm::test::BmpFile;
using qm::test::ReadFile;
using qm::test::TestPicture;
using qm::test::WriteFile;

struct ThreadLimit {
  explicit ThreadLimit(unsigned threads) { qm::io::Executor::SetLimit(threads); }
  ~ThreadLimit() { qm::io::Executor::ResetLimit(); }
};

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
  EXPECT_EQ(decoded.Width, small.Width);
  EXPECT_EQ(decoded.Height, small.Height);
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
