#include <QStandardPaths>
#include <QThread>
#include <regex>

#include "preview/PreviewSupport.h"
#include "quillmark/errors/Error.h"
#include "quillmark/html/PrintSettings.h"
#include "support/ErrorOf.h"
#include "ui/preview/HTMLPreview.h"
#include "ui/preview/WordProcessor.h"

namespace {

using qm::test::AnswerSaveDialog;
using qm::test::Output;
using qm::test::PathScope;
using qm::test::ReadFile;
using qm::test::WriteFile;
using qm::test::WriteScript;
using qm::ui::HTMLPreview;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Why the real Word conversion cannot run here, or "" when it can: it needs
// LibreOffice's Writer component (program/libswlo.so beside the real soffice),
// not any soffice (an installation with Calc alone has one), and pdfinfo and
// pdfimages (poppler-utils) to check the result.
std::string WhyNoWordConversion() {
  const QString soffice = QStandardPaths::findExecutable("soffice");
  if (soffice.isEmpty()) return "LibreOffice (soffice) is not installed";
  std::error_code ec;
  const auto program = std::filesystem::canonical(soffice.toStdString(), ec).parent_path();
  if (ec || !std::filesystem::exists(program / "libswlo.so", ec))
    return "LibreOffice Writer is not installed (no libswlo.so beside " + soffice.toStdString() + ")";
  for (const char* tool : {"pdfinfo", "pdfimages"})
    if (QStandardPaths::findExecutable(tool).isEmpty()) return std::string(tool) + " (poppler-utils) is not installed";
  return "";
}

// A report in dir_, message boxes recorded, and stand-in programs in bin_: an
// soffice that keeps the page it is given (given.html) and writes a .doc.
class PreviewActionsTest : public qm::test::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    WriteScript(bin_ / "soffice",
                "out=; for a in \"$@\"; do [ \"$prev\" = --outdir ] && out=$a; prev=$a; page=$a; done\n"
                "cp \"$page\" '" +
                    (dir_ / "given.html") +
                    "'\n"
                    "echo \"$@\" > '" +
                    (dir_ / "args") +
                    "'\n"
                    "mkdir -p \"$out\" && echo DOC > \"$out/document.doc\"\n");
  }

  qm::test::ScratchDir dir_, bin_;
  const std::string page_ = qm::test::WriteReport(dir_);
  qm::test::RecordingScope desktop_;
};

TEST_F(PreviewActionsTest, SaveAsWritesAWebArchive) {
  HTMLPreview preview;
  preview.OpenDoc(page_, nullptr);
  AnswerSaveDialog("");
  preview.SaveAs();
  EXPECT_FALSE(std::filesystem::exists(dir_ / "report.mht"));

  AnswerSaveDialog(dir_ / "report.mht");
  preview.SaveAs();
  ASSERT_TRUE(std::filesystem::exists(dir_ / "report.mht"));
  // Python's email package reads it: the page and its picture.
  const std::string check =
      "python3 -c \"import email,sys; m=email.message_from_binary_file(open(sys.argv[1],'rb')); "
      "t=[p.get_content_type() for p in m.walk()]; "
      "sys.exit(0 if m.is_multipart() and 'text/html' in t and 'image/png' in t else 1)\" '" +
      (dir_ / "report.mht") + "'";
  EXPECT_EQ(std::system(check.c_str()), 0) << ReadFile(dir_ / "report.mht").substr(0, 600);
}

