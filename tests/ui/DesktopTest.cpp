#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <array>
#include <cstdlib>

#include "quillmark/automation/RectLong.h"
#include "quillmark/errors/Error.h"
#include "quillmark/platform/Desktop.h"
#include "quillmark/runtime/Settings.h"
#include "quillmark/ui/Control.h"
#include "quillmark/ui/Dialog.h"
#include "quillmark/ui/Mouse.h"
#include "support/ErrorOf.h"
#include "ui/UiTestSupport.h"

namespace {

using qm::test::OnModal;
using qm::test::RaisedBy;

class DesktopTest : public qm::test::UiTest {};

TEST_F(DesktopTest, LinkingTheLibraryInstallsTheQtDesktop) {
  auto& desktop = qm::platform::Current();
  EXPECT_TRUE(desktop.HasUserInterface());

  OnModal("QMessageBox", [](QWidget& w) {
    auto& box = static_cast<QMessageBox&>(w);
    EXPECT_EQ(box.icon(), QMessageBox::Question);
    EXPECT_EQ(box.defaultButton(), box.button(QMessageBox::No));
    box.button(QMessageBox::Cancel)->click();
  });
  // vbYesNoCancel + vbQuestion + vbDefaultButton2
  EXPECT_EQ(desktop.MessageBox("Prompt", 3 + 32 + 256, "Title"), 2);
}

// Offscreen there is no system pointer: Qt's own cursor moves, buttons go to
// the program's window under it, and windows have their rectangles.
TEST_F(DesktopTest, MouseOffscreen) {
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) GTEST_SKIP() << "needs the offscreen platform";
  qm::ui::Mouse mouse;
  mouse.Move(100, 200);
  EXPECT_EQ(mouse.GetX(), 100);
  EXPECT_EQ(mouse.GetY(), 200);
  const qm::Error e = RaisedBy([&] { mouse.DoubleClick(); });
  EXPECT_EQ(e.Number(), 9999);
  EXPECT_EQ(
      e.Description(),
      "Mouse button events reach only this program's windows on the offscreen platform, and none is under the pointer");
  EXPECT_TRUE(
      e.Source().ends_with("[Mouse]Public Sub LeftDown()|[Mouse]Public Sub Click()|[Mouse]Public Sub DoubleClick()"));

  {
    qm::test::ClickRecorder target;
    target.setGeometry(50, 150, 200, 100);
    target.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&target));
    mouse.Move(100, 200);
    mouse.DoubleClick();
    mouse.RightClick();
    // Qt turns the second press of the double click into a double-click event.
    EXPECT_EQ(target.Events, (std::vector<std::string>{"LeftDown@50,50", "LeftUp@50,50", "LeftDouble@50,50",
                                                       "LeftUp@50,50", "RightDown@50,50", "RightUp@50,50"}));
    // A modal window elsewhere blocks the click, as a window system would.
    QWidget modal;
    modal.setWindowModality(Qt::ApplicationModal);
    modal.setGeometry(400, 400, 50, 50);
    modal.show();
    target.Events.clear();
    mouse.Click();
    EXPECT_TRUE(target.Events.empty());
  }

  // A window whose outer rectangle, frame included, is at (10, 20), 300 × 200.
  QWidget window;
  window.show();
  const QRect client = window.geometry(), outer = window.frameGeometry();
  window.move(10, 20);
  window.resize(300 - (outer.width() - client.width()), 200 - (outer.height() - client.height()));
  auto extent = mouse.GetWindowExtent(std::make_shared<qm::ui::Control>(&window));
  EXPECT_EQ((std::array{extent->Left, extent->Top, extent->Right, extent->Bottom}), (std::array{10, 20, 310, 220}));
  // An object without a window, and a window that does not exist.
  EXPECT_EQ(qm::test::ErrorOf([&] { mouse.GetWindowExtent(std::make_shared<qm::RectLong>()); }), 438);  // no hwnd
  struct Handle : qm::Dispatch {
    qm::Variant GetMember(std::string_view, std::vector<qm::Variant>&) override { return std::int32_t{0x7ffffff0}; }
  };
  EXPECT_EQ(qm::test::Described([&] { mouse.GetWindowExtent(std::make_shared<Handle>()); }),
            "9999: GetWindowExtent failed");
}

// Without a display and without QT_QPA_PLATFORM, the first window raises a
// clear error instead of Qt ending the process.
TEST(NoDisplayTest, RaisesInsteadOfAborting) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        unsetenv("QT_QPA_PLATFORM");
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        int code = 1;
        // A box dismissed for good needs no window.
        qm::SaveSetting("Demo", "Dismissed Message Boxes", "Seen", "Yes");
        qm::Variant buttons = qm::VariantArray::FromVector({"a", "b"});
        if (qm::ui::Dialog().MessageBox("Seen", "t", qm::ui::ICO_Question, buttons, true, 0, 1, "Demo") != 1)
          std::exit(4);
        try {
          qm::ui::Dialog().PasswordInputBox("x");
        } catch (const qm::Error& e) {
          code = e.Number() == 9999 && e.Description().starts_with("No user interface is available") ? 3 : 2;
        }
        std::exit(code);
      },
      ::testing::ExitedWithCode(3), "");
}

}  // namespace
