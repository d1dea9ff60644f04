// Mouse input on a real X server (run under xvfb-run).

#include <QRasterWindow>
#include <QTest>
#include <array>

#include "quillmark/ui/Mouse.h"
#include "support/ErrorOf.h"
#include "ui/UiTestSupport.h"

#include <gtest/gtest.h>

namespace {

using qm::test::WindowHandle;

struct MouseTest : ::testing::Test {
  void SetUp() override {
    qm::ui::EnsureApplication();
    if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  }
  qm::ui::Mouse mouse;
};

TEST_F(MouseTest, MovesTheCursorTheWindowSeesClicksInOrderAndWindowsHaveTheirRectangles) {
  mouse.Move(100, 200);
  EXPECT_EQ(std::pair(mouse.GetX(), mouse.GetY()), std::pair(100, 200));

  qm::test::ClickRecorder window;
  window.setGeometry(10, 20, 300, 200);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  mouse.Move(160, 120);
  QTest::qWait(50);
  mouse.DoubleClick();
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.Events.size() >= 4; }, 3000));
  const std::string at = "@150,100";  // the pointer, in the window
  EXPECT_EQ(window.Events,
            (std::vector<std::string>{"LeftDown" + at, "LeftUp" + at, "LeftDouble" + at, "LeftUp" + at}));

  window.Events.clear();
  QTest::qWait(600);  // no double click with the next press
  mouse.RightClick();
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.Events.size() >= 2; }, 3000));
  EXPECT_EQ(window.Events, (std::vector<std::string>{"RightDown" + at, "RightUp" + at}));

  // A window that is no widget is measured by the X server.
  QRasterWindow raster;
  raster.setGeometry(30, 40, 200, 100);
  raster.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&raster));
  auto extent = mouse.GetWindowExtent(std::make_shared<WindowHandle>(static_cast<std::int32_t>(raster.winId())));
  EXPECT_EQ((std::array{extent->Left, extent->Top, extent->Right, extent->Bottom}), (std::array{30, 40, 230, 140}));
  EXPECT_EQ(qm::test::Described([&] { mouse.GetWindowExtent(std::make_shared<WindowHandle>(0x1fffffff)); }),
            "9999: GetWindowExtent failed");
}

}  // namespace
