// The Word export with the real LibreOffice Writer (skipped when it is not
// installed; scripts/test --full installs it).

#include <QStandardPaths>

#include "preview/PreviewSupport.h"
#include "quillmark/html/PrintSettings.h"
#include "ui/preview/HTMLPreview.h"

namespace {

using qm::test::Output;
using qm::test::ReadFile;

class WordConversionTest : public qm::test::UiTest {};

TEST_F(WordConversionTest, LandscapeReportInWordFormat) {
  if (QStandardPaths::findExecutable("soffice").isEmpty())
    GTEST_SKIP() << "LibreOffice (soffice) is not installed: the real Word conversion is not tested "
                    "(scripts/test --full installs it)";
  qm::test::RecordingScope desktop;
  qm::test::ScratchDir dir;
  auto settings = std::make_shared<qm::PrintSettings>();
  settings->SetOrientation(qm::ORI_Landscape);
  settings->SetMargins(36, 36, 36, 36);
  qm::ui::HTMLPreview preview;
  preview.OpenDoc(qm::test::WriteReport(dir), settings);
  qm::test::AnswerSaveDialog(dir / "report.doc");
  preview.OpenInWord();
  ASSERT_TRUE(desktop->Messages.empty()) << desktop->Messages[0].Prompt;
  EXPECT_EQ(ReadFile(dir / "report.doc").substr(0, 4), std::string("\xD0\xCF\x11\xE0", 4));  // an OLE2 (Word) file

  // Back to PDF, with a private profile: the text, the page size and the picture.
  Output("cd '" + dir.Path().string() + "' && soffice -env:UserInstallation=file://" + (dir / "profile") +
         " --headless --norestore --convert-to pdf report.doc 2>&1");
  const std::string text = Output("pdftotext '" + (dir / "report.pdf") + "' -");
  EXPECT_NE(text.find("Sales by region"), std::string::npos) << text;
  EXPECT_NE(text.find("Third page text"), std::string::npos) << text;
  const std::string info = Output("pdfinfo '" + (dir / "report.pdf") + "'");
  double width = 0, height = 0;
  const auto size = info.find("Page size:");
  ASSERT_NE(size, std::string::npos) << info;
  ASSERT_EQ(std::sscanf(info.c_str() + size, "Page size: %lf x %lf", &width, &height), 2) << info;
  EXPECT_GT(width, height) << "a landscape page";
  EXPECT_NE(Output("pdfimages -list '" + (dir / "report.pdf") + "'").find("image"), std::string::npos);
}

}  // namespace
