#include <gif_lib.h>
#include <gtest/gtest.h>

#include <array>

#include "PictureFiles.h"
#include "quillmark/errors/Error.h"
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

bool Refused(const std::string& bytes) {
  return RaisedBy([&] { Load(bytes); }).Number() == qm::ERR_InvalidPicture;
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
    EXPECT_TRUE(e.Number() == 0 || e.Number() == qm::ERR_InvalidPicture)
        << what << " cut at " << n << ": " << e.Description();
  }
}

TEST(PictureLoader, ReadsBmpFilesOfEveryDepthAndBothRowOrders) {
  const RgbImage image = TestPicture(7, 5);
  // 24 bits, bottom-up and top-down, give the same picture.
  EXPECT_EQ(PixelsOf(*Load(BmpFile(image))), image);
  EXPECT_EQ(PixelsOf(*Load(BmpFile(image, true))), image);

  // Palettes of 1, 4 and 8 bits: entries blue, green, red, 0. Index 3 lies
  // beyond the 2-entry table of the 8-bit file and is black.
  const std::string palette = std::string("\x10\x20\x30\0\x40\x50\x60\0", 8);
  auto row = [](std::string bytes) { return bytes + std::string((4 - bytes.size() % 4) % 4, '\0'); };
  const std::vector first{0x30, 0x20, 0x10}, second{0x60, 0x50, 0x40};
  auto bits1 = Load(BmpFile(9, 2, 1, row("\x80\x80") + row(std::string("\x00\x00", 2)), palette));
  EXPECT_EQ((std::vector{Rgb(*bits1, 8, 1), Rgb(*bits1, 1, 1), Rgb(*bits1, 0, 0)}),
            (std::vector{second, first, first}));
  auto bits4 = Load(BmpFile(3, -1, 4, row("\x01\x10"), palette));
  EXPECT_EQ((std::vector{Rgb(*bits4, 1, 0), Rgb(*bits4, 2, 0)}), (std::vector{second, second}));
  auto bits8 = Load(BmpFile(2, 1, 8, row("\x01\x03"), palette));
  EXPECT_EQ((std::vector{Rgb(*bits8, 0, 0), Rgb(*bits8, 1, 0)}), (std::vector{second, std::vector{0, 0, 0}}));

  // 16 bits: 5-5-5 by default, 5-6-5 with masks; 32 bits with masks in any order.
  std::string p16;
  PutLe(p16, 0x7FFF, 2), PutLe(p16, 0x0421, 2);
  EXPECT_EQ(PixelsOf(*Load(BmpFile(2, 1, 16, p16))).Pixels, (std::vector<std::uint8_t>{255, 255, 255, 8, 8, 8}));
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
  const std::string big = "the picture is larger than 64 megapixels";
  const struct {
    std::size_t At;
    std::uint32_t Value;
    int Bytes;
    std::string Error;
  } cases[] = {{14, 20, 4, "BMP header of unknown size 20"},
               {26, 0, 2, "bad BMP: 0 planes"},
               {28, 7, 2, "BMP with 7 bits per pixel"},
               {30, 1, 4, "BMP compression 1 is not supported"},
               {30, 3, 4, "BMP colour masks need 16 or 32 bits per pixel"},
               {10, 1u << 30, 4, "bad BMP pixel offset"},
               {18, 0, 4, "the picture has no pixels"},
               {22, 0x80000000u, 4, big},
               {18, 0x7FFFFFFFu, 4, big}};
  for (const auto& c : cases) EXPECT_EQ(LoadError(with(c.At, c.Value, c.Bytes)), "Invalid picture: " + c.Error);
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
  EXPECT_EQ(PixelsOf(*Load(picture(oneCode, std::string(1, '\0'), "\x3F"))).Pixels,
            std::vector<std::uint8_t>(192, 128));
  // Three codes of length 1, and more than 256 codes: refused, nothing written out of bounds.
  const std::string threeOfLength1 = std::string(1, '\3') + std::string(15, '\0');
  EXPECT_TRUE(Refused(picture(threeOfLength1, std::string(3, '\0'), "\x3F")));
  const std::string tooMany = std::string(14, '\0') + "\xFF\xFF";
  EXPECT_TRUE(Refused(picture(tooMany, std::string(510, '\0'), "\x3F")));
  // Data that matches no code of an incomplete table: the decoder works around it.
  EXPECT_EQ(Load(picture(oneCode, std::string(1, '\0'), std::string("\xFF\x00\xFF\x00", 4)))->Height(), 8);
}

