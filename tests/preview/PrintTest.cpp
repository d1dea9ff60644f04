#include <QPrinterInfo>
#include <QStandardPaths>

#include "preview/PreviewSupport.h"
#include "quillmark/frame/Error.h"
#include "quillmark/ui/PrintHelper.h"
#include "support/ErrorOf.h"

namespace {

using qm::test::Output;

int Pages(const std::string& pdf) {
  const std::string info = Output("pdfinfo '" + pdf + "' 2>&1");
  const auto at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

class PrintTest : public qm::test::UiTest {};

TEST_F(PrintTest, PdfHasOnePagePerPageBreakPlusOne) {
  ASSERT_FALSE(qm::ui::PrintHelperPath().empty());
  qm::test::ScratchDir dir;
  const std::string page = qm::test::WriteReport(dir);
  qm::ui::PrintToPdf(page, dir / "report.pdf");
  if (QStandardPaths::findExecutable("pdfinfo").isEmpty()) GTEST_SKIP() << "pdfinfo is not installed";
  EXPECT_EQ(Pages(dir / "report.pdf"), 3);  // two page breaks

  // The command-line tool does the same.
  const std::string tool = QM_CLI_PROGRAM;
  EXPECT_EQ(std::system((tool + " print '" + page + "' --pdf '" + (dir / "cli.pdf") + "' >/dev/null").c_str()), 0);
  EXPECT_EQ(Pages(dir / "cli.pdf"), 3);
  EXPECT_NE(std::system((tool + " print >/dev/null 2>&1").c_str()), 0);
}

TEST_F(PrintTest, BadInput) {
  qm::test::ScratchDir dir;
  EXPECT_EQ(qm::test::ErrorOf([&] { qm::ui::PrintToPdf(dir / "nothere.html", dir / "x.pdf"); }), 53);
  const std::string page = qm::test::WriteReport(dir);
  const qm::Error e = qm::test::RaisedBy([&] { qm::ui::PrintToPdf(page, dir / "no/such/folder/x.pdf"); });
  EXPECT_EQ(e.Number(), 9999);
  EXPECT_NE(e.Description().find("quillmark-print"), std::string::npos) << e.Description();
  if (QPrinterInfo::availablePrinterNames().isEmpty()) {
    EXPECT_EQ(qm::test::RaisedBy([&] { qm::ui::PrintDetached(dir / "report.html"); }).Description(),
              "No printer is installed");
  }
}

}  // namespace
