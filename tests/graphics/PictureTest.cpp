#include <gtest/gtest.h>

#include "graphics/ImageFiles.h"
#include "quillmark/frame/Error.h"
#include "quillmark/graphics/DIBSection.h"
#include "quillmark/graphics/DeviceContext.h"
#include "quillmark/graphics/Picture.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using qm::test::RaisedBy;

TEST(DIBSection, RowsArePaddedBottomUpAndReleasedOnReCreate) {
  qm::clsDIBSection dib;
  const std::int32_t expected[] = {4, 8, 12, 12, 16};
  for (std::int32_t w = 1; w <= 5; ++w) {
    ASSERT_TRUE(dib.Create(w, 3));
    EXPECT_EQ(dib.BytesPerScanLine(), expected[w - 1]);
    EXPECT_EQ(dib.Header().biSizeImage, static_cast<std::uint32_t>(3 * expected[w - 1]));
  }
  ASSERT_TRUE(dib.Create(1, 2));
  EXPECT_EQ(dib.BytesPerScanLine() - 3 * dib.Width(), 1);  // the pad bytes of a 1-pixel-wide row

  std::weak_ptr<qm::Bitmap> first = dib.hDC()->SelectedBitmap();
  ASSERT_TRUE(dib.Create(7, 7));
  EXPECT_TRUE(first.expired());  // the first bitmap is gone before the second exists
  EXPECT_EQ(dib.hDC()->SelectedBitmap()->Bits(), dib.DIBSectionBitsPtr());

  EXPECT_FALSE(dib.Create(0, 5));
  EXPECT_EQ(dib.DIBSectionBitsPtr(), nullptr);
  EXPECT_EQ(dib.Width(), 0);  // the header keeps the size asked for
  EXPECT_EQ(dib.Height(), 5);
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
  EXPECT_EQ(qm::Bitmap::BytesPerScanLine(5), 16);
}

TEST(PictureLoader, LoadsPngAndBmpIntoTheDibLayoutAndRefusesWhatIsNoPicture) {
  qm::test::ScratchDir dir;
  const auto image = qm::test::TestPicture(13, 7);
  qm::test::WritePng(dir / "p.png", image);
  qm::test::WriteBmp(dir / "p.bmp", image);
  for (const char* name : {"p.png", "p.bmp"}) {
    const auto picture = qm::LoadPicture(dir / name);
    ASSERT_EQ(picture->Width(), 13);
    ASSERT_EQ(picture->Height(), 7);
    qm::clsDIBSection dib;
    dib.CreateFromPicture(*picture);
    ASSERT_NE(dib.DIBSectionBitsPtr(), nullptr);
    // The first row in memory is the picture's bottom row, pixels blue-green-red.
    const std::uint8_t* bottom = dib.DIBSectionBitsPtr();
    const std::uint8_t* expected = image.At(12, 6);
    EXPECT_EQ(bottom[3 * 12 + 0], expected[2]) << name;
    EXPECT_EQ(bottom[3 * 12 + 1], expected[1]) << name;
    EXPECT_EQ(bottom[3 * 12 + 2], expected[0]) << name;
    const std::uint8_t* top = dib.DIBSectionBitsPtr() + 6 * dib.BytesPerScanLine();
    EXPECT_EQ(top[0], image.At(0, 0)[2]) << name;
  }

  qm::test::WriteFile(dir / "notes.txt", "this is not a picture\n");
  auto e = RaisedBy([&] { qm::LoadPicture(dir / "notes.txt"); });
  EXPECT_EQ(e.Number(), qm::ERR_InvalidPicture);
  EXPECT_EQ(e.Description().rfind("Invalid picture: ", 0), 0u) << e.Description();

  qm::test::WriteFile(dir / "empty.bmp", "");
  EXPECT_EQ(RaisedBy([&] { qm::LoadPicture(dir / "empty.bmp"); }).Description(), "Invalid picture: the file is empty");
  EXPECT_EQ(RaisedBy([&] { qm::LoadPicture(dir / "missing.png"); }).Number(), 53);
  EXPECT_EQ(RaisedBy([&] { qm::LoadPicture(dir.Path().string()); }).Number(), 75);

  // A BMP header that declares a picture of width 0, and one far beyond the pixel limit.
  auto header = [](std::int32_t width, std::int32_t height) {
    std::string b = "BM";
    auto put32 = [&](std::uint32_t v) {
      for (int i = 0; i < 4; ++i) b += static_cast<char>(v >> (8 * i));
    };
    put32(54 + 12);
    put32(0);
    put32(54);
    put32(40);
    put32(static_cast<std::uint32_t>(width));
    put32(static_cast<std::uint32_t>(height));
    b += std::string("\x01\x00\x18\x00", 4);
    for (int i = 0; i < 6; ++i) put32(0);
    return b + std::string(12, '\0');
  };
  qm::test::WriteFile(dir / "zero.bmp", header(0, 4));
  EXPECT_EQ(RaisedBy([&] { qm::LoadPicture(dir / "zero.bmp"); }).Number(), qm::ERR_InvalidPicture);
  qm::test::WriteFile(dir / "huge.bmp", header(60000, 60000));
  EXPECT_EQ(RaisedBy([&] { qm::LoadPicture(dir / "huge.bmp"); }).Number(), qm::ERR_InvalidPicture);
}

}  // namespace
