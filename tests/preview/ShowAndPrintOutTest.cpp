// HTMLDoc.Show, Typographer.Show and Typographer.PrintOut as an application
// calls them: through the Qt desktop that linking the ui library installs.

#include <QMessageBox>
#include <QPrinterInfo>
#include <QToolButton>
#include <filesystem>

#include "preview/PreviewSupport.h"
#include "quillmark/html/HTMLDoc.h"
#include "quillmark/html/Typographer.h"
#include "ui/preview/HTMLPreview.h"
#include "ui/preview/WebView.h"
#include "ui/preview/frmPreview.h"

namespace {

using qm::test::OnModal;
using qm::ui::frmPreview;

class ShowAndPrintOutTest : public qm::test::UiTest {};

struct Seen {
  std::string Caption, Text, File;
  bool SaveAsOffered = false;
};

// Waits for the preview, notes what it shows and closes it.
void CloseThePreview(Seen& seen) {
  OnModal("frmPreview", [&](QWidget& window) {
    qm::ui::HTMLPreview* preview = frmPreview::Instance().Preview();
    seen.Caption = window.windowTitle().toStdString();
    seen.Text = preview->webView->toPlainText().toStdString();
    seen.File = preview->DocumentFile;
    seen.SaveAsOffered = preview->cmdSaveAs->isVisibleTo(&window);
    preview->cmdClose->click();
  });
}

TEST_F(ShowAndPrintOutTest, ReportsAreShownInThePreviewAndTheirScratchFilesGo) {
  qm::Typographer report;
  report.Initialise("Quarter");
  report.BodyBegin();
  report.OutputLine("Takings rose by a tenth");
  report.BodyEnd();
  report.Terminate();
  Seen typeset;
  CloseThePreview(typeset);
  report.Show();
  EXPECT_EQ(typeset.Caption, "Preview");
  EXPECT_NE(typeset.Text.find("Takings rose by a tenth"), std::string::npos) << typeset.Text;
  EXPECT_TRUE(typeset.SaveAsOffered);
  ASSERT_FALSE(typeset.File.empty());
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(typeset.File).parent_path()));

  qm::HTMLDoc doc;
  doc.BeginDoc("Orders");
  doc.BeginBody();
  doc.BodyText("Seven orders wait");
  Seen built;
  CloseThePreview(built);
  doc.Show(nullptr, false, 1);
  EXPECT_NE(built.Text.find("Seven orders wait"), std::string::npos) << built.Text;
  EXPECT_FALSE(built.SaveAsOffered);  // print button only
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(built.File).parent_path()));
  EXPECT_EQ(frmPreview::Instance().Window(), nullptr);
}

// Without a printer, PrintOut says so in a message box and raises nothing.
TEST_F(ShowAndPrintOutTest, PrintOutWithoutAPrinterSaysSo) {
  if (!QPrinterInfo::availablePrinterNames().isEmpty()) GTEST_SKIP() << "a printer is installed";
  qm::Typographer report;
  report.Initialise("Quarter");
  report.OutputLine("Takings");
  report.Terminate();
  std::string message;
  OnModal("QMessageBox", [&](QWidget& box) {
    message = static_cast<QMessageBox&>(box).text().toStdString();
    static_cast<QMessageBox&>(box).accept();
  });
  EXPECT_NO_THROW(report.PrintOut());
  EXPECT_EQ(message, "Quillmark Library (PrintOut) : No printer is installed");
}

}  // namespace
