#include <QFontDatabase>
#include <cmath>
#include <regex>

#include "DemoChart.h"
#include "graphics/RecordingSurface.h"
#include "preview/PreviewSupport.h"
#include "quillmark/frame/Error.h"
#include "quillmark/graphics/DeviceContext.h"
#include "quillmark/graphics/Graphics.h"
#include "quillmark/graphics/Picture.h"
#include "quillmark/runtime/Conversions.h"
#include "quillmark/ui/Control.h"
#include "quillmark/ui/PictureSurface.h"
#include "support/ErrorOf.h"

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
  EXPECT_EQ(qm::CDbl(picture.Get("Height")), 80 * py);
  EXPECT_EQ(At(surface, 0, 0), qRgb(255, 255, 255));

  // A filled box in red (0x00BBGGRR), relative to the current position.
  picture.Let("CurrentX", Variant(10 * px));
  picture.Let("CurrentY", Variant(10 * py));
  picture.Call("Line", {Variant(1 + 2 + 4 + 8), Variant(0), Variant(0), Variant(20 * px), Variant(10 * py), Variant(0x0000FF)});
  EXPECT_EQ(At(surface, 15 * px, 15 * py), qRgb(255, 0, 0));
  EXPECT_EQ(At(surface, 31 * px, 15 * py), qRgb(255, 255, 255));
  EXPECT_EQ(qm::CDbl(picture.Get("CurrentX")), 30 * px);  // the second corner
  EXPECT_EQ(qm::CDbl(picture.Get("CurrentY")), 20 * py);

  // Invert turns white black and red cyan; Graphics puts the mode back.
  qm::Graphics().Line2(picture, Variant(0), Variant(15 * py), Variant(99 * px), Variant(15 * py), Variant(0), qm::vbInvert);
  EXPECT_EQ(At(surface, 5 * px, 15 * py), qRgb(0, 0, 0));
  EXPECT_EQ(At(surface, 15 * px, 15 * py), qRgb(0, 255, 255));
  EXPECT_EQ(qm::CLng(picture.Get("DrawMode")), 13);

  // A circle passes through its radius, not its centre; the position moves to the centre.
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
  qm::Graphics().TextCR(picture, "Hi", Variant(false), Variant(5 * px), Variant(60 * py));
  EXPECT_EQ(qm::CDbl(picture.Get("CurrentX")), 0);
  EXPECT_EQ(qm::CDbl(picture.Get("CurrentY")), 60 * py + height);

  // Read-only and missing members.
  EXPECT_EQ(qm::test::ErrorOf([&] { picture.Let("Width", Variant(5)); }), 383);
  EXPECT_EQ(qm::test::ErrorOf([&] { picture.Call("Scale", {}); }), 438);
  EXPECT_THROW(PictureSurface(0, 10), qm::Error);
}

TEST_F(PictureSurfaceTest, CopyPicturesThroughHdc) {
  PictureSurface source(20, 10), dest(60, 40);
  source.BackColor = 0x00FF00;
  source.Cls();
  qm::Graphics().CopyPictures(source, dest, qm::AlignRight | qm::AlignBottom);
  const QImage& image = dest.Image();
  EXPECT_EQ(image.pixel(59, 39), qRgb(0, 255, 0));
  EXPECT_EQ(image.pixel(40, 30), qRgb(0, 255, 0));
  EXPECT_EQ(image.pixel(39, 30), qRgb(255, 255, 255));
  EXPECT_EQ(image.pixel(0, 0), qRgb(255, 255, 255));
}

TEST_F(PictureSurfaceTest, WidgetShowsWhatIsDrawn) {
  qm::ui::PictureBox box;
  box.resize(120, 90);
  box.show();
  auto& surface = *box.Surface();
  EXPECT_GE(surface.Image().width(), 120);
  qm::Graphics().BoxFill(surface, Variant(0), Variant(0), Variant(surface.Width()), Variant(surface.Height()),
                         Variant(0x0000FF));
  const QImage shown = box.grab().toImage();
  EXPECT_EQ(shown.pixel(60, 45), qRgb(255, 0, 0));
}

