#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <iterator>

#include "quillmark/errors/Error.h"
#include "quillmark/graphics/DIBSection.h"
#include "quillmark/graphics/DeviceContext.h"
#include "quillmark/graphics/Graphics.h"
#include "quillmark/graphics/IJL.h"
#include "quillmark/graphics/Picture.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

#include "PictureFiles.h"

namespace {

using qm::test::BmpFile;
using qm::test::DecodeWithDjpeg;
using qm::test::RaisedBy;
using qm::test::RgbImage;
using qm::test::TestPicture;

void WriteBmp(const std::string& path, const RgbImage& image) { qm::test::WriteFile(path, BmpFile(image)); }

// Peak signal-to-noise ratio of two pictures of the same size, in dB.
double Psnr(const RgbImage& a, const RgbImage& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.Pixels.size(); ++i) {
    const double d = double(a.Pixels[i]) - double(b.Pixels[i]);
    sum += d * d;
  }
  const double mse = sum / static_cast<double>(a.Pixels.size());
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

TEST(DIBSection, RowsArePaddedBottomUpAndReleasedOnReCreate) {
  qm::clsDIBSection dib;
  const std::int32_t expected[] = {4, 8, 12, 12, 16};
  for (std::int32_t w = 1; w <= 5; ++w) {
    ASSERT_TRUE(dib.Create(w, 3));
    EXPECT_EQ(dib.BytesPerScanLine(), expected[w - 1]);
    EXPECT_EQ(dib.Header().biSizeImage, static_cast<std::uint32_t>(3 * expected[w - 1]));
  }

  std::weak_ptr<qm::Bitmap> first = dib.hDC()->SelectedBitmap();
  ASSERT_TRUE(dib.Create(7, 7));
  EXPECT_TRUE(first.expired());  // the first bitmap is gone before the second exists
  EXPECT_EQ(dib.hDC()->SelectedBitmap()->Bits(), dib.DIBSectionBitsPtr());

  EXPECT_FALSE(dib.Create(0, 5));
  EXPECT_EQ(dib.DIBSectionBitsPtr(), nullptr);
  EXPECT_FALSE(dib.Create(100000, 100000));  // more than the pixel memory allowed
  dib.ClearUp();
  EXPECT_EQ(dib.hDC(), nullptr);
}

TEST(DeviceContext, BitBltClipsAndHandlesOverlap) {
  auto bitmap = std::make_shared<qm::Bitmap>(4, 3);
  qm::DeviceContext dc(bitmap);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) bitmap->SetPixel(x, y, static_cast<std::uint32_t>(10 * y + x));
  // The top row is the last one in memory (bottom-up), in blue-green-red order.
  EXPECT_EQ(bitmap->Bits()[2 * 12 + 2 * 3 + 2], 2);
  EXPECT_EQ(bitmap->GetPixel(4, 0), 0xFFFFFFFFu);

  // Overlapping move one row down within the same bitmap.
  ASSERT_TRUE(qm::BitBlt(dc, 0, 1, 4, 3, dc, 0, 0, qm::SRCCOPY));
  EXPECT_EQ(bitmap->GetPixel(3, 2), 13u);
  EXPECT_EQ(bitmap->GetPixel(3, 1), 3u);
  EXPECT_EQ(bitmap->GetPixel(3, 0), 3u);

  qm::DeviceContext empty;
  EXPECT_FALSE(qm::BitBlt(empty, 0, 0, 1, 1, dc, 0, 0, qm::SRCCOPY));
  EXPECT_FALSE(qm::BitBlt(dc, 0, 0, 1, 1, dc, 0, 0, 0x00EE0086));
  // Far outside and huge sizes copy nothing and overflow nothing.
  EXPECT_TRUE(qm::BitBlt(dc, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX, dc, INT32_MAX, INT32_MIN, qm::SRCCOPY));
}

TEST(PictureLoader, APictureGoesIntoTheDibLayoutAndWhatIsNoPictureIsRefused) {
  qm::test::ScratchDir dir;
  const auto image = TestPicture(13, 7);
  WriteBmp(dir / "p.bmp", image);
  qm::clsDIBSection dib;
  dib.CreateFromPicture(*qm::LoadPicture(dir / "p.bmp"));
  ASSERT_NE(dib.DIBSectionBitsPtr(), nullptr);
  // The first row in memory is the picture's bottom row, pixels blue-green-red.
  const std::uint8_t *bottom = dib.DIBSectionBitsPtr() + 3 * 12, *expected = image.At(12, 6);
  EXPECT_EQ((std::vector{bottom[0], bottom[1], bottom[2]}), (std::vector{expected[2], expected[1], expected[0]}));

  // Bad headers are refused in PictureLoaderTest; here the file's own problems.
  qm::test::WriteFile(dir / "empty.bmp", "");
  EXPECT_EQ(RaisedBy([&] { qm::LoadPicture(dir / "empty.bmp"); }).Description(), "Invalid picture: the file is empty");
  EXPECT_EQ(RaisedBy([&] { qm::LoadPicture(dir / "missing.png"); }).Number(), 53);
  EXPECT_EQ(RaisedBy([&] { qm::LoadPicture(dir.Path().string()); }).Number(), 75);
}

