// The raster canvas: pixels of its shapes, clipping of shapes far outside,
// JPEG output decoded again, and Graphics drawing on it through CanvasSurface.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "graphics/PictureFiles.h"
#include "quillmark/graphics/CanvasSurface.h"
#include "quillmark/graphics/Graphics.h"
#include "quillmark/quillmark.h"
#include "quillmark/runtime/Conversions.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using qm::Canvas;
using qm::Rgb;
using qm::test::ErrorOf;
using qm::test::ScratchDir;

constexpr Rgb kWhite{255, 255, 255}, kRed{255, 0, 0}, kBlue{0, 0, 255};

// The canvas as rows of '#' (colour c) and '.' (anything else).
std::string Sketch(const Canvas& canvas, Rgb c) {
  std::string out;
  for (int y = 0; y < canvas.Height(); ++y) {
    for (int x = 0; x < canvas.Width(); ++x) out += canvas.Pixel(x, y) == c ? '#' : '.';
    out += '\n';
  }
  return out;
}

bool Near(Rgb a, Rgb b, int tolerance) {
  return std::abs(a.R - b.R) <= tolerance && std::abs(a.G - b.G) <= tolerance && std::abs(a.B - b.B) <= tolerance;
}

TEST(Canvas, StartsWhiteAndDrawsLinesRectanglesAndPolylines) {
  Canvas c(6, 4);
  EXPECT_EQ(Sketch(c, kWhite), "######\n######\n######\n######\n");
  EXPECT_EQ(Canvas(2, 1, kBlue).Pixel(1, 0), kBlue);

  c.Line(0, 0, 3, 3, kRed);        // both ends included
  c.Line(5.4, 0, 5.4, 1.4, kRed);  // rounded to the nearest pixel
  EXPECT_EQ(Sketch(c, kRed), "#....#\n.#...#\n..#...\n...#..\n");

  Canvas r(6, 4);
  r.FillRect(4, 2, 1, 1, kRed);  // corners in either order, both included
  r.Rect(0, 0, 5, 3, kBlue);
  EXPECT_EQ(Sketch(r, kRed), "......\n.####.\n.####.\n......\n");
  EXPECT_EQ(Sketch(r, kBlue), "######\n#....#\n#....#\n######\n");

  Canvas p(5, 3);
  const qm::Point zigzag[] = {{0, 2}, {2, 0}, {4, 2}};
  p.Polyline(zigzag, kRed);
  p.Polyline(std::span<const qm::Point>(), kBlue);  // nothing
  EXPECT_EQ(Sketch(p, kRed), "..#..\n.#.#.\n#...#\n");
  const qm::Point one[] = {{4, 0}};
  p.Polyline(one, kBlue);
  EXPECT_EQ(p.Pixel(4, 0), kBlue);
}

TEST(Canvas, ClipsFarShapesQuicklyAndRefusesBadInput) {
  Canvas c(8, 3);
  // A line across a span of 2e12 pixels draws only its visible row, at once.
  c.Line(-1e12, 1, 1e12, 1, kRed);
  c.FillRect(-1e15, -1e15, 1e15, 0, kBlue);
  c.Line(-50, -50, -10, 40, kRed);  // wholly outside
  EXPECT_EQ(Sketch(c, kRed), "........\n########\n........\n");
  EXPECT_EQ(Sketch(c, kBlue), "########\n........\n........\n");

  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(ErrorOf([&] { c.Line(0, 0, nan, 1, kRed); }), 5);
  EXPECT_EQ(ErrorOf([&] { c.FillRect(0, 0, 1, std::numeric_limits<double>::infinity(), kRed); }), 5);
  EXPECT_EQ(ErrorOf([&] { (void)c.Pixel(8, 0); }), 9);
  EXPECT_EQ(ErrorOf([] { Canvas(-1, 5); }), 5);
  EXPECT_EQ(ErrorOf([] { Canvas(100000, 100000); }), 7);
  c.SetPixel(-1, 0, kRed);  // outside: nothing
}

