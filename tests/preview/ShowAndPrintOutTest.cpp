// HTMLDoc.Show, Typographer.Show and Typographer.PrintOut as an application
// calls them: through the Qt desktop that linking the ui library installs.

#include <QMessageBox>
#include <QPrinterInfo>
#include <QToolButton>

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

// Waits for the preview, notes the text it shows and whether it offers Save As, and closes it.
void CloseThePreview(std::string& text, bool& saveAs) {
  OnModal("frmPreview", [&](QWidget& window) {
    qm::ui::HTMLPreview* preview = frmPreview::Instance().Preview();
    text = preview->webView->toPlainText().toStdString();
    saveAs = preview->cmdSaveAs->isVisibleTo(&window);
    preview->cmdClose->click();
  });
}

TEST_F(ShowAndPrintOutTest, ReportsAreShownInThePreview) {
  qm::Typographer report;
  report.Initialise("Quarter");
  report.BodyBegin();
  report.OutputLine("Takings rose by a tenth");
  report.BodyEnd();
  report.Terminate();
  std::string text;
  bool saveAs = false;
  CloseThePreview(text, saveAs);
  report.Show();
  EXPECT_NE(text.find("Takings rose by a tenth"), std::string::npos) << text;
  EXPECT_TRUE(saveAs);

  qm::HTMLDoc doc;
  doc.BeginDoc("Orders");
  doc.BeginBody();
  doc.BodyText("Seven orders wait");
  CloseThePreview(text, saveAs);
  doc.Show(nullptr, false, 1);
  EXPECT_NE(text.find("Seven orders wait"), std::string::npos) << text;
  EXPECT_FALSE(saveAs);  // print button only
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