TEST(SaveAsJPG, WritesAJpegThatAnotherDecoderReadsBackAndAReplacedFileKeepsItsModeAndTimes) {
  qm::test::ScratchDir dir;
  qm::Graphics g;
  for (const auto& [w, h] : {std::pair{96, 64}, std::pair{1, 16}, std::pair{5, 9}}) {
    const auto image = TestPicture(w, h);
    WriteBmp(dir / "in.bmp", image);
    g.SaveAsJPG(dir / "in.bmp", dir / "out.jpg");
    const RgbImage decoded = DecodeWithDjpeg(dir / "out.jpg");
    ASSERT_EQ(decoded.Width, w);
    ASSERT_EQ(decoded.Height, h);
    // The PSNR goal holds for a picture of some size; the narrow ones (whose
    // rows carry pad bytes) vary too fast per pixel for 4:2:0 chroma.
    EXPECT_GE(Psnr(image, decoded), w > 8 ? 35.0 : 25.0) << w << "x" << h;
    // Top row on top: blue is strong at the top, weak at the bottom.
    EXPECT_GT(decoded.At(0, 0)[2], 180) << w << "x" << h;
    EXPECT_LT(decoded.At(0, h - 1)[2], 90) << w << "x" << h;
  }

  WriteBmp(dir / "in.bmp", TestPicture(8, 8));
  const std::string out = dir / "old.jpg";
  qm::test::WriteFile(out, "previous contents");
  const timespec times[2] = {{1000000000, 123456789}, {1100000000, 987654321}};
  ASSERT_EQ(::utimensat(AT_FDCWD, out.c_str(), times, 0), 0);
  ASSERT_EQ(::chmod(out.c_str(), 0444), 0);

  g.SaveAsJPG(dir / "in.bmp", out);
  struct stat after {};
  ASSERT_EQ(::stat(out.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0444u);
  auto same = [](const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; };
  EXPECT_TRUE(same(after.st_atim, times[0]) && same(after.st_mtim, times[1]));
  EXPECT_EQ(qm::test::ReadFile(out).substr(0, 2), "\xFF\xD8");

  // A new file gets what the platform gives it; no temporary file is left behind.
  const mode_t mask = ::umask(022);
  ::umask(mask);
  g.SaveAsJPG(dir / "in.bmp", dir / "new.jpg");
  ASSERT_EQ(::stat((dir / "new.jpg").c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 0777, 0666u & ~mask);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 4);  // with out.jpg
}

TEST(SaveAsJPG, BadInputGivesClearErrors) {
  qm::test::ScratchDir dir;
  qm::Graphics g;
  qm::test::WriteFile(dir / "notes.txt", "no picture");
  auto e = RaisedBy([&] { g.SaveAsJPG(dir / "notes.txt", dir / "x.jpg"); });
  EXPECT_EQ(e.Number(), qm::ERR_InvalidPicture);
  EXPECT_EQ(e.Source(), "QuillmarkLibrary.Graphics|[Graphics]Public Sub SaveAsJPG(\"" + (dir / "notes.txt") + "\", \"" +
                            (dir / "x.jpg") + "\")");

  WriteBmp(dir / "in.bmp", TestPicture(4, 4));
  const std::string unwritable = dir / "no-such-folder/x.jpg";
  e = RaisedBy([&] { g.SaveAsJPG(dir / "in.bmp", unwritable); });
  EXPECT_EQ(e.Number(), 26001);
  EXPECT_EQ(e.Description(), "Failed to save to JPG " + std::to_string(qm::ijl::IJL_FILE_ERROR));
  EXPECT_EQ(e.Source(), "Lib.mIntelJPEGLibrary|[IJL]Public Function SaveJPG(?, \"" + unwritable +
                            "\", 90)|[Graphics]Public Sub SaveAsJPG(\"" + (dir / "in.bmp") + "\", \"" + unwritable +
                            "\")");

  // An empty DIB (a picture whose size could not be had) fails in the writer.
  qm::clsDIBSection empty;
  e = RaisedBy([&] { qm::mdlIntelJPEGLibrary::SaveJPG(empty, dir / "e.jpg", 90); });
  EXPECT_EQ(e.Number(), 26001);
  EXPECT_EQ(e.Description(), "Failed to save to JPG " + std::to_string(qm::ijl::IJL_INVALID_JPEG_PROPERTIES));

  // A failed write leaves the file it would have replaced as it was.
  qm::clsDIBSection dib;
  ASSERT_TRUE(dib.Create(4, 4));
  qm::test::WriteFile(dir / "keep.jpg", "keep me");
  EXPECT_EQ(RaisedBy([&] { qm::mdlIntelJPEGLibrary::SaveJPG(dib, dir / "keep.jpg", 0); }).Number(), 26001);
  EXPECT_EQ(qm::test::ReadFile(dir / "keep.jpg"), "keep me");
  EXPECT_TRUE(qm::mdlIntelJPEGLibrary::SaveJPG(dib, dir / "keep.jpg", 100));
}

}  // namespace
