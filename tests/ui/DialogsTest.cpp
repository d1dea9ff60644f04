// The dialogs that Dialog opens: the slider, the list, the password box, and
// the file and colour dialogs.

#include <QAbstractButton>
#include <QColorDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <filesystem>

#include "quillmark/errors/Error.h"
#include "quillmark/ui/Dialog.h"
#include "quillmark/values/Conversions.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"
#include "ui/UiTestSupport.h"
#include "ui/frmCommDLG.h"

namespace {

using qm::Variant;
using qm::VariantArray;
using qm::test::Child;
using qm::test::OnModal;
using qm::ui::Dialog;

class ValueDialogsTest : public qm::test::UiTest {};

// The text of a label or an edit box.
std::string Text(QWidget& form, const char* name) {
  return Child(form, name)->property("text").toString().toStdString();
}

void Click(QWidget& form, const char* name) { QTest::mouseClick(Child<QPushButton>(form, name), Qt::LeftButton); }

void TypeInto(QWidget& form, const char* name, const char* text) {
  auto* edit = Child<QLineEdit>(form, name);
  edit->selectAll();
  QTest::keyClicks(edit, QString::fromLatin1(text));
}

TEST_F(ValueDialogsTest, SliderShowsTheRangeReturnsTheValueAndRefusesInvalidText) {
  OnModal("frmSlider", [](QWidget& form) {
    EXPECT_EQ(Text(form, "lblRange1"), "50");  // midway
    auto* slider = Child<QSlider>(form, "sliInput");
    EXPECT_EQ(slider->pageStep(), 10);  // a tenth of the range
    slider->setValue(42);               // moving the slider writes the text
    EXPECT_EQ(Text(form, "txtInput"), "42");
    TypeInto(form, "txtInput", "17.5");  // typing moves the slider
    EXPECT_EQ(slider->value(), 18);
    EXPECT_EQ(Text(form, "txtInput"), "17.5");
    Click(form, "cmdOK");
  });
  EXPECT_EQ(Dialog().Slider(0, 100, "Volume"), 17.5);

  // 0.5 rounds to the even 0; OK without editing returns 0.5.
  OnModal("frmSlider", [](QWidget& form) {
    EXPECT_EQ(Text(form, "txtInput"), "0.5");
    EXPECT_EQ(Child<QSlider>(form, "sliInput")->value(), 0);
    QTest::keyClick(&form, Qt::Key_Return);
  });
  EXPECT_EQ(Dialog().Slider(0, 1, "Fraction", 0.5), 0.5);

  // TickFreq 5: the large change is 5; Cancel returns Default whatever was typed.
  OnModal("frmSlider", [](QWidget& form) {
    EXPECT_EQ(Child<QSlider>(form, "sliInput")->pageStep(), 5);
    EXPECT_EQ(Text(form, "lblRange1"), "midway");
    TypeInto(form, "txtInput", "77");
    QTest::keyClick(&form, Qt::Key_Escape);
  });
  EXPECT_EQ(Dialog().Slider(0, 100, "Volume", 30, Variant("midway"), false, 5, 5, "How loud?"), 30.0);

  // Out of range, and invalid text.
  for (bool restrict : {true, false}) {
    OnModal("frmSlider", [](QWidget& form) {
      Child<QLineEdit>(form, "txtInput")->setText(QStringLiteral("250"));  // pasted
      EXPECT_EQ(Child<QSlider>(form, "sliInput")->value(), 0);             // the slider does not move
      Click(form, "cmdOK");
    });
    EXPECT_EQ(Dialog().Slider(0, 100, "Volume", 0, std::nullopt, restrict), restrict ? 100.0 : 250.0);
  }

  bool warned = false;
  OnModal("frmSlider", [&](QWidget& form) {
    TypeInto(form, "txtInput", "abc");
    OnModal("QMessageBox", [&](QWidget& box) {
      warned = static_cast<QMessageBox&>(box).text() == QLatin1String("Enter a valid number.");
      EXPECT_EQ(static_cast<QMessageBox&>(box).icon(), QMessageBox::Warning);
      // The slider stays open behind the warning: put a number in and accept.
      OnModal("frmSlider", [](QWidget& again) {
        TypeInto(again, "txtInput", "12");
        Click(again, "cmdOK");
      });
      static_cast<QMessageBox&>(box).accept();
    });
    Click(form, "cmdOK");
  });
  EXPECT_EQ(Dialog().Slider(0, 100, "Volume"), 12.0);
  EXPECT_TRUE(warned);
}

TEST_F(ValueDialogsTest, ChoiceFromAList) {
  Variant choices = VariantArray::FromVector({"red", "green", "blue"});
  OnModal("frmList", [](QWidget& form) {
    auto* list = Child<QListWidget>(form, "lstChoices");
    EXPECT_EQ(list->currentRow(), 1);
    list->setCurrentRow(2);
    QTest::keyClick(&form, Qt::Key_Return);
  });
  EXPECT_EQ(qm::CStr(Dialog().Choice(choices, "Colour", 1)), "blue");

  OnModal("frmList", [](QWidget& form) { Click(form, "cmdCancel"); });
  EXPECT_TRUE(Dialog().Choice(choices, "Colour", 1).IsEmpty());

  OnModal("frmList", [](QWidget& form) {
    EXPECT_EQ(Child<QListWidget>(form, "lstChoices")->selectedItems().size(), 0);
    Click(form, "cmdOK");
  });
  const Variant none = Dialog().Choice(choices, "Colour", -1);
  EXPECT_TRUE(none.IsString());
  EXPECT_EQ(qm::CStr(none), "");

  const qm::Error e = qm::test::RaisedBy([] { Dialog().Choice(Variant("red"), "Colour"); });
  EXPECT_EQ(e.Number(), 9999);
  EXPECT_EQ(e.Description(), "frmList.Choice must be called with an array.");
  EXPECT_EQ(e.Source(),
            "QuillmarkLibrary.frmList|[List]Public Function Choice(?, \"Colour\", 0)|[Dialog]Public Function "
            "Choice(?, \"Colour\", 0)");
  EXPECT_THROW(Dialog().Choice(choices, "Colour", 3), qm::Error);  // no such entry
}

TEST_F(ValueDialogsTest, PasswordIsMaskedAndCancelGivesNothing) {
  OnModal("frmPassword", [](QWidget& form) {
    auto* edit = Child<QLineEdit>(form, "txtInput");
    EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
    QTest::keyClicks(edit, QStringLiteral("s3cret"));
    QTest::keyClick(&form, Qt::Key_Return);
  });
  EXPECT_EQ(Dialog().PasswordInputBox("Enter the archive password:"), "s3cret");

  OnModal("frmPassword", [](QWidget& form) {
    QTest::keyClicks(Child<QLineEdit>(form, "txtInput"), QStringLiteral("x"));
    Click(form, "cmdCancel");
  });
  EXPECT_EQ(Dialog().PasswordInputBox("Password:", "Archive"), "");
}

QFileDialog& File(QWidget& w) { return static_cast<QFileDialog&>(w); }

class FileDialogsTest : public qm::test::UiTest {};

TEST(FilterTest, TranslatesBarSeparatedPairs) {
  EXPECT_EQ(qm::ui::TranslateFilter("Text files|*.txt"), QStringList{"Text files (*.txt)"});
  EXPECT_EQ(qm::ui::TranslateFilter("Pictures|*.png;*.jpg|All files|*.*"),
            (QStringList{"Pictures (*.png *.jpg)", "All files (*)"}));
  EXPECT_EQ(qm::ui::TranslateFilter("Odd"), QStringList{"Odd (*)"});
  EXPECT_TRUE(qm::ui::TranslateFilter("").isEmpty());
}

TEST_F(FileDialogsTest, SaveDialogSettingsCancelAndOverwrite) {
  qm::test::ScratchDir dir;
  OnModal("QFileDialog", [&](QWidget& w) {
    EXPECT_EQ(File(w).nameFilters(), QStringList{"Text files (*.txt)"});
    EXPECT_EQ(File(w).directory().absolutePath().toStdString(), dir.Path().string());
    File(w).reject();
  });
  EXPECT_EQ(Dialog().SaveAsFilename("txt", "Text files", "Save report", "report", dir.Path().string()), "");

  // A typed name gets the default extension; an existing file is asked about.
  qm::test::WriteFile(dir / "old.txt", "x");
  bool asked = false;
  OnModal("QFileDialog", [&](QWidget& w) {
    // Typed into the name field, as a user would.
    w.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("old"));
    OnModal("QMessageBox", [&](QWidget& box) {
      asked = true;
      static_cast<QMessageBox&>(box).button(QMessageBox::Yes)->click();
    });
    static_cast<QDialog&>(w).accept();
  });
  EXPECT_EQ(Dialog().SaveAsFilename("txt", "Text files", "Save", "", dir.Path().string()), dir / "old.txt");
  EXPECT_TRUE(asked);
}