// Replays the calls a recording surface noted on a Qt surface.
void Replay(const std::vector<std::string>& calls, PictureSurface& surface) {
  static const std::regex line(R"(Line\((\d+), (\S+), (\S+), (\S+), (\S+), (\S+)\))");
  static const std::regex circle(R"(Circle\(0, (\S+), (\S+), (\S+), (\S+)\))");
  static const std::regex print(R"re(Print\("(.*)", (True|False)\) at \((\S+), (\S+)\))re");
  static const std::regex mode(R"(DrawMode=(\d+))");
  for (const auto& call : calls) {
    std::smatch m;
    if (std::regex_match(call, m, line)) {
      surface.Line(std::stoi(m[1]) & ~3, std::stod(m[2]), std::stod(m[3]), std::stod(m[4]), std::stod(m[5]),
                   std::stoi(m[6]));
    } else if (std::regex_match(call, m, circle)) {
      surface.Circle(0, std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stoi(m[4]));
    } else if (std::regex_match(call, m, print)) {
      surface.CurrentX = std::stod(m[3]);
      surface.CurrentY = std::stod(m[4]);
      surface.Print(m[1].str(), m[2] == "True");
    } else if (std::regex_match(call, m, mode)) {
      surface.DrawMode = std::stoi(m[1]);
    } else {
      ADD_FAILURE() << "unknown call " << call;
    }
  }
}

TEST_F(PictureSurfaceTest, DemoChartMatchesTheRecordedCallsAndSavesAsJpeg) {
  // A fixed-pitch font with whole-pixel advances, so that the recording
  // surface's text extents (characters x width) are the Qt surface's.
  PictureSurface drawn(480, 240);
  drawn.Font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  drawn.Font.setHintingPreference(QFont::PreferFullHinting);
  for (int size = 8; size < 30; ++size) {
    drawn.Font.setPixelSize(size);
    if (drawn.TextWidth("Sales per month") == 15 * drawn.TextWidth("x")) break;
  }
  ASSERT_EQ(drawn.TextWidth("Sales per month"), 15 * drawn.TextWidth("x")) << "no fixed-pitch font";

  qm::test::RecordingSurface recording(480, 240);
  recording.CharWidth = drawn.TextWidth("x");
  recording.LineHeight = drawn.TextHeight("x");
  qm::example::DrawDemoChart(recording);
  qm::example::DrawDemoChart(drawn);
  EXPECT_GT(recording.Count("Line("), 90u);
  EXPECT_EQ(drawn.CurrentX, recording.CurrentX);
  EXPECT_EQ(drawn.CurrentY, recording.CurrentY);

  PictureSurface replayed(480, 240);
  replayed.Font = drawn.Font;
  Replay(recording.Calls, replayed);
  EXPECT_TRUE(drawn.Image() == replayed.Image()) << "the Qt surface drew something else than the recorded calls";

  // Saved and converted: the JPEG shows the same picture.
  qm::test::ScratchDir dir;
  drawn.SavePicture(dir / "chart.png");
  qm::Graphics().SaveAsJPG(dir / "chart.png", dir / "chart.jpg");
  const auto jpeg = qm::LoadPicture(dir / "chart.jpg");
  ASSERT_EQ(jpeg->Width(), 480);
  ASSERT_EQ(jpeg->Height(), 240);
  double difference = 0;
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 480; ++x) {
      const QRgb a = drawn.Image().pixel(x, y);
      const std::uint32_t b = jpeg->Handle()->GetPixel(x, y);  // 0x00BBGGRR
      difference += std::abs(qRed(a) - static_cast<int>(b & 0xFF)) + std::abs(qGreen(a) - static_cast<int>((b >> 8) & 0xFF)) +
                    std::abs(qBlue(a) - static_cast<int>((b >> 16) & 0xFF));
    }
  EXPECT_LT(difference / (480.0 * 240 * 3), 6.0) << "mean difference per channel";
}

}  // namespace