TEST(PictureLoader, PngOfEveryColourTypeBecomesBlueGreenRedWithoutAlpha) {
  qm::test::ScratchDir dir;
  const RgbImage image = TestPicture(9, 4);
  ASSERT_TRUE(qm::test::WritePng(dir / "rgb.png", image));
  EXPECT_EQ(PixelsOf(*qm::LoadPicture(dir / "rgb.png")), image);

  // Two pixels each: transparency dropped with the colour kept, 16-bit samples
  // (little-endian in memory) keeping their high byte.
  const png_color colours[] = {{1, 2, 3}, {4, 5, 6}};
  const struct {
    png_uint_32 Format;
    std::vector<std::uint8_t> In, Out;
  } cases[] = {{PNG_FORMAT_RGBA, {10, 20, 30, 0, 40, 50, 60, 128}, {10, 20, 30, 40, 50, 60}},
               {PNG_FORMAT_GRAY, {7, 200}, {7, 7, 7, 200, 200, 200}},
               {PNG_FORMAT_RGB_COLORMAP, {1, 0}, {4, 5, 6, 1, 2, 3}},
               {PNG_FORMAT_LINEAR_Y, {0xCD, 0xAB, 0x34, 0x12}, {0xAB, 0xAB, 0xAB, 0x12, 0x12, 0x12}}};
  for (const auto& c : cases) {
    ASSERT_TRUE(qm::test::WritePng(dir / "c.png", 2, 1, c.Format, c.In, colours, 2));
    EXPECT_EQ(PixelsOf(*qm::LoadPicture(dir / "c.png")).Pixels, c.Out) << c.Format;
  }

  const std::string png = ReadFile(dir / "rgb.png");
  EXPECT_TRUE(Refused(png.substr(0, png.size() - 20)));
  EveryPrefixLoadsOrIsRefused(png, "PNG");
  std::string huge = png;  // the width field says 1,000,000 pixels, the height 1,000
  huge.replace(16, 8, std::string("\x00\x0F\x42\x40\x00\x00\x03\xE8", 8));
  EXPECT_EQ(LoadError(huge), "Invalid picture: the picture is larger than 64 megapixels");
}

// A one-frame GIF written with giflib: a width x height screen of colour
// `background`, the frame at `at` with its rows in file order and colour 1
// transparent when `transparent`.
std::string WriteGif(const std::string& path, int width, int height, int background, GifColorType (&&colours)[4],
                     std::array<int, 4> at, bool interlaced, bool transparent, std::vector<GifPixelType> pixels) {
  int error = 0;
  GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
  ColorMapObject* map = GifMakeMapObject(4, colours);
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, width, height, 2, background, map);
  const GifByteType control[4] = {0x01, 0, 0, 1};
  if (transparent) EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control);
  EGifPutImageDesc(gif, at[0], at[1], at[2], at[3], interlaced, nullptr);
  for (std::size_t i = 0; i < pixels.size(); i += static_cast<std::size_t>(at[2])) EGifPutLine(gif, &pixels[i], at[2]);
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return ReadFile(path);
}

TEST(PictureLoader, GifFirstFrameOnItsBackgroundWithTransparentPixelsBlack) {
  qm::test::ScratchDir dir;
  // A 4 x 3 screen of blue with a 2 x 2 frame at (1, 1).
  const std::string gif = WriteGif(dir / "t.gif", 4, 3, 2, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}},
                                   {1, 1, 2, 2}, false, true, {0, 1, 3, 0});
  auto picture = qm::LoadPicture(dir / "t.gif");
  // Background blue outside the frame, the transparent pixel (2, 1) black.
  const std::vector<std::uint8_t> B{0, 0, 255}, R{255, 0, 0}, K{0, 0, 0}, G{9, 9, 9};
  std::vector<std::uint8_t> expected;
  for (const auto* p : {&B, &B, &B, &B, &B, &R, &K, &B, &B, &G, &R, &B})
    expected.insert(expected.end(), p->begin(), p->end());
  EXPECT_EQ(PixelsOf(*picture), (RgbImage{4, 3, expected}));
  EveryPrefixLoadsOrIsRefused(gif, "GIF");

  // Interlaced rows are put back in order: row y of a 1 x 10 frame has colour y % 4.
  WriteGif(dir / "i.gif", 1, 10, 0, {{10, 0, 0}, {20, 0, 0}, {30, 0, 0}, {40, 0, 0}}, {0, 0, 1, 10}, true, false,
           {0, 0, 0, 2, 2, 1, 3, 1, 3, 1});  // rows 0, 8, 4, 2, 6, 1, 3, 5, 7, 9
  auto interlaced = qm::LoadPicture(dir / "i.gif");
  for (int y = 0; y < 10; ++y) EXPECT_EQ(Rgb(*interlaced, 0, y)[0], 10 * (y % 4 + 1)) << y;

  std::string outside = gif;  // the frame's left edge moved to 3: it no longer fits the screen
  outside[outside.find('\x2C') + 1] = 3;
  EXPECT_EQ(LoadError(outside), "Invalid picture: the GIF frame lies outside the picture");
  EXPECT_EQ(LoadError("GIF89a"), "Invalid picture: " + std::string(GifErrorString(D_GIF_ERR_NO_SCRN_DSCR)));
  EXPECT_TRUE(Refused("\x89PNG\r\n\x1A\n"));
  EXPECT_EQ(LoadError("P6\n1 1\n255\nabc"), "Invalid picture: not a BMP, GIF, JPEG or PNG file");
}

}  // namespace