TEST_F(PreviewActionsTest, EmailAttachesTheArchiveAsDocumentRptOrSaysWhatFailed) {
  WriteScript(bin_ / "xdg-email",
              "cp \"$4\" '" + (dir_ / "attached") + "'\necho \"$1 $3 $# ${4##*/}\" > '" + (dir_ / "mailargs") + "'\n");
  {
    PathScope path(bin_.Path(), false);
    HTMLPreview preview;
    preview.OpenDoc(page_, nullptr);
    preview.Email();
  }
  EXPECT_TRUE(desktop_->Messages.empty());
  ASSERT_TRUE(std::filesystem::exists(HTMLPreview::MailFile()));
  // The program runs detached: wait for what it was given.
  for (int i = 0; i < 200 && ReadFile(dir_ / "mailargs").empty(); ++i) QThread::msleep(10);
  EXPECT_EQ(ReadFile(dir_ / "mailargs"), "--body --attach 4 Document.rpt\n");
  EXPECT_EQ(ReadFile(dir_ / "attached"), ReadFile(HTMLPreview::MailFile()));

  // A new preview signs on again: no mail program now.
  HTMLPreview preview;
  preview.OpenDoc(page_, nullptr);
  {
    qm::test::ScratchDir empty;
    PathScope path(empty.Path(), true);
    preview.Email();
  }
  ASSERT_EQ(desktop_->Messages.size(), 1u);
  EXPECT_EQ(desktop_->Messages[0].Prompt,
            "Microsoft Outlook could not be started. Confirm that it has been correctly installed on your computer.");
  EXPECT_EQ(desktop_->Messages[0].Buttons, 48);  // exclamation

  std::filesystem::remove(page_);  // nothing to pack
  preview.Email();
  ASSERT_EQ(desktop_->Messages.size(), 2u);
  EXPECT_EQ(desktop_->Messages[1].Prompt.rfind("Could not send mail: ", 0), 0u) << desktop_->Messages[1].Prompt;
}

TEST_F(PreviewActionsTest, WordExportPageSetupPicturesAndTheSavedDocument) {
  PathScope path(bin_.Path(), false);
  HTMLPreview preview;
  // Exports the report with `settings` to `name`; returns the page the word processor was given.
  const auto exportWith = [&](std::shared_ptr<qm::PrintSettings> settings, const std::string& name) {
    preview.OpenDoc(page_, std::move(settings));
    AnswerSaveDialog(dir_ / name);
    preview.OpenInWord();
    return ReadFile(dir_ / "given.html");
  };
  auto settings = std::make_shared<qm::PrintSettings>();
  settings->SetOrientation(qm::ORI_Landscape);
  settings->SetMargins(10, 20, 30, 40.5);
  const std::string given = exportWith(settings, "out.doc");
  EXPECT_TRUE(desktop_->Messages.empty()) << desktop_->Messages[0].Prompt;
  EXPECT_EQ(ReadFile(dir_ / "out.doc"), "DOC\n");
  EXPECT_TRUE(Contains(ReadFile(dir_ / "args"), "--convert-to doc:MS Word 97")) << ReadFile(dir_ / "args");
  EXPECT_TRUE(Contains(given,
                       "<STYLE>@page { size: landscape; margin-top: 10pt; margin-bottom: 40.5pt; "
                       "margin-right: 30pt; margin-left: 20pt; }</STYLE>\r\n<META "))
      << given;
  EXPECT_TRUE(Contains(given, "src=\"data:image/png;base64,iVBOR"));  // the picture is in the document
  EXPECT_TRUE(Contains(given, "src=\"missing/gone.gif\""));           // a broken link stays a link
  EXPECT_TRUE(Contains(given, "H6 { page-break-before: always }"));   // Writer reads style sheets
  EXPECT_EQ(preview.DocumentFile, page_);

  // Portrait only touches no margins; without settings there is no page rule at all.
  auto portrait = std::make_shared<qm::PrintSettings>();
  portrait->SetOrientation(qm::ORI_Portrait);
  const std::string portraitPage = exportWith(portrait, "portrait.doc");
  EXPECT_TRUE(Contains(portraitPage, "<STYLE>@page { size: portrait; }</STYLE>"));
  EXPECT_FALSE(Contains(portraitPage, "margin"));
  EXPECT_FALSE(Contains(exportWith(nullptr, "plain.doc"), "@page"));
}

