#include <gif_lib.h>
#include <gtest/gtest.h>

#include "PictureFiles.h"
#include "quillmark/frame/Error.h"
#include "quillmark/graphics/Picture.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using qm::test::BmpFile;
using qm::test::PixelsOf;
using qm::test::PutLe;
using qm::test::RaisedBy;
using qm::test::ReadFile;
using qm::test::RgbImage;
using qm::test::TestPicture;
using qm::test::WriteFile;

std::shared_ptr<qm::Picture> Load(const std::string& bytes) {
  return qm::LoadPictureFromMemory({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

std::string LoadError(const std::string& bytes) {
  return RaisedBy([&] { Load(bytes); }).Description();
}

// Red, green, blue of the pixel at (x, y), counted from the top left.
std::vector<int> Rgb(const qm::Picture& picture, int x, int y) {
  const std::uint8_t* p = picture.Handle()->Row(y) + 3 * x;
  return {p[2], p[1], p[0]};
}

// Every shorter prefix of a file either loads or is refused with 481.
void EveryPrefixLoadsOrIsRefused(const std::string& file, const char* what) {
  for (std::size_t n = 1; n < file.size(); ++n) {
    const qm::Error e = RaisedBy([&] { Load(file.substr(0, n)); });
    EXPECT_TRUE(e.Number() == 0 || e.Number() == qm::ERR_InvalidPicture) << what << " cut at " << n << ": " << e.Description();
  }
}

TEST(PictureLoader, ReadsBmpFilesOfEveryDepthAndBothRowOrders) {
  const RgbImage image = TestPicture(7, 5);
  // 24 bits, bottom-up and top-down, give the same picture.
  EXPECT_EQ(PixelsOf(*Load(BmpFile(image))), image);
  EXPECT_EQ(PixelsOf(*Load(BmpFile(image, true))), image);
  qm::test::ScratchDir dir;
  WriteFile(dir / "top-down.bmp", BmpFile(image, true));
  EXPECT_EQ(PixelsOf(*qm::LoadPicture(dir / "top-down.bmp")), image);

  // Palettes of 1, 4 and 8 bits: entries blue, green, red, 0. Index 3 lies
  // beyond the 2-entry table of the 8-bit file and is black.
  const std::string palette = std::string("\x10\x20\x30\0\x40\x50\x60\0", 8);
  auto row = [](std::string bytes) { return bytes + std::string((4 - bytes.size() % 4) % 4, '\0'); };
  auto bits1 = Load(BmpFile(9, 2, 1, row("\x80\x80") + row(std::string("\x00\x00", 2)), palette));
  EXPECT_EQ(Rgb(*bits1, 0, 1), (std::vector{0x60, 0x50, 0x40}));
  EXPECT_EQ(Rgb(*bits1, 8, 1), (std::vector{0x60, 0x50, 0x40}));
  EXPECT_EQ(Rgb(*bits1, 1, 1), (std::vector{0x30, 0x20, 0x10}));
  EXPECT_EQ(Rgb(*bits1, 0, 0), (std::vector{0x30, 0x20, 0x10}));
  auto bits4 = Load(BmpFile(3, -1, 4, row("\x01\x10"), palette));
  EXPECT_EQ(Rgb(*bits4, 1, 0), (std::vector{0x60, 0x50, 0x40}));
  EXPECT_EQ(Rgb(*bits4, 2, 0), (std::vector{0x60, 0x50, 0x40}));
  auto bits8 = Load(BmpFile(2, 1, 8, row("\x01\x03"), palette));
  EXPECT_EQ(Rgb(*bits8, 0, 0), (std::vector{0x60, 0x50, 0x40}));
  EXPECT_EQ(Rgb(*bits8, 1, 0), (std::vector{0, 0, 0}));

  // 16 bits: 5-5-5 by default, 5-6-5 with masks; 32 bits with masks in any order.
  std::string p16;
  PutLe(p16, 0x7FFF, 2), PutLe(p16, 0x0421, 2);
  auto rgb555 = Load(BmpFile(2, 1, 16, p16));
  EXPECT_EQ(Rgb(*rgb555, 0, 0), (std::vector{255, 255, 255}));
  EXPECT_EQ(Rgb(*rgb555, 1, 0), (std::vector{8, 8, 8}));
  std::string masks565, p565;
  for (std::uint32_t m : {0xF800u, 0x07E0u, 0x001Fu}) PutLe(masks565, m, 4);
  PutLe(p565, 0xF800 | 0x20 << 5 | 0x01, 2);
  EXPECT_EQ(Rgb(*Load(BmpFile(1, 1, 16, row(p565), masks565, 3)), 0, 0), (std::vector{255, 130, 8}));
  std::string masks32, p32;
  for (std::uint32_t m : {0x000000FFu, 0x0000FF00u, 0x00FF0000u}) PutLe(masks32, m, 4);
  PutLe(p32, 0x00332211, 4);
  EXPECT_EQ(Rgb(*Load(BmpFile(1, 1, 32, p32, masks32, 3)), 0, 0), (std::vector{0x11, 0x22, 0x33}));
}

TEST(PictureLoader, RefusesBadBmpHeadersWithTheDocumentedError) {
  const std::string good = BmpFile(TestPicture(4, 3));
  auto with = [&](std::size_t at, std::uint32_t value, int bytes) {
    std::string b = good;
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<char>(value >> (8 * i));
    return b;
  };
  EXPECT_EQ(LoadError(with(14, 20, 4)), "Invalid picture: BMP header of unknown size 20");
  EXPECT_EQ(LoadError(with(26, 0, 2)), "Invalid picture: bad BMP: 0 planes");
  EXPECT_EQ(LoadError(with(28, 7, 2)), "Invalid picture: BMP with 7 bits per pixel");
  EXPECT_EQ(LoadError(with(30, 1, 4)), "Invalid picture: BMP compression 1 is not supported");
  EXPECT_EQ(LoadError(with(30, 3, 4)), "Invalid picture: BMP colour masks need 16 or 32 bits per pixel");
  EXPECT_EQ(LoadError(with(10, 1u << 30, 4)), "Invalid picture: bad BMP pixel offset");
  EXPECT_EQ(LoadError(with(18, 0, 4)), "Invalid picture: the picture has no pixels");
  EXPECT_EQ(LoadError(with(22, 0x80000000u, 4)), "Invalid picture: the picture is larger than 64 megapixels");
  EXPECT_EQ(LoadError(with(18, 0x7FFFFFFFu, 4)), "Invalid picture: the picture is larger than 64 megapixels");
  EXPECT_EQ(LoadError(BmpFile(1, 1, 8, std::string(4, '\0'))), "Invalid picture: the BMP colour table is missing");
  std::string gappy;  // masks that are not one run of bits
  for (std::uint32_t m : {0x0F0Fu, 0x00F0u, 0x0001u}) PutLe(gappy, m, 4);
  EXPECT_EQ(LoadError(BmpFile(1, 1, 16, std::string(4, '\0'), gappy, 3)), "Invalid picture: bad BMP colour masks");

  // A file cut short in its pixels is refused from memory and from a file alike.
  const std::string cut = good.substr(0, good.size() - 1);
  EXPECT_EQ(LoadError(cut), "Invalid picture: the file ended before its last row of pixels");
  qm::test::ScratchDir dir;
  WriteFile(dir / "cut.bmp", cut);
  EXPECT_EQ(RaisedBy([&] { qm::LoadPicture(dir / "cut.bmp"); }).Description(),
            "Invalid picture: the file ended before its last row of pixels");
  EveryPrefixLoadsOrIsRefused(BmpFile(TestPicture(3, 2), true), "top-down BMP");
}

TEST(PictureLoader, JpegDecodesLikeDjpegAndBrokenHuffmanTablesAreRefused) {
  qm::test::ScratchDir dir;
  WriteFile(dir / "in.ppm", qm::test::PpmFile(TestPicture(37, 23)));
  for (const std::string options : {"-quality 90", "-progressive", "-grayscale", "-sample 1x1 -optimize"}) {
    qm::test::Output("cjpeg " + options + " '" + (dir / "in.ppm") + "' > '" + (dir / "p.jpg") + "'");
    const RgbImage reference = qm::test::DecodeWithDjpeg(dir / "p.jpg");
    ASSERT_EQ(reference.Width, 37) << options;
    EXPECT_EQ(PixelsOf(*qm::LoadPicture(dir / "p.jpg")), reference) << options;
  }
  // Adobe CMYK (here YCCK, as TurboJPEG writes it) is multiplied by K: ink 200, 100, 50 at K 128.
  const auto cmyk = qm::LoadPicture((qm::test::SourceDir() / "fuzz/corpus/picture/cmyk.jpg").string());
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(Rgb(*cmyk, 5, 5)[c], (std::vector{100, 50, 25})[c], 2);

  // Cut inside its pixel data, the picture keeps its size (the rest is filled in).
  const std::string jpeg = ReadFile(dir / "p.jpg");
  EXPECT_EQ(Load(jpeg.substr(0, jpeg.size() * 3 / 4))->Width(), 37);
  EveryPrefixLoadsOrIsRefused(jpeg, "JPEG");

  // An 8 x 8 grey picture with one Huffman table segment for DC and AC.
  auto segment = [](int marker, const std::string& body) {
    std::string s{'\xFF', static_cast<char>(marker)};
    s += static_cast<char>((body.size() + 2) >> 8);
    s += static_cast<char>(body.size() + 2);
    return s + body;
  };
  auto picture = [&](const std::string& counts, const std::string& symbols, const std::string& data) {
    std::string dht = std::string(1, '\0') + counts + symbols;
    dht += std::string(1, '\x10') + counts + symbols;
    return "\xFF\xD8" + segment(0xDB, std::string(1, '\0') + std::string(64, '\1')) +
           segment(0xC0, std::string("\x08\x00\x08\x00\x08\x01\x01\x11\x00", 9)) + segment(0xC4, dht) +
           segment(0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6)) + data + "\xFF\xD9";
  };
  const std::string oneCode = std::string(1, '\1') + std::string(15, '\0');
  EXPECT_EQ(PixelsOf(*Load(picture(oneCode, std::string(1, '\0'), "\x3F"))).Pixels, std::vector<std::uint8_t>(192, 128));
  // Three codes of length 1, and more than 256 codes: refused, nothing written out of bounds.
  const std::string threeOfLength1 = std::string(1, '\3') + std::string(15, '\0');
  EXPECT_EQ(RaisedBy([&] { Load(picture(threeOfLength1, std::string(3, '\0'), "\x3F")); }).Number(), qm::ERR_InvalidPicture);
  const std::string tooMany = std::string(14, '\0') + "\xFF\xFF";
  EXPECT_EQ(RaisedBy([&] { Load(picture(tooMany, std::string(510, '\0'), "\x3F")); }).Number(), qm::ERR_InvalidPicture);
  // Data that matches no code of an incomplete table: the decoder works around it.
  EXPECT_EQ(Load(picture(oneCode, std::string(1, '\0'), std::string("\xFF\x00\xFF\x00", 4)))->Height(), 8);
}

TEST(PictureLoader, PngOfEveryColourTypeBecomesBlueGreenRedWithoutAlpha) {
  qm::test::ScratchDir dir;
  const RgbImage image = TestPicture(9, 4);
  ASSERT_TRUE(qm::test::WritePng(dir / "rgb.png", image));
  EXPECT_EQ(PixelsOf(*qm::LoadPicture(dir / "rgb.png")), image);

  ASSERT_TRUE(qm::test::WritePng(dir / "rgba.png", 2, 1, PNG_FORMAT_RGBA, {10, 20, 30, 0, 40, 50, 60, 128}));
  auto rgba = qm::LoadPicture(dir / "rgba.png");
  EXPECT_EQ(Rgb(*rgba, 0, 0), (std::vector{10, 20, 30}));  // transparency dropped, colour kept
  EXPECT_EQ(Rgb(*rgba, 1, 0), (std::vector{40, 50, 60}));
  ASSERT_TRUE(qm::test::WritePng(dir / "grey.png", 2, 1, PNG_FORMAT_GRAY, {7, 200}));
  EXPECT_EQ(Rgb(*qm::LoadPicture(dir / "grey.png"), 1, 0), (std::vector{200, 200, 200}));
  const png_color colours[] = {{1, 2, 3}, {4, 5, 6}};
  ASSERT_TRUE(qm::test::WritePng(dir / "palette.png", 2, 1, PNG_FORMAT_RGB_COLORMAP, {1, 0}, colours, 2));
  EXPECT_EQ(Rgb(*qm::LoadPicture(dir / "palette.png"), 0, 0), (std::vector{4, 5, 6}));
  // 16-bit samples keep their high byte.
  const std::vector<std::uint8_t> wide{0xCD, 0xAB};  // 0xABCD, little-endian in memory
  ASSERT_TRUE(qm::test::WritePng(dir / "deep.png", 1, 1, PNG_FORMAT_LINEAR_Y, wide));
  EXPECT_EQ(Rgb(*qm::LoadPicture(dir / "deep.png"), 0, 0), (std::vector{0xAB, 0xAB, 0xAB}));

  const std::string png = ReadFile(dir / "rgb.png");
  EXPECT_EQ(RaisedBy([&] { Load(png.substr(0, png.size() - 20)); }).Number(), qm::ERR_InvalidPicture);
  EveryPrefixLoadsOrIsRefused(png, "PNG");
  std::string huge = png;  // the width field says 1,000,000 pixels, the height 1,000
  huge.replace(16, 8, std::string("\x00\x0F\x42\x40\x00\x00\x03\xE8", 8));
  EXPECT_EQ(LoadError(huge), "Invalid picture: the picture is larger than 64 megapixels");
}

// A GIF written with giflib: a 4 x 3 screen with background colour 2 and one
// 2 x 2 frame at (1, 1) whose colour 1 is transparent.
std::string TestGif(const std::string& path, bool interlaced = false) {
  int error = 0;
  GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
  GifColorType colours[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}};
  ColorMapObject* map = GifMakeMapObject(4, colours);
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, 4, 3, 2, 2, map);
  const GifByteType control[4] = {0x01, 0, 0, 1};
  EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control);
  EGifPutImageDesc(gif, 1, 1, 2, 2, interlaced, nullptr);
  GifPixelType rows[2][2] = {{0, 1}, {3, 0}};
  for (auto& r : rows) EGifPutLine(gif, r, 2);
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return ReadFile(path);
}

