// The ui library's windows: the dialogs that Dialog opens (the slider, the
// list, the password box, the file and colour dialogs and the message box)
// and the layout they use; the Qt desktop, the mouse offscreen, the error
// reporter, and what happens without a display.

#include <gmock/gmock.h>

#include <QtTest>
#include <QtWidgets>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "quillmark/runtime/Settings.h"
#include "quillmark/ui/Control.h"
#include "quillmark/ui/Layout.h"
#include "quillmark/ui/Mouse.h"
#include "quillmark/ui/frmError.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/DispatchTable.h"
#include "support/ErrorTrail.h"
#include "support/StubDesktop.h"
#include "support/TestEnvironment.h"
#include "ui/QtDesktop.h"
#include "ui/UiTestSupport.h"
#include "ui/frmCommDLG.h"
#include "ui/frmMsgBoxEx.h"

namespace qm::ui {
namespace {

using namespace qm::test;

// Every window test runs with a Qt application and the Qt desktop.
using DialogsTest = test::UiTest;

// The text of a label or an edit box.
std::string Text(QWidget& form, const char* name) {
  return Child(form, name)->property("text").toString().toStdString();
}

QSlider* Slider(QWidget& form) { return Child<QSlider>(form, "sliInput"); }

void Click(QWidget& form, const char* name) { QTest::mouseClick(Child<QPushButton>(form, name), Qt::LeftButton); }

void TypeInto(QWidget& form, const char* name, const char* text) {
  auto* edit = Child<QLineEdit>(form, name);
  edit->selectAll();
  QTest::keyClicks(edit, QString::fromLatin1(text));
}

TEST_F(DialogsTest, SliderRefusesInvalidTextChoiceFromAListAndPassword) {
  OnModal("frmSlider", [](QWidget& form) {
    // Midway in the label; the large change a tenth of the range.
    EXPECT_EQ(std::pair(Slider(form)->pageStep(), Text(form, "lblRange1")), std::pair(10, std::string("50")));
    Slider(form)->setValue(42);  // moving the slider writes the text
    EXPECT_EQ(Text(form, "txtInput"), "42");
    TypeInto(form, "txtInput", "17.5");  // typing moves the slider
    EXPECT_EQ(std::pair(Slider(form)->value(), Text(form, "txtInput")), std::pair(18, std::string("17.5")));
    Click(form, "cmdOK");
  });
  EXPECT_EQ(Dialog().Slider(0, 100, "Volume"), 17.5);

  // 0.5 rounds to the even 0; OK without editing returns 0.5.
  OnModal("frmSlider", [](QWidget& form) {
    EXPECT_EQ(std::pair(Slider(form)->value(), Text(form, "txtInput")), std::pair(0, std::string("0.5")));
    QTest::keyClick(&form, Qt::Key_Return);
  });
  EXPECT_EQ(Dialog().Slider(0, 1, "Fraction", 0.5), 0.5);

  // TickFreq 5: the large change is 5; Cancel returns Default whatever was typed.
  OnModal("frmSlider", [](QWidget& form) {
    EXPECT_EQ(std::pair(Slider(form)->pageStep(), Text(form, "lblRange1")), std::pair(5, std::string("midway")));
    TypeInto(form, "txtInput", "77");
    QTest::keyClick(&form, Qt::Key_Escape);
  });
  EXPECT_EQ(Dialog().Slider(0, 100, "Volume", 30, Variant("midway"), false, 5, 5, "How loud?"), 30.0);

  // Out of range, and invalid text.
  for (bool restrict : {true, false}) {
    OnModal("frmSlider", [](QWidget& form) {
      Child<QLineEdit>(form, "txtInput")->setText(QStringLiteral("250"));  // pasted
      EXPECT_EQ(Slider(form)->value(), 0);                                 // the slider does not move
      Click(form, "cmdOK");
    });
    EXPECT_EQ(Dialog().Slider(0, 100, "Volume", 0, std::nullopt, restrict), restrict ? 100.0 : 250.0);
  }

  // Only the warning's handler can type the 12 that comes back.
  OnModal("frmSlider", [&](QWidget& form) {
    TypeInto(form, "txtInput", "abc");
    OnModal("QMessageBox", [&](QWidget& box) {
      auto& warning = static_cast<QMessageBox&>(box);
      EXPECT_EQ(std::pair(warning.text().toStdString(), warning.icon()),
                std::pair(std::string("Enter a valid number."), QMessageBox::Warning));
      // The slider stays open behind the warning: put a number in and accept.
      OnModal("frmSlider", [](QWidget& again) {
        TypeInto(again, "txtInput", "12");
        Click(again, "cmdOK");
      });
      warning.accept();
    });
    Click(form, "cmdOK");
  });
  EXPECT_EQ(Dialog().Slider(0, 100, "Volume"), 12.0);

  // A choice from a list, the default entry selected: Enter takes the one
  // picked instead, Cancel gives Empty, and OK with none selected "".
  Variant choices = VariantArray::FromVector({"red", "green", "blue"});
  const std::tuple<std::int16_t, const char*, const char*> kPicks[] = {
      {1, "", "String blue"}, {1, "cmdCancel", "Empty "}, {-1, "cmdOK", "String "}};
  for (const auto& [index, button, said] : kPicks) {
    OnModal("frmList", [index = index, button = button](QWidget& form) {
      auto* list = Child<QListWidget>(form, "lstChoices");
      EXPECT_EQ(list->selectedItems().isEmpty() ? -1 : list->currentRow(), index);  // the row selected
      if (index >= 0) list->setCurrentRow(2);
      *button ? Click(form, button) : QTest::keyClick(&form, Qt::Key_Return);
    });
    const Variant chosen = Dialog().Choice(choices, "Colour", index);
    EXPECT_EQ(chosen.TypeName() + " " + CStr(chosen), said) << button;
  }

  EXPECT_EQ(Trail([] { Dialog().Choice(Variant("red"), "Colour"); }),
            "9999: frmList.Choice must be called with an array. @ QuillmarkLibrary.frmList|[List]Public Function "
            "Choice(?, \"Colour\", 0)|[Dialog]Public Function Choice(?, \"Colour\", 0)");
  EXPECT_THROW(Dialog().Choice(choices, "Colour", 3), Error);  // no such entry

  // The password box masks what is typed; Cancel gives nothing.
  for (const bool cancel : {false, true}) {
    OnModal("frmPassword", [cancel](QWidget& form) {
      auto* edit = Child<QLineEdit>(form, "txtInput");
      EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
      QTest::keyClicks(edit, QStringLiteral("s3cret"));
      cancel ? Click(form, "cmdCancel") : QTest::keyClick(&form, Qt::Key_Return);
    });
    EXPECT_EQ(Dialog().PasswordInputBox("Password:", cancel ? "Archive" : ""), cancel ? "" : "s3cret");
  }
}

QFileDialog& File(QWidget& w) { return static_cast<QFileDialog&>(w); }

// Types `name` into the file dialog's name field, as a user would, and accepts.
void Choose(QWidget& w, const char* name) {
  w.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QString::fromLatin1(name));
  static_cast<QDialog&>(w).accept();
}

TEST_F(DialogsTest, SaveAndOpenTheSelectedFilterGoesInAndOutAndColoursAreBlueGreenRed) {
  // A typed name gets the default extension; an existing file is asked about.
  test::ScratchDir dir;
  test::WriteFile(dir / "old.txt", "x");
  bool asked = false;
  OnModal("QFileDialog", [&](QWidget& w) {
    EXPECT_EQ(File(w).nameFilters(), QStringList{"Text files (*.txt)"});
    EXPECT_EQ(File(w).directory().absolutePath().toStdString(), dir.Path().string());
    OnModal("QMessageBox", [&](QWidget& box) {
      asked = true;
      static_cast<QMessageBox&>(box).button(QMessageBox::Yes)->click();
    });
    Choose(w, "old");
  });
  EXPECT_EQ(Dialog().SaveAsFilename("txt", "Text files", "Save", "report", dir.Path().string()), dir / "old.txt");
  EXPECT_TRUE(asked);

  const std::string filter = "Text|*.txt|Web pages|*.htm;*.html|All files|*.*";
  std::int32_t selected = 2;
  OnModal("QFileDialog", [](QWidget& w) {
    EXPECT_EQ(File(w).selectedNameFilter().toStdString(), "Web pages (*.htm *.html)");
    File(w).selectNameFilter(QStringLiteral("All files (*)"));
    File(w).reject();
  });
  EXPECT_EQ(Dialog().SaveAsFilenameEx("htm", filter, "Save", selected, "page"), "");
  EXPECT_EQ(selected, 3);

  test::WriteFile(dir / "data.csv", "1,2");
  OnModal("QFileDialog", [&](QWidget& w) {
    EXPECT_EQ(File(w).nameFilters(), (QStringList{"Tables (*.csv)", "All (*)"}));
    EXPECT_EQ(File(w).fileMode(), QFileDialog::ExistingFile);
    Choose(w, "data.csv");
  });
  EXPECT_EQ(Dialog().OpenFilenameEx("csv", "Tables|*.csv|All|*.*", "Open", dir.Path().string()), dir / "data.csv");
  // A name without patterns matches everything.
  EXPECT_EQ(std::pair(TranslateFilter("Odd"), TranslateFilter("")), std::pair(QStringList{"Odd (*)"}, QStringList()));

  // The colour dialog takes and gives colours as 0xBBGGRR; cancelled, it gives
  // the colour it was given whatever was picked.
  for (const bool accept : {false, true}) {
    OnModal("QColorDialog", [accept](QWidget& w) {
      auto& dialog = static_cast<QColorDialog&>(w);
      EXPECT_EQ(dialog.currentColor(), QColor(255, 0, 0));
      dialog.setCurrentColor(QColor(0x12, 0x34, 0x56));
      accept ? dialog.accept() : dialog.reject();
    });
    EXPECT_EQ(Dialog().SelectColor(Variant(255)), accept ? 0x563412 : 255);
  }
  EXPECT_EQ(Trail([] { Dialog().SelectColor(Variant("blue")); }),
            "13: Type mismatch @ QuillmarkLibrary.Dialog|[Dialog]Public Function SelectColor(?)");
}

QPushButton* Button(QWidget& box, int i) { return Child<QPushButton>(box, ("cmdButton" + std::to_string(i)).c_str()); }

// Answers the next message box: clicks "don't show again" `ticks` times, then button `i`.
void Answer(int i, int ticks = 0) {
  OnModal("frmMsgBoxEx", [i, ticks](QWidget& box) {
    for (int t = 0; t < ticks; ++t) QTest::mouseClick(Child<QCheckBox>(box, "chkDontShowAgain"), Qt::LeftButton);
    QTest::mouseClick(Button(box, i), Qt::LeftButton);
  });
}

class MessageBoxTest : public test::UiTest {
 protected:
  Variant yesNoCancel_ = VariantArray::FromVector({"Yes", "No", "Cancel"});
};

TEST_F(MessageBoxTest, LaysOutTheWorkedExampleTheCancelButtonEnterTheFrameAndVeryLongCaptions) {
  OnModal("frmMsgBoxEx", [](QWidget& box) {
    // The third button; the row; the message widened to the row; the check box; the box.
    const auto row = GetTwips(*Child(box, "picButtons")), whole = GetTwips(box);
    EXPECT_EQ((std::array{GetTwips(*Button(box, 2)).Left, row.Left, row.Top, row.Width,
                          GetTwips(*Child(box, "lblMessage")).Width, GetTwips(*Child(box, "chkDontShowAgain")).Top,
                          whole.Width, whole.Height}),
              (std::array{2.0 * (1215 + 120), 780.0, 780.0, 3885.0, 3885.0, 1215.0,
                          780 + 3885 + CDbl(Layout::LAYOUT_WIDTH_PAD()) + 60,
                          1215.0 + 255 + Layout::LAYOUT_HEIGHT_PAD() + 60}));
    EXPECT_TRUE(Button(box, 1)->isDefault());
    QTest::keyClick(&box, Qt::Key_Escape);  // "Cancel" is the cancel button
  });
  EXPECT_EQ(Dialog().MessageBox("Save changes?", "Save?", ICO_Question, yesNoCancel_, true, 0, 1), 2);

  Variant captions = VariantArray::FromVector({"OK", "cancel"});
  OnModal("frmMsgBoxEx", [](QWidget& box) {
    QTest::keyClick(&box, Qt::Key_Escape);  // "cancel" is no cancel button: nothing happens
    EXPECT_TRUE(box.isVisible());
    EXPECT_FALSE(Child(box, "chkDontShowAgain")->isVisible());
    EXPECT_FALSE(Child<QTimer>(box, "timCountdown")->isActive());  // no countdown for 0 seconds
    QTest::keyClick(&box, Qt::Key_Return);
  });
  EXPECT_EQ(Dialog().MessageBox("m", "t", ICO_Information, captions, false, 0, 1), 1);

  // A single caption: one button at Left 0; the row is one button wide.
  Variant one = VariantArray::FromVector({"Close"});
  OnModal("frmMsgBoxEx", [](QWidget& box) {
    EXPECT_EQ(GetTwips(*Child(box, "picButtons")).Width, 1215);
    EXPECT_GE(GetTwips(*Child(box, "lblMessage")).Width, 1215);
    box.close();  // through the frame: the result stays 0
  });
  EXPECT_EQ(Dialog().MessageBox("m", "t", static_cast<IconConstants>(7), one, false, 0, 0), 0);

  // Very long captions are elided: the box stays on the screen.
  Variant huge = VariantArray::FromVector({std::string(10'000, 'x'), "No"});
  OnModal("frmMsgBoxEx", [](QWidget& box) {
    EXPECT_LE(box.frameGeometry().width(), QGuiApplication::primaryScreen()->availableGeometry().width());
    EXPECT_TRUE(Button(box, 0)->text().endsWith(QChar(0x2026)));
    QTest::mouseClick(Button(box, 0), Qt::LeftButton);
  });
  EXPECT_EQ(Dialog().MessageBox(std::string(10'000, 'm'), "t", ICO_Critical, huge, false, 0, 1), 0);
}

TEST_F(MessageBoxTest, RefusesBadArgumentsCountsDownAndChoosesTheDefaultButton) {
  // What showing `captions` with default button `button` raises.
  auto refused = [](Variant captions, std::int32_t button) {
    return Described([&] { Dialog().MessageBox("m", "t", ICO_Critical, captions, false, 0, button); });
  };
  EXPECT_EQ(refused(yesNoCancel_, -1), "9999: Tried to set default button to -1 when minimum is 0");
  EXPECT_EQ(refused(VariantArray(), 0), "9999: Tried to set default button to 0 when maximum is -1");
  EXPECT_EQ(refused("Yes", 0), "13: Type mismatch");
  EXPECT_EQ(refused(VariantArray::FromVector({"a", "b"}, 1), 0), "9: Subscript out of range");
  EXPECT_EQ(
      Trail([&] { Dialog().MessageBox("m", "t", ICO_Critical, yesNoCancel_, false, 0, 3); }),
      "9999: Tried to set default button to 3 when maximum is 2 @ QuillmarkLibrary.frmMsgBoxEx|[MsgBoxEx]Public "
      "Function Use(\"m\", \"t\", ?, ?, False, 0, 3, \"Wrenfold\")|[Dialog]Public Function MessageBox(\"m\", \"t\", "
      "?, ?, False, 0, 3, \"Wrenfold\")");

  // A clock that advances one second on each tick of the timer.
  const auto origin = std::chrono::steady_clock::now();
  int reads = 0;
  frmMsgBoxEx box([&] { return origin + std::chrono::seconds(std::max(0, reads++ - 1)); });
  std::vector<std::string> titles;
  OnModal("frmMsgBoxEx", [&](QWidget& w) {
    titles.push_back(w.windowTitle().toStdString());
    QObject::connect(&w, &QWidget::windowTitleChanged,
                     [&](const QString& title) { titles.push_back(title.toStdString()); });
  });
  EXPECT_EQ(box.Use("Save changes?", "Save changes?", ICO_Question, yesNoCancel_, false, 3, 2), 2);
  EXPECT_EQ(titles,
            (std::vector<std::string>{"Save changes?", "Save changes? (3 seconds remaining)",
                                      "Save changes? (2 seconds remaining)", "Save changes? (1 second remaining)"}));
}

TEST_F(MessageBoxTest, RemembersNotToShowAMessageAgain) {
  // Shows `message` for `app` with "don't show again" and default button `button`.
  const auto ask = [this](const std::string& message, std::int32_t button, const std::string& app = "Wrenfold") {
    return Dialog().MessageBox(message, "t", ICO_Question, yesNoCancel_, true, 0, button, app);
  };
  const std::string message = "Overwrite the report?";
  Answer(2, 1);
  EXPECT_EQ(ask(message, 0), 2);
  EXPECT_EQ(GetSetting("Wrenfold", "Dismissed Message Boxes", message), "Yes");
  // Not shown again: the default button at once (a window would fail the test).
  EXPECT_EQ(std::pair(ask(message, 0), ask(message, 1)), std::pair(0, 1));

  // Ticking and unticking writes "No": the box keeps appearing.
  Answer(1, 2);
  EXPECT_EQ(ask("Delete?", 0, "Other"), 1);
  EXPECT_EQ(GetSetting("Other", "Dismissed Message Boxes", "Delete?"), "No");

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

// A screen of fixed metrics (pixels), to check how Layout combines them.
struct MetricsDesktop final : test::StubDesktop {
  double TwipsPerPixelX() const override { return Twips; }
  double TwipsPerPixelY() const override { return Twips; }
  std::int32_t Metric(platform::SystemMetric m) const override {
    using M = platform::SystemMetric;
    return m == M::CaptionHeight                         ? 18
           : m == M::MenuHeight                          ? 19
           : m == M::BorderWidth || m == M::BorderHeight ? 4
                                                         : 1000;
  }
  double Twips = 15.0;
};

struct Box : DispatchTable<Box> {
  Box(double left, double top, double width, double height) : Left(left), Top(top), Width(width), Height(height) {}
  double Left, Top, Width, Height;
  static void Describe(Members& m) {
    m.Class("Box").Property("Left", &Box::Left).Property("Top", &Box::Top);
    m.Property("Width", &Box::Width).Property("Height", &Box::Height);
  }
};

TEST_F(DialogsTest, WidgetsInTwipsAndPropertiesCombineTheScreenMetricsAndExtendAndUnderMoveAnyObject) {
  QWidget form;
  auto* label = new QLabel(&form);
  auto anchor = std::make_shared<Control>(&form);
  auto child = std::make_shared<Control>(label);
  SetTwips(*label, {780, 240, 5595, 195});
  EXPECT_EQ(std::pair(label->geometry(), CDbl(child->Get("Left"))), std::pair(QRect(52, 16, 373, 13), 780.0));
  // Twips that are no whole pixel come back as they were set.
  child->Let("Width", 1001.0);
  EXPECT_EQ(CDbl(child->Get("Width")), 1001.0);
  // Moved by Qt: converted from pixels.
  label->move(10, 20);
  EXPECT_EQ(std::pair(CDbl(child->Get("Left")), CDbl(child->Get("Top"))), std::pair(150.0, 300.0));

  // A window's size is its outer size: client plus the pads.
  SetTwips(form, {0, 0, 6000, 4050});
  EXPECT_EQ(
      std::pair(form.width() * 15 + CLng(Layout::LAYOUT_WIDTH_PAD()), form.height() * 15 + Layout::LAYOUT_HEIGHT_PAD()),
      std::pair(6000, 4050));
  Layout::Extend(anchor, child, 1, 1);
  EXPECT_EQ(CDbl(child->Get("Width")), 6000 - 150 - 60);

  EXPECT_THROW(child->Let("hwnd", 1), Error);
  delete label;  // a control whose widget is gone raises 91
  EXPECT_EQ(ErrorOf([&] { child->Get("Left"); }), 91);

  // Any object with coordinates, on a screen of other metrics.
  test::DesktopScope<MetricsDesktop, QtDesktop> desktop;
  EXPECT_EQ((std::array{Layout::PIXEL(), Layout::LAYOUT_GAP(), Layout::LAYOUT_HEIGHT_PAD(),
                        Layout::LAYOUT_HEIGHT_MENU_PAD(), CLng(Layout::LAYOUT_WIDTH_PAD())}),
            (std::array{15, 60, 390, 675, 105}));
  EXPECT_EQ(Layout::LAYOUT_WIDTH_PAD().TypeName(), "Long");
  auto box = std::make_shared<Box>(100, 200, 3000, 2000), inner = std::make_shared<Box>(400, 500, 10, 10);
  // The inner box reaches the outer one's right and bottom edges, less the gaps.
  Layout::Extend(box, inner, 1, 1);
  EXPECT_EQ(std::pair(inner->Width, inner->Height), std::pair(3000.0 - 300 - 60, 2000.0 - 300 - 60));
  Layout::Extend(box, inner, -2, 0);  // outwards
  EXPECT_EQ(inner->Width, 3000 - 300 + 120);
  Layout::Under(box, inner, 2);
  EXPECT_EQ(std::pair(inner->Left, inner->Top), std::pair(400.0, 200.0 + 2000 + 120));

  EXPECT_EQ(Trail([&] { Layout::Under(box, std::make_shared<Dispatch>(), 1); }),
            "438: Object doesn't support this property or method @ QuillmarkLibrary.Layout|[Layout]Public Sub Under(?, "
            "?, 1)");
  EXPECT_EQ(ErrorOf([&] { Layout::Extend(box, inner, 100'000'000, 0); }), 6);

  // 120 dpi: 12 twips per pixel and a gap of four pixels; 1440/130 = 11.08 rounds to 11.
  desktop->Twips = 12.0;
  EXPECT_EQ(Layout::LAYOUT_GAP(), 48);
  desktop->Twips = 1440.0 / 130;
  EXPECT_EQ(Layout::PIXEL(), 11);
}

// Offscreen there is no system pointer: Qt's own cursor moves, buttons go to
// the program's window under it, and windows have their rectangles.
TEST_F(DialogsTest, MouseOffscreen) {
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) GTEST_SKIP() << "needs the offscreen platform";
  Mouse mouse;
  mouse.Move(100, 200);
  EXPECT_EQ(std::pair(mouse.GetX(), mouse.GetY()), std::pair(100, 200));
  EXPECT_EQ(Trail([&] { mouse.DoubleClick(); }),
            "9999: Mouse button events reach only this program's windows on the offscreen platform, and none is under "
            "the pointer @ QuillmarkLibrary.Mouse|[Mouse]Public Sub LeftDown()|[Mouse]Public Sub Click()|[Mouse]Public "
            "Sub DoubleClick()");

  {
    test::ClickRecorder target;
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
  auto extent = mouse.GetWindowExtent(std::make_shared<Control>(&window));
  EXPECT_EQ((std::array{extent->Left, extent->Top, extent->Right, extent->Bottom}), (std::array{10, 20, 310, 220}));
  // An object without a window, and a window that does not exist.
  EXPECT_EQ(ErrorOf([&] { mouse.GetWindowExtent(std::make_shared<RectLong>()); }), 438);  // no hwnd
  EXPECT_EQ(Described([&] { mouse.GetWindowExtent(std::make_shared<test::WindowHandle>(0x7ffffff0)); }),
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
        // A box dismissed for good needs no window.
        SaveSetting("Demo", "Dismissed Message Boxes", "Seen", "Yes");
        Variant buttons = VariantArray::FromVector({"a", "b"});
        if (Dialog().MessageBox("Seen", "t", ICO_Question, buttons, true, 0, 1, "Demo") != 1) std::exit(4);
        const Error e = RaisedBy([] { Dialog().PasswordInputBox("x"); });
        std::exit(e.Number() == 9999 && e.Description().starts_with("No user interface is available") ? 3 : 2);
      },
      ::testing::ExitedWithCode(3), "");
}

// The error reporter shows the trail and logs one report (the error, a time,
// the trail one element a line); Ignore All suppresses the same error only.
TEST_F(DialogsTest, LinkingTheLibraryInstallsTheQtDesktopAndTheErrorReporterShowsAndLogsTheTrail) {
  EXPECT_TRUE(platform::Current().HasUserInterface());

  OnModal("QMessageBox", [](QWidget& w) {
    auto& box = static_cast<QMessageBox&>(w);
    EXPECT_EQ(box.icon(), QMessageBox::Question);
    EXPECT_EQ(box.defaultButton(), box.button(QMessageBox::No));
    box.button(QMessageBox::Cancel)->click();
  });
  // vbYesNoCancel + vbQuestion + vbDefaultButton2
  EXPECT_EQ(platform::Current().MessageBox("Prompt", 3 + 32 + 256, "Title"), 2);

  // The log holds the last report alone.
  const auto expectLog = [](const std::string& error, const std::string& trail) {
    EXPECT_THAT(test::ReadFile(frmError::LogFile()),
                testing::AllOf(testing::StartsWith("Error " + error + " at "),
                               testing::EndsWith("\r\nCall Stack : \r\n" + trail)));
  };
  EXPECT_TRUE(frmError::LogFile().ends_with("/Error Log Quillmark Libraries.log"));
  test::WriteFile(frmError::LogFile(), "an older report\r\n");  // overwritten, not appended
  frmError reporter;
  int shown = 0;
  // Reports `error` with `trail`, answering its window (if one opens) with `answer`.
  const auto report = [&](const std::string& trail, const std::string& error,
                          const std::function<void(QWidget&)>& answer) {
    OnModal("frmError", [&, answer](QWidget& w) {
      ++shown;
      answer(w);
    });
    reporter.HandleError(trail, error);
  };
  report("QuillmarkLibrary.QMStream|[QMStream]Private Sub Inner(3)|[QMStream]Public Sub Outer(\"orders\")", "Disk full",
         [&](QWidget& w) {
           EXPECT_EQ(Child<QLabel>(w, "lblError")->text().toStdString(), "Disk full");
           auto* list = Child<QListWidget>(w, "lstStackDump");
           ASSERT_EQ(list->count(), 3);
           EXPECT_EQ((list->item(0)->text() + "|" + list->item(2)->text()).toStdString(),
                     "QuillmarkLibrary.QMStream|[QMStream]Public Sub Outer(\"orders\")");
           // A second report while this one is open returns at once.
           reporter.HandleError("other", "Other error");
           Click(w, "cmdOK");
         });
  expectLog(
      "Disk full",
      "QuillmarkLibrary.QMStream\r\n[QMStream]Private Sub Inner(3)\r\n[QMStream]Public Sub Outer(\"orders\")\r\n");

  report("QuillmarkLibrary", "Locked", [](QWidget& w) { Click(w, "cmdIgnoreAll"); });
  std::filesystem::remove(frmError::LogFile());
  reporter.HandleError("QuillmarkLibrary", "Locked");  // ignored: no window, no log
  EXPECT_FALSE(std::filesystem::exists(frmError::LogFile()));
  report("QuillmarkLibrary|[Dialog]Public Sub X()", "Locked",
         [](QWidget& w) { QTest::keyClick(&w, Qt::Key_Return); });  // another trail
  // Each report opened its window.
  EXPECT_EQ(shown, 3);
  expectLog("Locked", "QuillmarkLibrary\r\n[Dialog]Public Sub X()\r\n");
}

}  // namespace
}  // namespace qm::ui