TEST_F(PreviewActionsTest, WordExportCancelAndFailures) {
  HTMLPreview preview;
  preview.OpenDoc(page_, nullptr);
  {
    PathScope path(bin_.Path(), false);
    AnswerSaveDialog("");
    preview.OpenInWord();  // cancelled: no word processor runs
    EXPECT_FALSE(std::filesystem::exists(dir_ / "args"));
    EXPECT_TRUE(desktop_->Messages.empty());
  }
  {
    qm::test::ScratchDir empty;
    PathScope path(empty.Path(), true);  // no LibreOffice
    AnswerSaveDialog(dir_ / "nooffice.doc");
    preview.OpenInWord();
    ASSERT_EQ(desktop_->Messages.size(), 1u);
    EXPECT_EQ(desktop_->Messages[0].Prompt,
              "Microsoft Word could not be started. Check that it has been installed correctly. "
              "(LibreOffice Writer (soffice) is not installed)");
    EXPECT_EQ(desktop_->Messages[0].Buttons, 48);
    EXPECT_EQ(qm::test::RaisedBy([] { qm::ui::WordProcessor::Start(); }).code(), qm::errc::unavailable);
  }
  {
    // An installation with Calc but not Writer: the message names Writer.
    qm::test::ScratchDir office;
    std::filesystem::create_directories(office / "program");
    qm::test::WriteFile(office / "program/fundamentalrc", "[Bootstrap]\n");
    WriteScript(office / "program/soffice", "touch '" + (dir_ / "ran") + "'\n");
    qm::test::ScratchDir links;
    std::filesystem::create_symlink(office / "program/soffice", links / "soffice");
    PathScope path(links.Path(), true);
    AnswerSaveDialog(dir_ / "nowriter.doc");
    preview.OpenInWord();
    ASSERT_EQ(desktop_->Messages.size(), 2u);
    EXPECT_EQ(desktop_->Messages[1].Prompt,
              "Microsoft Word could not be started. Check that it has been installed correctly. "
              "(LibreOffice is installed without Writer, which converts to Word (Debian: libreoffice-writer))");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "ran"));
    EXPECT_EQ(qm::test::RaisedBy([] { qm::ui::WordProcessor::Start(); }).code(), qm::errc::unavailable);
    // With Writer's library the same installation is started.
    qm::test::WriteFile(office / "program/libswlo.so", "");
    EXPECT_FALSE(qm::ui::WordProcessor::LacksWriter(links / "soffice"));
  }
  WriteScript(bin_ / "soffice", "echo 'Error: source file could not be loaded' >&2; exit 1\n");
  PathScope path(bin_.Path(), false);
  AnswerSaveDialog(dir_ / "failed.doc");
  preview.OpenInWord();
  ASSERT_EQ(desktop_->Messages.size(), 3u);
  EXPECT_EQ(desktop_->Messages[2].Prompt,
            "Error exporting to Word: LibreOffice could not convert the document: Error: source file could not be "
            "loaded");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "failed.doc"));
}

// The Word export with the real LibreOffice Writer (skipped when it is not
// installed; scripts/test --full installs it).
class WordConversionTest : public PreviewActionsTest {};

TEST_F(WordConversionTest, LandscapeReportInWordFormat) {
  if (const std::string why = WhyNoWordConversion(); !why.empty())
    GTEST_SKIP() << why << ": the real Word conversion is not tested (scripts/test --full installs it)";
  auto settings = std::make_shared<qm::PrintSettings>();
  settings->SetOrientation(qm::ORI_Landscape);
  settings->SetMargins(36, 36, 36, 36);
  HTMLPreview preview;
  preview.OpenDoc(page_, settings);
  AnswerSaveDialog(dir_ / "report.doc");
  preview.OpenInWord();
  ASSERT_TRUE(desktop_->Messages.empty()) << desktop_->Messages[0].Prompt;
  EXPECT_EQ(ReadFile(dir_ / "report.doc").substr(0, 4), std::string("\xD0\xCF\x11\xE0", 4));  // an OLE2 (Word) file

  // Back to text, and to PDF for the page size and the picture; one private profile.
  const std::string office = "cd '" + dir_.Path().string() + "' && soffice -env:UserInstallation=file://" +
                             (dir_ / "profile") + " --headless --norestore ";
  Output(office + "--convert-to txt:Text report.doc 2>&1");
  const std::string text = ReadFile(dir_ / "report.txt");
  EXPECT_NE(text.find("Sales by region"), std::string::npos) << text;
  EXPECT_NE(text.find("Third page text"), std::string::npos) << text;
  Output(office + "--convert-to pdf report.doc 2>&1");
  const std::string info = Output("pdfinfo '" + (dir_ / "report.pdf") + "'");
  std::smatch size;
  ASSERT_TRUE(std::regex_search(info, size, std::regex(R"(Page size: *([0-9.]+) x ([0-9.]+))"))) << info;
  EXPECT_GT(std::stod(size[1]), std::stod(size[2])) << "a landscape page";
  EXPECT_NE(Output("pdfimages -list '" + (dir_ / "report.pdf") + "'").find("image"), std::string::npos);
}

}  // namespace