TEST(PictureLoader, GifFirstFrameOnItsBackgroundWithTransparentPixelsBlack) {
  qm::test::ScratchDir dir;
  const std::string gif = TestGif(dir / "t.gif");
  auto picture = qm::LoadPicture(dir / "t.gif");
  ASSERT_EQ(picture->Width(), 4);
  ASSERT_EQ(picture->Height(), 3);
  EXPECT_EQ(Rgb(*picture, 0, 0), (std::vector{0, 0, 255}));  // outside the frame: background
  EXPECT_EQ(Rgb(*picture, 3, 2), (std::vector{0, 0, 255}));
  EXPECT_EQ(Rgb(*picture, 1, 1), (std::vector{255, 0, 0}));
  EXPECT_EQ(Rgb(*picture, 2, 1), (std::vector{0, 0, 0}));  // transparent
  EXPECT_EQ(Rgb(*picture, 1, 2), (std::vector{9, 9, 9}));
  EveryPrefixLoadsOrIsRefused(gif, "GIF");

  // Interlaced rows are put back in order: row y of a 1 x 10 frame has colour y % 4.
  int error = 0;
  GifFileType* out = EGifOpenFileName((dir / "i.gif").c_str(), false, &error);
  GifColorType colours[4] = {{10, 0, 0}, {20, 0, 0}, {30, 0, 0}, {40, 0, 0}};
  ColorMapObject* map = GifMakeMapObject(4, colours);
  EGifPutScreenDesc(out, 1, 10, 2, 0, map);
  EGifPutImageDesc(out, 0, 0, 1, 10, true, nullptr);
  for (int y : {0, 8, 4, 2, 6, 1, 3, 5, 7, 9}) {
    GifPixelType pixel = static_cast<GifPixelType>(y % 4);
    EGifPutLine(out, &pixel, 1);
  }
  EGifCloseFile(out, &error);
  GifFreeMapObject(map);
  auto interlaced = qm::LoadPicture(dir / "i.gif");
  for (int y = 0; y < 10; ++y) EXPECT_EQ(Rgb(*interlaced, 0, y)[0], 10 * (y % 4 + 1)) << y;

  std::string outside = gif;  // the frame's left edge moved to 3: it no longer fits the screen
  outside[outside.find('\x2C') + 1] = 3;
  EXPECT_EQ(LoadError(outside), "Invalid picture: the GIF frame lies outside the picture");
  EXPECT_EQ(LoadError("GIF89a"), "Invalid picture: " + std::string(GifErrorString(D_GIF_ERR_NO_SCRN_DSCR)));
  EXPECT_EQ(RaisedBy([&] { Load("\x89PNG\r\n\x1A\n"); }).Number(), qm::ERR_InvalidPicture);
  EXPECT_EQ(LoadError("P6\n1 1\n255\nabc"), "Invalid picture: not a BMP, GIF, JPEG or PNG file");
}

}  // namespace
