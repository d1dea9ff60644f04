#include <QCoreApplication>
#include <cmath>
#include <filesystem>
#include <iterator>

#include "DemoChart.h"
#include "preview/PreviewSupport.h"
#include "quillmark/errors/Error.h"
#include "quillmark/graphics/Graphics.h"
#include "quillmark/graphics/Picture.h"
#include "quillmark/ui/Control.h"
#include "quillmark/ui/PictureSurface.h"
#include "quillmark/values/Conversions.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using qm::Variant;
using qm::ui::PictureSurface;

class PictureSurfaceTest : public qm::test::UiTest {};

QRgb At(PictureSurface& surface, double xTwips, double yTwips) {
  return surface.Image().pixel(static_cast<int>(xTwips / qm::ui::TwipsPerPixelX()),
                               static_cast<int>(yTwips / qm::ui::TwipsPerPixelY()));
}

TEST_F(PictureSurfaceTest, MembersByName) {
  const double px = qm::ui::TwipsPerPixelX(), py = qm::ui::TwipsPerPixelY();
  PictureSurface surface(100, 80);
  qm::Dispatch& picture = surface;
  EXPECT_EQ(qm::CDbl(picture.Get("Width")), 100 * px);
  EXPECT_EQ(At(surface, 0, 0), qRgb(255, 255, 255));

  // A filled box in red (0x00BBGGRR), relative to the current position.
  picture.Let("CurrentX", Variant(10 * px));
  picture.Let("CurrentY", Variant(10 * py));
  picture.Call("Line",
               {Variant(1 + 2 + 4 + 8), Variant(0), Variant(0), Variant(20 * px), Variant(10 * py), Variant(0x0000FF)});
  EXPECT_EQ(At(surface, 15 * px, 15 * py), qRgb(255, 0, 0));
  EXPECT_EQ(At(surface, 31 * px, 15 * py), qRgb(255, 255, 255));
  EXPECT_EQ(qm::CDbl(picture.Get("CurrentX")), 30 * px);  // the second corner
  EXPECT_EQ(qm::CDbl(picture.Get("CurrentY")), 20 * py);

  // Invert turns white black and red cyan; Graphics puts the mode back.
  qm::Graphics().Line2(picture, Variant(0), Variant(15 * py), Variant(99 * px), Variant(15 * py), Variant(0),
                       qm::vbInvert);
  EXPECT_EQ(At(surface, 5 * px, 15 * py), qRgb(0, 0, 0));
  EXPECT_EQ(At(surface, 15 * px, 15 * py), qRgb(0, 255, 255));
  EXPECT_EQ(qm::CLng(picture.Get("DrawMode")), 13);

  // A circle passes through its radius, not its centre.
  qm::Graphics().Circle2(picture, Variant(60 * px), Variant(50 * py), Variant(10 * px), Variant(0xFF0000));
  EXPECT_EQ(At(surface, 70 * px, 50 * py), qRgb(0, 0, 255));
  EXPECT_EQ(At(surface, 60 * px, 50 * py), qRgb(255, 255, 255));

  // Text extents are whole pixels; printing moves the position.
  const double width = qm::CDbl(picture.Call("TextWidth", {Variant("Hi")}));
  const double height = qm::CDbl(picture.Call("TextHeight", {Variant("Hi")}));
  EXPECT_GT(width, 0);
  EXPECT_EQ(std::fmod(width, px), 0);
  EXPECT_EQ(qm::CDbl(picture.Call("TextHeight", {Variant("a\nb")})), 2 * height);
  qm::Graphics().Text(picture, "Hi", Variant(false), Variant(5 * px), Variant(60 * py));
  EXPECT_EQ(qm::CDbl(picture.Get("CurrentX")), 5 * px + width);

  // Read-only and missing members.
  EXPECT_EQ(qm::test::ErrorOf([&] { picture.Let("Width", Variant(5)); }), 383);
  EXPECT_EQ(qm::test::ErrorOf([&] { picture.Call("Scale", {}); }), 438);
  EXPECT_THROW(PictureSurface(0, 10), qm::Error);
}

TEST_F(PictureSurfaceTest, CopyPicturesThroughHdcAndTheWidgetShowsWhatIsDrawn) {
  PictureSurface source(20, 10), dest(60, 40);
  source.BackColor = 0x00FF00;
  source.Cls();
  qm::Graphics().CopyPictures(source, dest, qm::AlignRight | qm::AlignBottom);
  EXPECT_EQ(dest.Image().pixel(40, 30), qRgb(0, 255, 0));
  EXPECT_EQ(dest.Image().pixel(39, 30), qRgb(255, 255, 255));

  qm::ui::PictureBox box;
  box.resize(120, 90);
  box.show();
  auto& surface = *box.Surface();
  EXPECT_GE(surface.Image().width(), 120);
  qm::Graphics().BoxFill(surface, Variant(0), Variant(0), Variant(surface.Width()), Variant(surface.Height()),
                         Variant(0x0000FF));
  EXPECT_EQ(box.grab().toImage().pixel(60, 45), qRgb(255, 0, 0));
}

// The first surface of a process is made before Qt runs; it measures text in
// the application's font as every later one does. Run in a process of its
// own when a Qt application exists already.
TEST(PictureSurfaceFont, TheFirstSurfaceMeasuresAsTheSecond) {
  if (QCoreApplication::instance()) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string out = qm::test::Output("'" + self + "' --gtest_filter=PictureSurfaceFont.* 2>&1; echo status=$?");
    EXPECT_NE(out.find("[  PASSED  ] 1 test."), std::string::npos) << out;
    EXPECT_NE(out.find("status=0"), std::string::npos) << out;
    return;
  }
  PictureSurface first(10, 10), second(10, 10);
  EXPECT_GT(first.TextHeight("ABC"), 0);
  EXPECT_EQ(first.TextWidth("ABC"), second.TextWidth("ABC"));
  EXPECT_EQ(first.TextHeight("ABC"), second.TextHeight("ABC"));
}

TEST_F(PictureSurfaceTest, DemoChartIsDrawnAndSaved) {
  PictureSurface drawn(480, 240);
  qm::example::DrawDemoChart(drawn);
  EXPECT_FALSE(drawn.Image() == PictureSurface(480, 240).Image()) << "nothing drawn";
  qm::test::ScratchDir dir;
  drawn.SavePicture(dir / "chart.png");
  EXPECT_EQ(qm::LoadPicture(dir / "chart.png")->Width(), 480);
  EXPECT_EQ(qm::test::ErrorOf([&] { drawn.SavePicture(dir / "no/such/folder/chart.png"); }), 75);
  // A save that fails or replaces a picture never leaves a cut-short file.
  qm::test::WriteFile(dir / "old.xyz", "old");
  EXPECT_EQ(qm::test::ErrorOf([&] { drawn.SavePicture(dir / "old.xyz"); }), 75);
  EXPECT_EQ(qm::test::ReadFile(dir / "old.xyz"), "old");
  drawn.SavePicture(dir / "Chart.BMP");
  EXPECT_EQ(qm::LoadPicture(dir / "Chart.BMP")->Width(), 480);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 3);
}

}  // namespace
