#include <QAbstractButton>
#include <QColorDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <filesystem>

#include "quillmark/frame/Error.h"
#include "quillmark/ui/Dialog.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"
#include "ui/UiTestSupport.h"
#include "ui/frmCommDLG.h"

namespace {

using qm::test::OnModal;
using qm::ui::Dialog;

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
  OnModal("QFileDialog", [](QWidget& w) { File(w).reject(); });
  EXPECT_EQ(Dialog().OpenFilename("csv", "Tables", "Open"), "");
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
