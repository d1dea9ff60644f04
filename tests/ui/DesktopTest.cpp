#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <array>
#include <cstdlib>
#include <filesystem>

#include "quillmark/automation/RectLong.h"
#include "quillmark/errors/Error.h"
#include "quillmark/platform/Desktop.h"
#include "quillmark/runtime/Settings.h"
#include "quillmark/ui/Control.h"
#include "quillmark/ui/Dialog.h"
#include "quillmark/ui/Mouse.h"
#include "quillmark/ui/frmError.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"
#include "ui/UiTestSupport.h"

namespace {

using qm::test::Child;
using qm::test::OnModal;
using qm::test::RaisedBy;
using qm::ui::frmError;

class DesktopTest : public qm::test::UiTest {};

TEST_F(DesktopTest, LinkingTheLibraryInstallsTheQtDesktop) {
  EXPECT_TRUE(qm::platform::Current().HasUserInterface());

  OnModal("QMessageBox", [](QWidget& w) {
    auto& box = static_cast<QMessageBox&>(w);
    EXPECT_EQ(box.icon(), QMessageBox::Question);
    EXPECT_EQ(box.defaultButton(), box.button(QMessageBox::No));
    box.button(QMessageBox::Cancel)->click();
  });
  // vbYesNoCancel + vbQuestion + vbDefaultButton2
  EXPECT_EQ(qm::platform::Current().MessageBox("Prompt", 3 + 32 + 256, "Title"), 2);
}

// Offscreen there is no system pointer: Qt's own cursor moves, buttons go to
// the program's window under it, and windows have their rectangles.
TEST_F(DesktopTest, MouseOffscreen) {
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) GTEST_SKIP() << "needs the offscreen platform";
  qm::ui::Mouse mouse;
  mouse.Move(100, 200);
  EXPECT_EQ(std::pair(mouse.GetX(), mouse.GetY()), std::pair(100, 200));
  const qm::Error e = RaisedBy([&] { mouse.DoubleClick(); });
  EXPECT_EQ(std::to_string(e.Number()) + ": " + e.Description(),
            "9999: Mouse button events reach only this program's windows on the offscreen platform, and none is under "
            "the pointer");
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

// The error reporter shows the trail and logs one report (the error, a time,
// the trail one element a line); Ignore All suppresses the same error only.
TEST_F(DesktopTest, ErrorReporterShowsAndLogsTheTrailAndIgnoresTheSameErrorOnly) {
  const auto expectLog = [](const std::string& error, const std::string& trail) {
    const std::string log = qm::test::ReadFile(frmError::LogFile());
    EXPECT_TRUE(log.starts_with("Error " + error + " at ")) << log;
    EXPECT_TRUE(log.ends_with("\r\nCall Stack : \r\n" + trail)) << log;
  };
  EXPECT_TRUE(frmError::LogFile().ends_with("/Error Log Quillmark Libraries.log"));
  qm::test::WriteFile(frmError::LogFile(), "an older report\r\n");  // overwritten, not appended
  frmError reporter;
  int shown = 0;
  OnModal("frmError", [&](QWidget& w) {
    ++shown;
    EXPECT_EQ(Child<QLabel>(w, "lblError")->text().toStdString(), "Disk full");
    auto* list = Child<QListWidget>(w, "lstStackDump");
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ((list->item(0)->text() + "|" + list->item(2)->text()).toStdString(),
              "QuillmarkLibrary.QMStream|[QMStream]Public Sub Outer(\"orders\")");
    // A second report while this one is open returns at once.
    reporter.HandleError("other", "Other error");
    QTest::mouseClick(Child<QPushButton>(w, "cmdOK"), Qt::LeftButton);
  });
  reporter.HandleError(
      "QuillmarkLibrary.QMStream|[QMStream]Private Sub Inner(3)|[QMStream]Public Sub Outer(\"orders\")", "Disk full");
  EXPECT_EQ(shown, 1);
  expectLog(
      "Disk full",
      "QuillmarkLibrary.QMStream\r\n[QMStream]Private Sub Inner(3)\r\n[QMStream]Public Sub Outer(\"orders\")\r\n");

  OnModal("frmError", [&](QWidget& w) {
    ++shown;
    QTest::mouseClick(Child<QPushButton>(w, "cmdIgnoreAll"), Qt::LeftButton);
  });
  reporter.HandleError("QuillmarkLibrary", "Locked");
  std::filesystem::remove(frmError::LogFile());
  reporter.HandleError("QuillmarkLibrary", "Locked");  // ignored: no window, no log
  EXPECT_EQ(shown, 2);
  EXPECT_FALSE(std::filesystem::exists(frmError::LogFile()));
  OnModal("frmError", [&](QWidget& w) {
    ++shown;
    QTest::keyClick(&w, Qt::Key_Return);
  });
  reporter.HandleError("QuillmarkLibrary|[Dialog]Public Sub X()", "Locked");  // another trail
  EXPECT_EQ(shown, 3);
  expectLog("Locked", "QuillmarkLibrary\r\n[Dialog]Public Sub X()\r\n");
}

}  // namespace
