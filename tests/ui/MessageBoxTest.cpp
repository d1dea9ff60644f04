#include <QCheckBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <array>
#include <chrono>

#include "quillmark/runtime/Settings.h"
#include "quillmark/ui/Control.h"
#include "quillmark/ui/Dialog.h"
#include "quillmark/ui/Layout.h"
#include "quillmark/values/Conversions.h"
#include "support/ErrorOf.h"
#include "ui/UiTestSupport.h"
#include "ui/frmMsgBoxEx.h"

namespace {

using qm::Variant;
using qm::VariantArray;
using qm::test::Child;
using qm::test::Described;
using qm::test::OnModal;
using qm::ui::Dialog;
using qm::ui::GetTwips;

QPushButton* Button(QWidget& box, int i) { return Child<QPushButton>(box, ("cmdButton" + std::to_string(i)).c_str()); }

// Answers the next message box: clicks "don't show again" `ticks` times, then button `i`.
void Answer(int i, int ticks = 0) {
  OnModal("frmMsgBoxEx", [i, ticks](QWidget& box) {
    for (int t = 0; t < ticks; ++t) QTest::mouseClick(Child<QCheckBox>(box, "chkDontShowAgain"), Qt::LeftButton);
    QTest::mouseClick(Button(box, i), Qt::LeftButton);
  });
}

class MessageBoxTest : public qm::test::UiTest {
 protected:
  Variant yesNoCancel_ = VariantArray::FromVector({"Yes", "No", "Cancel"});
};

TEST_F(MessageBoxTest, LaysOutTheWorkedExample) {
  OnModal("frmMsgBoxEx", [](QWidget& box) {
    EXPECT_EQ(GetTwips(*Button(box, 2)).Left, 2 * (1215 + 120));
    const auto row = GetTwips(*Child(box, "picButtons"));
    EXPECT_EQ((std::array{row.Left, row.Top, row.Width}), (std::array{780.0, 780.0, 3885.0}));
    EXPECT_EQ(GetTwips(*Child(box, "lblMessage")).Width, 3885);  // widened to the row
    EXPECT_EQ(GetTwips(*Child(box, "chkDontShowAgain")).Top, 1215);
    EXPECT_EQ(GetTwips(box).Width, 780 + 3885 + qm::CLng(qm::ui::Layout::LAYOUT_WIDTH_PAD()) + 60);
    EXPECT_EQ(GetTwips(box).Height, 1215 + 255 + qm::ui::Layout::LAYOUT_HEIGHT_PAD() + 60);
    EXPECT_TRUE(Button(box, 1)->isDefault());
    QTest::keyClick(&box, Qt::Key_Escape);  // "Cancel" is the cancel button
  });
  EXPECT_EQ(Dialog().MessageBox("Save changes?", "Save?", qm::ui::ICO_Question, yesNoCancel_, true, 0, 1), 2);
}

TEST_F(MessageBoxTest, CancelButtonEnterTheFrameAndVeryLongCaptions) {
  Variant captions = VariantArray::FromVector({"OK", "cancel"});
  OnModal("frmMsgBoxEx", [](QWidget& box) {
    QTest::keyClick(&box, Qt::Key_Escape);  // "cancel" is no cancel button: nothing happens
    EXPECT_TRUE(box.isVisible());
    EXPECT_FALSE(Child(box, "chkDontShowAgain")->isVisible());
    QTest::keyClick(&box, Qt::Key_Return);
  });
  EXPECT_EQ(Dialog().MessageBox("m", "t", qm::ui::ICO_Information, captions, false, 0, 1), 1);

  // A single caption: one button at Left 0; the row is one button wide.
  Variant one = VariantArray::FromVector({"Close"});
  OnModal("frmMsgBoxEx", [](QWidget& box) {
    EXPECT_EQ(GetTwips(*Child(box, "picButtons")).Width, 1215);
    EXPECT_GE(GetTwips(*Child(box, "lblMessage")).Width, 1215);
    box.close();  // through the frame: the result stays 0
  });
  EXPECT_EQ(Dialog().MessageBox("m", "t", static_cast<qm::ui::IconConstants>(7), one, false, 0, 0), 0);

  // Very long captions are elided: the box stays on the screen.
  Variant huge = VariantArray::FromVector({std::string(10'000, 'x'), "No"});
  OnModal("frmMsgBoxEx", [](QWidget& box) {
    EXPECT_LE(box.frameGeometry().width(), QGuiApplication::primaryScreen()->availableGeometry().width());
    EXPECT_TRUE(Button(box, 0)->text().endsWith(QChar(0x2026)));
    QTest::mouseClick(Button(box, 0), Qt::LeftButton);
  });
  EXPECT_EQ(Dialog().MessageBox(std::string(10'000, 'm'), "t", qm::ui::ICO_Critical, huge, false, 0, 1), 0);
}

TEST_F(MessageBoxTest, RefusesBadArguments) {
  // What showing `captions` with default button `button` raises.
  auto refused = [](Variant captions, std::int32_t button) {
    return Described([&] { Dialog().MessageBox("m", "t", qm::ui::ICO_Critical, captions, false, 0, button); });
  };
  EXPECT_EQ(refused(yesNoCancel_, 3), "9999: Tried to set default button to 3 when maximum is 2");
  EXPECT_EQ(refused(yesNoCancel_, -1), "9999: Tried to set default button to -1 when minimum is 0");
  EXPECT_EQ(refused(VariantArray(), 0), "9999: Tried to set default button to 0 when maximum is -1");
  EXPECT_EQ(refused("Yes", 0), "13: Type mismatch");
  EXPECT_EQ(refused(VariantArray::FromVector({"a", "b"}, 1), 0), "9: Subscript out of range");
  EXPECT_EQ(qm::test::RaisedBy([&] {
              Dialog().MessageBox("m", "t", qm::ui::ICO_Critical, yesNoCancel_, false, 0, 3);
            }).Source(),
            "QuillmarkLibrary.frmMsgBoxEx|[MsgBoxEx]Public Function Use(\"m\", \"t\", ?, ?, False, 0, 3, "
            "\"Wrenfold\")|[Dialog]Public Function MessageBox(\"m\", \"t\", ?, ?, False, 0, 3, \"Wrenfold\")");
}

TEST_F(MessageBoxTest, CountsDownAndChoosesTheDefaultButton) {
  // A clock that advances one second on each tick of the timer.
  const auto origin = std::chrono::steady_clock::now();
  int reads = 0;
  qm::ui::frmMsgBoxEx box([&] { return origin + std::chrono::seconds(std::max(0, reads++ - 1)); });
  std::vector<std::string> titles;
  OnModal("frmMsgBoxEx", [&](QWidget& w) {
    titles.push_back(w.windowTitle().toStdString());
    QObject::connect(&w, &QWidget::windowTitleChanged,
                     [&](const QString& title) { titles.push_back(title.toStdString()); });
  });
  EXPECT_EQ(box.Use("Save changes?", "Save changes?", qm::ui::ICO_Question, yesNoCancel_, false, 3, 2), 2);
  const std::vector<std::string> expected = {"Save changes?", "Save changes? (3 seconds remaining)",
                                             "Save changes? (2 seconds remaining)",
                                             "Save changes? (1 second remaining)"};
  EXPECT_EQ(titles, expected);

  // No countdown for 0 seconds.
  OnModal("frmMsgBoxEx", [](QWidget& w) {
    EXPECT_FALSE(w.findChild<QTimer*>(QStringLiteral("timCountdown"))->isActive());
    QTest::mouseClick(Button(w, 1), Qt::LeftButton);
  });
  EXPECT_EQ(Dialog().MessageBox("m", "t", qm::ui::ICO_Question, yesNoCancel_, false, 0, 2), 1);
}

TEST_F(MessageBoxTest, RemembersNotToShowAMessageAgain) {
  // Shows `message` for `app` with "don't show again" and default button `button`.
  const auto ask = [this](const std::string& message, std::int32_t button, const std::string& app = "Wrenfold") {
    return Dialog().MessageBox(message, "t", qm::ui::ICO_Question, yesNoCancel_, true, 0, button, app);
  };
  const std::string message = "Overwrite the report?";
  Answer(2, 1);
  EXPECT_EQ(ask(message, 0), 2);
  EXPECT_EQ(qm::GetSetting("Wrenfold", "Dismissed Message Boxes", message), "Yes");
  // Not shown again: the default button at once (a window would fail the test).
  EXPECT_EQ(ask(message, 0), 0);
  EXPECT_EQ(ask(message, 1), 1);

  // Ticking and unticking writes "No": the box keeps appearing.
  Answer(1, 2);
  EXPECT_EQ(ask("Delete?", 0, "Other"), 1);
  EXPECT_EQ(qm::GetSetting("Other", "Dismissed Message Boxes", "Delete?"), "No");

  // Messages agreeing in their first 200 characters share one entry.
  const std::string head(200, 'h');
  Answer(0, 1);
  EXPECT_EQ(ask(head + "first", 1, "Long"), 0);
  EXPECT_EQ(ask(head + "second", 1, "Long"), 1);

  // Forgetting the choices brings the box back; an application without any is fine.
  Dialog().ClearAllDismissFor();
  Dialog().ClearAllDismissFor("Never used");
  Answer(1);
  EXPECT_EQ(ask(message, 0), 1);
}

}  // namespace