TEST(Canvas, WritesJpegThatDecodersReadBack) {
  ScratchDir dir;
  Canvas c(64, 32);
  c.FillRect(0, 0, 31, 31, kRed);
  c.FillRect(32, 0, 63, 31, Rgb::FromHex(0x2050D0));
  const auto file = dir.Path() / "c.jpg";
  qm::WriteJpeg(c, file, 95);

  // Read back by libjpeg's djpeg (the library's own loader decodes as djpeg
  // does: PictureLoaderTest).
  const qm::test::RgbImage back = qm::test::DecodeWithDjpeg(file.string());
  ASSERT_EQ(back.Width, 64);
  ASSERT_EQ(back.Height, 32);
  const auto pixel = [&](int x, int y) { return Rgb{back.At(x, y)[0], back.At(x, y)[1], back.At(x, y)[2]}; };
  EXPECT_TRUE(Near(pixel(8, 16), kRed, 8));
  EXPECT_TRUE(Near(pixel(56, 16), Rgb{0x20, 0x50, 0xD0}, 8));

  EXPECT_EQ(ErrorOf([&] { qm::WriteJpeg(c, file, 0); }), 26001);
}

TEST(Canvas, GraphicsDrawsOnItInTwipsAndPlatformColours) {
  Canvas c(10, 6);
  qm::CanvasSurface surface(c);
  qm::Graphics g;
  using qm::Variant;
  EXPECT_DOUBLE_EQ(qm::CDbl(surface.Get("Width")), 150.0);
  EXPECT_DOUBLE_EQ(qm::CDbl(surface.Get("Height")), 90.0);

  // 0x0000FF is red in the platform's 0x00BBGGRR form.
  g.BoxFill(surface, Variant(15.0), Variant(15.0), Variant(45.0), Variant(30.0), Variant(std::int32_t{0x0000FF}));
  EXPECT_EQ(Sketch(c, kRed), "..........\n.###......\n.###......\n..........\n..........\n..........\n");

  // An inverting line turns the red pixels cyan and the white ones black, and
  // the surface's draw mode comes back to copy pen.
  g.Line2(surface, Variant(0.0), Variant(30.0), Variant(135.0), Variant(30.0), Variant(std::int32_t{0}), qm::vbInvert);
  EXPECT_EQ(c.Pixel(0, 2), (Rgb{0, 0, 0}));
  EXPECT_EQ(c.Pixel(2, 2), (Rgb{0, 255, 255}));
  EXPECT_EQ(qm::CLng(surface.Get("DrawMode")), 13);

  // Lines through values, one pixel (15 twips) apart.
  const Variant values(qm::VariantArray::FromVector({Variant(75.0), Variant(75.0), Variant(60.0)}));
  g.Lines(surface, Variant(105.0), 15.0, values, Variant(std::int32_t{0xFF0000}));
  EXPECT_EQ(c.Pixel(7, 5), kBlue);
  EXPECT_EQ(c.Pixel(8, 5), kBlue);
  EXPECT_EQ(c.Pixel(9, 4), kBlue);

  // No text on a canvas, and no bad draw mode.
  EXPECT_EQ(ErrorOf([&] { g.Text(surface, "x"); }), 438);
  EXPECT_EQ(ErrorOf([&] { surface.Let("DrawMode", Variant(std::int32_t{17})); }), 380);
  EXPECT_EQ(ErrorOf([&] { surface.Let("Width", Variant(1.0)); }), 383);

  // A huge circle ends quickly (its pieces are bounded) and leaves the
  // current position at its centre.
  g.Circle2(surface, Variant(75.0), Variant(45.0), Variant(1e12), Variant(std::int32_t{0}));
  EXPECT_DOUBLE_EQ(qm::CDbl(surface.Get("CurrentX")), 75.0);
}

}  // namespace
