#include <QLabel>
#include <QWidget>
#include <memory>

#include "quillmark/errors/Error.h"
#include "quillmark/ui/Control.h"
#include "quillmark/ui/Layout.h"
#include "quillmark/values/DispatchTable.h"
#include "support/ErrorOf.h"
#include "support/StubDesktop.h"
#include "ui/QtDesktop.h"
#include "ui/UiTestSupport.h"

namespace {

using qm::test::ErrorOf;
using qm::ui::Control;
using qm::ui::Layout;

// A screen of fixed metrics (pixels), to check how Layout combines them.
class MetricsDesktop final : public qm::test::StubDesktop {
 public:
  double TwipsPerPixelX() const override { return Twips; }
  double TwipsPerPixelY() const override { return Twips; }
  std::int32_t Metric(qm::platform::SystemMetric metric) const override {
    using M = qm::platform::SystemMetric;
    switch (metric) {
      case M::CaptionHeight: return 18;
      case M::BorderWidth:
      case M::BorderHeight: return 4;
      case M::MenuHeight: return 19;
      default: return 1000;
    }
  }
  double Twips = 15.0;
};

class Box : public qm::DispatchTable<Box> {
 public:
  double Left = 0, Top = 0, Width = 0, Height = 0;
  static void Describe(Members& m) {
    m.Class("Box")
        .Property("Left", &Box::Left)
        .Property("Top", &Box::Top)
        .Property("Width", &Box::Width)
        .Property("Height", &Box::Height);
  }
};

class LayoutTest : public qm::test::UiTest {};

using MetricsScope = qm::test::DesktopScope<MetricsDesktop, qm::ui::QtDesktop>;

TEST_F(LayoutTest, PropertiesCombineTheScreenMetrics) {
  MetricsScope desktop;
  EXPECT_EQ(Layout::PIXEL(), 15);
  EXPECT_EQ(Layout::LAYOUT_GAP(), 60);
  EXPECT_EQ(Layout::LAYOUT_HEIGHT_PAD(), 390);
  EXPECT_EQ(Layout::LAYOUT_HEIGHT_MENU_PAD(), 675);
  EXPECT_EQ(Layout::LAYOUT_WIDTH_PAD().TypeName(), "Long");
  EXPECT_EQ(qm::CLng(Layout::LAYOUT_WIDTH_PAD()), 105);
  // 120 dpi: 12 twips per pixel and a gap of four pixels; 1440/130 = 11.08 rounds to 11.
  desktop->Twips = 12.0;
  EXPECT_EQ(Layout::LAYOUT_GAP(), 48);
  desktop->Twips = 1440.0 / 130;
  EXPECT_EQ(Layout::PIXEL(), 11);
}

TEST_F(LayoutTest, ExtendAndUnderOnAnyObjectWithCoordinates) {
  MetricsScope desktop;
  auto anchor = std::make_shared<Box>();
  anchor->Left = 100, anchor->Top = 200, anchor->Width = 3000, anchor->Height = 2000;
  auto child = std::make_shared<Box>();
  child->Left = 400, child->Top = 500, child->Width = 10, child->Height = 10;
  // The child reaches the anchor's right and bottom edges, less the gaps.
  Layout::Extend(anchor, child, 1, 1);
  EXPECT_EQ(child->Width, 3000 - 300 - 60);
  EXPECT_EQ(child->Height, 2000 - 300 - 60);
  Layout::Extend(anchor, child, -2, 0);  // outwards
  EXPECT_EQ(child->Width, 3000 - 300 + 120);
  Layout::Under(anchor, child, 2);
  EXPECT_EQ(child->Top, 200 + 2000 + 120);
  EXPECT_EQ(child->Left, 400);

  const qm::Error e = qm::test::RaisedBy([&] { Layout::Under(anchor, std::make_shared<qm::Dispatch>(), 1); });
  EXPECT_EQ(e.Number(), 438);
  EXPECT_TRUE(e.Source().ends_with("|[Layout]Public Sub Under(?, ?, 1)")) << e.Source();
  EXPECT_EQ(ErrorOf([&] { Layout::Extend(anchor, child, 100'000'000, 0); }), 6);
}

TEST_F(LayoutTest, WidgetsInTwips) {
  QWidget form;
  auto* label = new QLabel(&form);
  auto anchor = std::make_shared<Control>(&form);
  auto child = std::make_shared<Control>(label);
  qm::ui::SetTwips(*label, {780, 240, 5595, 195});
  EXPECT_EQ(label->geometry(), QRect(52, 16, 373, 13));
  EXPECT_EQ(qm::CDbl(child->Get("Left")), 780);
  // Twips that are no whole pixel come back as they were set.
  child->Let("Width", 1001.0);
  EXPECT_EQ(qm::CDbl(child->Get("Width")), 1001.0);
  // Moved by Qt: converted from pixels.
  label->move(10, 20);
  EXPECT_EQ(qm::CDbl(child->Get("Left")), 150);
  EXPECT_EQ(qm::CDbl(child->Get("Top")), 300);

  // A window's size is its outer size: client plus the pads.
  qm::ui::SetTwips(form, {0, 0, 6000, 4050});
  EXPECT_EQ(form.width() * 15 + qm::CLng(Layout::LAYOUT_WIDTH_PAD()), 6000);
  EXPECT_EQ(form.height() * 15 + Layout::LAYOUT_HEIGHT_PAD(), 4050);
  Layout::Extend(anchor, child, 1, 1);
  EXPECT_EQ(qm::CDbl(child->Get("Width")), 6000 - 150 - 60);

  EXPECT_THROW(child->Let("hwnd", 1), qm::Error);
  delete label;  // a control whose widget is gone raises 91
  EXPECT_EQ(ErrorOf([&] { child->Get("Left"); }), 91);
}

}  // namespace
