// The raster canvas: pixels of its shapes, clipping of shapes far outside,
// smooth lines, text, JPEG output decoded again, and Graphics drawing on it
// (text too) through CanvasSurface, whose members are tested here too.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <thread>

#include "graphics/PictureFiles.h"
#include "quillmark/graphics/CanvasSurface.h"
#include "quillmark/graphics/Graphics.h"
#include "quillmark/quillmark.h"
#include "quillmark/runtime/Conversions.h"
#include "support/Child.h"
#include "support/ErrorOf.h"

namespace {

using namespace qm;
using namespace qm::test;

constexpr Rgb kWhite{255, 255, 255}, kRed{255, 0, 0}, kBlue{0, 0, 255}, kBlack{0, 0, 0}, kCyan{0, 255, 255};

// The canvas as rows of letters: '.' white, 'r' red, 'b' blue, 'k' black,
// 'c' cyan, '?' any other colour.
std::string Sketch(const Canvas& canvas) {
  std::string out;
  for (int y = 0; y < canvas.Height(); ++y) {
    for (int x = 0; x < canvas.Width(); ++x) {
      const Rgb p = canvas.Pixel(x, y);
      out += p == kWhite ? '.' : p == kRed ? 'r' : p == kBlue ? 'b' : p == kBlack ? 'k' : p == kCyan ? 'c' : '?';
    }
    out += '\n';
  }
  return out;
}

// The smallest box holding every pixel that is not white: left, top, right,
// bottom (all -1 when there is none).
std::array<int, 4> Ink(const Canvas& canvas) {
  std::array<int, 4> box{-1, -1, -1, -1};
  for (int y = 0; y < canvas.Height(); ++y)  // rows from the top: the first one with ink is the top
    for (int x = 0; x < canvas.Width(); ++x)
      if (canvas.Pixel(x, y) != kWhite)
        box = box[0] < 0 ? std::array{x, y, x, y} : std::array{std::min(box[0], x), box[1], std::max(box[2], x), y};
  return box;
}

TEST(Canvas, DrawsLinesRectanglesAndPolylinesClipsFarShapesQuicklyAndRefusesBadInput) {
  Canvas c(6, 4), r(6, 4), p(5, 3);
  EXPECT_EQ(Sketch(c), "......\n......\n......\n......\n");
  c.Line(0, 0, 3, 3, kRed);        // both ends included
  c.Line(5.4, 0, 5.4, 1.4, kRed);  // rounded to the nearest pixel
  EXPECT_EQ(Sketch(c), "r....r\n.r...r\n..r...\n...r..\n");

  r.Rect(0, 0, 5, 3, kBlue);
  r.FillRect(4, 2, 1, 1, kRed);  // corners in either order, both included
  EXPECT_EQ(Sketch(r), "bbbbbb\nbrrrrb\nbrrrrb\nbbbbbb\n");

  const Point zigzag[] = {{0, 2}, {2, 0}, {4, 2}}, one[] = {{4, 0}};
  p.Polyline(zigzag, kRed);
  p.Polyline(std::span<const Point>(), kBlue);  // nothing
  p.Polyline(one, kBlue);                       // a point
  EXPECT_EQ(Sketch(p), "..r.b\n.r.r.\nr...r\n");

  Canvas far(8, 3);
  // A line across a span of 2e12 pixels draws only its visible row, at once.
  far.Line(-1e12, 1, 1e12, 1, kRed);
  far.FillRect(-1e15, -1e15, 1e15, 0, kBlue);
  far.Line(-50, -50, -10, 40, kRed);  // wholly outside
  far.SetPixel(-1, 0, kRed);          // outside: nothing
  EXPECT_EQ(Sketch(far), "bbbbbbbb\nrrrrrrrr\n........\n");

  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ((std::vector{ErrorOf([&] { far.Line(0, 0, nan, 1, kRed); }),
                         ErrorOf([&] { far.FillRect(0, 0, 1, inf, kRed); }), ErrorOf([&] { (void)far.Pixel(8, 0); }),
                         ErrorOf([] { Canvas(-1, 5); }), ErrorOf([] { Canvas(100000, 100000); })}),
            (std::vector{5, 5, 9, 5, 7}));
}

TEST(Canvas, SmoothLinesShareCoverageAndJointsAreNoDarker) {
  Canvas c(21, 8), p(21, 8), plain(6, 4), smooth(6, 4);
  for (Canvas* each : {&c, &p, &smooth}) each->SetSmooth(true);
  c.Line(0, 1, 20, 6, Rgb{});  // each column: darkness adding up to one pixel's
  for (int x = 0; x <= 20; ++x) {
    int dark = 0;
    for (int y = 0; y < 8; ++y) dark += 255 - c.Pixel(x, y).R;
    EXPECT_NEAR(dark, 255, 2) << x;
  }
  // A joint between two pixels is drawn once, half dark, not twice.
  const Point bend[] = {{0, 0.5}, {10, 0.5}, {20, 6.5}};
  p.Polyline(bend, Rgb{});
  for (const int y : {0, 1}) EXPECT_NEAR(p.Pixel(10, y).R, 128, 2) << y;
  // On whole pixels, smooth and plain lines are the same.
  for (Canvas* each : {&plain, &smooth}) each->Rect(0, 0, 5, 3, kBlue);
  EXPECT_EQ(Sketch(smooth), Sketch(plain));
}

TEST(Canvas, TextFitsItsMeasuredBoxAlignsAsMeasuredAndRefusesBadFacesSizesAndText) {
  Canvas c(240, 120);
  const std::string label = "Sales 2026";
  const TextExtent box = c.TextSize(label, 16);
  EXPECT_GT(box.Descent, 0);
  EXPECT_NEAR(c.TextSize(label, 32).Width, 2 * box.Width, 0.25);  // unhinted: linear in the size
  const TextExtent two = c.TextSize("Sales\n2026 figures", 16);
  EXPECT_EQ(std::pair(two.Height, two.Width), std::pair(2 * box.Height, c.TextSize("2026 figures", 16).Width));

  // Top left at (120, 60): the ink lies in the measured box (a pixel of
  // anti-aliasing around it at most); every other alignment moves it by the
  // measured amounts.
  const double x = 120, y = 60, w = box.Width, h = box.Height;
  c.Text(x, y, label, 16, Rgb{});
  const std::array<int, 4> ink = Ink(c);
  EXPECT_TRUE(ink[0] >= x - 1 && ink[1] >= y - 1 && ink[2] <= x + w + 1 && ink[3] <= y + h + 1)
      << ink[0] << ' ' << ink[1] << ' ' << ink[2] << ' ' << ink[3];
  const std::tuple<TextAlign, double, double> cases[] = {{{HAlign::Centre, VAlign::Middle}, -w / 2, -h / 2},
                                                         {{HAlign::Right, VAlign::Bottom}, -w, -h},
                                                         {{HAlign::Left, VAlign::Baseline}, 0, -box.Ascent}};
  for (const auto& [align, dx, dy] : cases) {
    Canvas moved(240, 120);
    moved.Text(x, y, label, 16, Rgb{}, align);
    const std::array<int, 4> at = Ink(moved);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(at[i], ink[i] + (i % 2 ? dy : dx), 1) << i;
  }

  // Other scripts the face covers are drawn; other faces by name.
  Canvas words(240, 40);
  words.Text(2, 2, "Ελληνικά Кириллица مرحبا", 14, kBlue);
  EXPECT_GT(Ink(words)[2], 120);
  words.SetFace("DejaVu Serif");
  EXPECT_NE(words.TextSize(label, 16).Width, w);

  // Bad faces, sizes and text are refused; text far away draws nothing.
  EXPECT_EQ(Described([&] { c.SetFace("No Such Face Anywhere"); }),
            "53: File not found: no installed font face is named 'No Such Face Anywhere'");
  EXPECT_EQ(c.Face(), "");
  ScratchDir dir;
  WriteFile(dir / "not-a-font.ttf", "just text");
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ((std::vector{
                ErrorOf([&] { c.SetFace(dir / "not-a-font.ttf"); }), ErrorOf([&] { c.SetFace(dir / "missing.ttf"); }),
                ErrorOf([&] { c.Text(0, 0, "\xff", 12, kRed); }), ErrorOf([&] { c.Text(0, 0, "a", -1, kRed); }),
                ErrorOf([&] { (void)c.TextSize("a", nan); }), ErrorOf([&] { c.Text(inf, 0, "a", 12, kRed); })}),
            (std::vector{5, 53, 5, 5, 5, 5}));
  Canvas blank(10, 10);
  blank.Text(-1e12, 1e11, "far away", 12, kRed);  // nothing to draw, at once
  blank.Text(0, 0, "", 12, kRed);
  EXPECT_EQ(Ink(blank)[0], -1);
}

// A text's pixels depend on the face's file alone: FreeType's and HarfBuzz's
// variables and the locale change nothing (checked in a process started with them).
TEST(Canvas, TextPixelsIgnoreTheEnvironment) {
  Canvas c(200, 24);
  c.Text(2, 2, "Sales مرحبا 2026", 14, Rgb{});
  std::uint64_t hash = 14695981039346656037u;
  for (int y = 0; y < c.Height(); ++y)
    for (int x = 0; x < c.Width(); ++x) hash = (hash ^ c.Pixel(x, y).R) * 1099511628211u;
  if (std::getenv("QM_TEXT_PIXELS")) {
    std::printf("pixels=%llu\n", static_cast<unsigned long long>(hash));
    return;
  }
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string out = Output(
      "QM_TEXT_PIXELS=1 HB_SHAPER_LIST=fallback LC_ALL=C.UTF-8 FREETYPE_PROPERTIES='cff:no-stem-darkening=0 "
      "autofitter:no-stem-darkening=0 truetype:interpreter-version=35' '" +
      self + "' --gtest_filter=Canvas.TextPixelsIgnoreTheEnvironment");
  EXPECT_NE(out.find("pixels=" + std::to_string(hash)), std::string::npos) << out;
}

// The faces' lock is taken around fork: a child forked while another thread
// draws text finds it free and draws at once.
TEST(Canvas, AChildForkedWhileAThreadDrawsTextDrawsToo) {
  if (SanitizerAllocator()) GTEST_SKIP() << "fork amid a thread's allocations (see TestEnvironment.h)";
  std::atomic<bool> stop{false};
  std::thread drawer([&] {
    Canvas busy(64, 16);
    while (!stop) busy.Text(0, 0, "busy", 12, kRed);
  });
  const auto draws = [] {
    Canvas c(64, 16);
    c.Text(0, 0, "child", 12, kRed);
    return Ink(c)[0] >= 0;
  };
  for (int round = 0; round < 20; ++round) EXPECT_TRUE(InChild(draws, 5)) << "round " << round;
  stop = true;
  drawer.join();
}

TEST(Canvas, WritesJpegThatDecodersReadBack) {
  ScratchDir dir;
  Canvas c(64, 32);
  c.FillRect(0, 0, 31, 31, kRed);
  c.FillRect(32, 0, 63, 31, Rgb::FromHex(0x2050D0));
  WriteJpeg(c, dir.Path() / "c.jpg", 95);
  // Read back by libjpeg's djpeg (the library's own loader decodes as djpeg
  // does: PictureLoaderTest).
  const test::RgbImage back = DecodeWithDjpeg(dir / "c.jpg");
  ASSERT_EQ(std::pair(back.Width, back.Height), std::pair(64, 32));
  // Each half's middle, every channel within 8 of the colour drawn.
  for (const auto& [x, drawn] : {std::pair{8, kRed}, {56, Rgb{0x20, 0x50, 0xD0}}})
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(back.At(x, 16)[i], (std::array{drawn.R, drawn.G, drawn.B})[i], 8) << x;
}

// Graphics draws on a canvas through its CanvasSurface, in twips (15 a
// pixel) and platform colours (0x00BBGGRR: 0x0000FF is red).
TEST(Canvas, GraphicsDrawsOnItInTwipsAndPlatformColours) {
  Canvas c(10, 3), f(4, 3);
  CanvasSurface surface(c), framed(f);
  Graphics g;
  EXPECT_DOUBLE_EQ(CDbl(surface.Get("Height")), 45.0);
  g.BoxFill(surface, 15.0, 15.0, 45.0, 30.0, 0x0000FF);
  // An inverting line turns the red pixels cyan and the white ones black.
  g.Line2(surface, 0.0, 30.0, 135.0, 30.0, 0, vbInvert);
  EXPECT_EQ(Sketch(c), "..........\n.rrr......\nkccckkkkkk\n");

  // A blue frame round a middle that a fill in draw mode 11 (leave every
  // pixel as it is) does not change.
  g.Box(framed, 0.0, 0.0, 45.0, 30.0, 0xFF0000);
  g.BoxFill(framed, 0.0, 0.0, 45.0, 30.0, 0xFF0000, 11);
  EXPECT_EQ(Sketch(f), "bbbb\nb..b\nbbbb\n");

  // A huge circle ends quickly (its pieces are bounded) and leaves the
  // current position at its centre.
  g.Circle2(surface, 75.0, 45.0, 1e12, 0);
  EXPECT_DOUBLE_EQ(CDbl(surface.Get("CurrentX")), 75.0);
}

// The surface answers Graphics' members by name, measuring text in whole
// pixels; a copy draws on the same canvas with the same font.
TEST(Canvas, ItsSurfacePrintsTextAndKeepsFontColourAndPosition) {
  Canvas c(200, 60, kBlue);
  for (const double bad : {0.0, std::nan("")}) EXPECT_EQ(ErrorOf([&] { (void)CanvasSurface(c, bad); }), 5);
  CanvasSurface s(c), copy(s), other(c);
  const double width = CDbl(s.Call("TextWidth", {Variant("Total")}));
  const double height = CDbl(s.Call("TextHeight", {Variant("Total")}));
  EXPECT_TRUE(width > 15 && std::fmod(width, 15) == 0) << width;  // whole pixels
  // DejaVu Sans, 9 points: 14 pixels a line.
  EXPECT_EQ(std::pair(height, CDbl(s.Call("TextHeight", {Variant("a\nb")}))), std::pair(210.0, 420.0));

  // Right-aligned on x = 150 pixels with a white box behind: the position
  // ends at x, the box and the text lie left of it.
  Graphics().Text(copy, "Total", true, 150 * 15.0, 300.0, false, vbRightJustify);
  EXPECT_DOUBLE_EQ(CDbl(copy.Get("CurrentX")), 150 * 15.0);
  const int left = 150 - static_cast<int>(width / 15);
  EXPECT_EQ((std::vector{c.Pixel(left, 20), c.Pixel(left - 1, 20), c.Pixel(151, 20)}),
            (std::vector{kWhite, kBlue, kBlue}));
  int dark = 0;
  for (int x = left; x < 150; ++x)
    for (int y = 20; y < 34; ++y) dark += c.Pixel(x, y).R < 128;
  EXPECT_GT(dark, 20);

  // Each line of a text starts where the first did; the position then
  // follows the text, or goes to the next line (the default).
  s.Let("CurrentX", 30.0);
  s.Call("Print", {Variant("ab\r\nc"), Variant(false)});
  EXPECT_EQ(CDbl(s.Get("CurrentX")), 30 + CDbl(s.Call("TextWidth", {Variant("c")})));
  s.Call("Print", {Variant("d")});
  EXPECT_EQ(std::pair(CDbl(s.Get("CurrentX")), CDbl(s.Get("CurrentY"))), std::pair(0.0, 2 * height));

  // The font: another font object gives its name and size, a larger size
  // measures larger, and the copy's font is the same object.
  Dispatch& f = AsDispatch(s.Get("Font"));  // the surface keeps the object
  EXPECT_EQ(CStr(s.Get("FontName")), "DejaVu Sans");
  AsDispatch(other.Get("Font")).Let("Size", 18.0);
  s.Let("Font", other.Get("Font"));
  copy.Let("FontName", "DejaVu Sans");
  copy.Let("Font", "DejaVu Sans");
  s.Let("ForeColor", 0x1FF0000);
  EXPECT_EQ(CStr(copy.Get("FontSize")) + " " + CStr(s.Get("ForeColor")) + " " + CStr(f.Get("Name")),
            "18 16711680 DejaVu Sans");
  EXPECT_GT(CDbl(s.Call("TextHeight", {Variant("Total")})), height);
  EXPECT_TRUE(f.ClassName() == "StdFont" && s.Get("hdc").IsObject());
  EXPECT_EQ((std::vector{ErrorOf([&] { (void)f.Get("Bold"); }), ErrorOf([&] { f.Let("Bold", 1); }),
                         ErrorOf([&] { f.Let("Name", "No Such Face"); }), ErrorOf([&] { (void)s.Get("X"); }),
                         ErrorOf([&] { s.Let("X", 1); }), ErrorOf([&] { (void)s.Call("X", {}); }),
                         ErrorOf([&] { s.Let("hdc", 1); }), ErrorOf([&] { s.Let("Width", 1); }),
                         ErrorOf([&] { s.Let("DrawMode", 17); }), ErrorOf([&] { s.Let("FontSize", 0); })}),
            (std::vector{438, 438, 53, 438, 438, 438, 383, 383, 380, 380}));
}

}  // namespace