TEST_F(FileDialogsTest, SelectedFilterGoesInAndOutAndOpenReturnsTheChosenFile) {
  const std::string filter = "Text|*.txt|Web pages|*.htm;*.html|All files|*.*";
  std::int32_t selected = 2;
  OnModal("QFileDialog", [](QWidget& w) {
    EXPECT_EQ(File(w).selectedNameFilter().toStdString(), "Web pages (*.htm *.html)");
    File(w).selectNameFilter(QStringLiteral("All files (*)"));
    File(w).reject();
  });
  EXPECT_EQ(Dialog().SaveAsFilenameEx("htm", filter, "Save", selected, "page"), "");
  EXPECT_EQ(selected, 3);

  qm::test::ScratchDir dir;
  qm::test::WriteFile(dir / "data.csv", "1,2");
  OnModal("QFileDialog", [&](QWidget& w) {
    EXPECT_EQ(File(w).nameFilters(), (QStringList{"Tables (*.csv)", "All (*)"}));
    EXPECT_EQ(File(w).fileMode(), QFileDialog::ExistingFile);
    w.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("data.csv"));
    static_cast<QDialog&>(w).accept();
  });
  EXPECT_EQ(Dialog().OpenFilenameEx("csv", "Tables|*.csv|All|*.*", "Open", dir.Path().string()), dir / "data.csv");
}

TEST_F(FileDialogsTest, ColoursAreBlueGreenRed) {
  OnModal("QColorDialog", [](QWidget& w) {
    EXPECT_EQ(static_cast<QColorDialog&>(w).currentColor(), QColor(255, 0, 0));
    static_cast<QColorDialog&>(w).reject();
  });
  EXPECT_EQ(Dialog().SelectColor(qm::Variant(255)), 255);  // cancelled: the colour given
  OnModal("QColorDialog", [](QWidget& w) {
    static_cast<QColorDialog&>(w).setCurrentColor(QColor(0x12, 0x34, 0x56));
    static_cast<QColorDialog&>(w).accept();
  });
  EXPECT_EQ(Dialog().SelectColor(qm::Variant(255)), 0x563412);
  const qm::Error e = qm::test::RaisedBy([] { Dialog().SelectColor(qm::Variant("blue")); });
  EXPECT_EQ(e.Number(), 13);
  EXPECT_TRUE(e.Source().ends_with("|[Dialog]Public Function SelectColor(?)"));
}

}  // namespace
