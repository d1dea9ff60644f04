#include <QThread>
#include <regex>
#include <sstream>

#include "preview/PreviewSupport.h"
#include "quillmark/frame/Error.h"
#include "quillmark/html/PrintSettings.h"
#include "support/ErrorOf.h"
#include "ui/preview/HTMLPreview.h"

namespace {

using qm::test::AnswerSaveDialog;
using qm::test::ReadFile;
using qm::test::WriteFile;
using qm::test::WriteScript;
using qm::ui::HTMLPreview;

class PreviewActionsTest : public qm::test::UiTest {};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(StyleTagsTest, GetHTMLMinusStyleAndRemoveStyleTagsWritesANumberedCopy) {
  EXPECT_EQ(HTMLPreview::GetHTMLMinusStyle("a <style>x</style> b"), "ab");
  EXPECT_EQ(HTMLPreview::GetHTMLMinusStyle("no style here "), "no style here ");
  EXPECT_EQ(HTMLPreview::GetHTMLMinusStyle("<HEAD><STYLE>H6 {}</Style>\r\n</HEAD> x <sTyLe>y</STYLE>z"),
            "<HEAD>\r\n</HEAD> xz");
  // Without a closing tag the rest loses its first seven characters.
  EXPECT_EQ(HTMLPreview::GetHTMLMinusStyle("a <style>x"), "ae>x");
  EXPECT_EQ(HTMLPreview::GetHTMLMinusStyle(""), "");

  qm::test::ScratchDir dir;
  const std::string page = dir / "doc.html";
  WriteFile(page, "<HTML><HEAD><STYLE>H6 { page-break-before: always }</STYLE></HEAD>\nBody\r\n</HTML>");
  const std::string copy = HTMLPreview::RemoveStyleTags(page);
  std::smatch number;
  ASSERT_TRUE(std::regex_match(copy, number, std::regex(".*/doc([0-9]+)\\.html"))) << copy;
  EXPECT_LE(std::stoi(number[1]), 1000);
  EXPECT_EQ(ReadFile(copy), "<HTML><HEAD></HEAD>\r\nBody\r\n</HTML>\r\n\r\n");
  EXPECT_EQ(ReadFile(page).substr(0, 12), "<HTML><HEAD>");  // the original stays

  WriteFile(dir / "noextension", "x");
  const qm::Error e = qm::test::RaisedBy([&] { HTMLPreview::RemoveStyleTags(dir / "noextension"); });
  EXPECT_EQ(e.Number(), 5);
  EXPECT_TRUE(Contains(e.Source(), "[HTMLPreview]Private Function RemoveStyleTags(")) << e.Source();
}

TEST_F(PreviewActionsTest, SaveAsWritesAWebArchive) {
  qm::test::ScratchDir dir;
  HTMLPreview preview;
  preview.OpenDoc(qm::test::WriteReport(dir), nullptr);

  AnswerSaveDialog("");
  preview.SaveAs();
  EXPECT_FALSE(std::filesystem::exists(dir / "report.mht"));

  AnswerSaveDialog(dir / "report.mht");
  preview.SaveAs();
  ASSERT_TRUE(std::filesystem::exists(dir / "report.mht"));
  // Python's email package reads it: the page and its picture.
  const std::string check =
      "python3 -c \"import email,sys; m=email.message_from_binary_file(open(sys.argv[1],'rb')); "
      "t=[p.get_content_type() for p in m.walk()]; "
      "sys.exit(0 if m.is_multipart() and 'text/html' in t and 'image/png' in t else 1)\" '" +
      (dir / "report.mht") + "'";
  EXPECT_EQ(std::system(check.c_str()), 0) << ReadFile(dir / "report.mht").substr(0, 600);
}

TEST_F(PreviewActionsTest, EmailAttachesTheArchiveAsDocumentRpt) {
  qm::test::RecordingScope desktop;
  qm::test::ScratchDir dir, bin;
  WriteScript(bin / "xdg-email", "for a in \"$@\"; do echo \"$a\"; done > '" + (dir / "args") + "'\n");
  qm::test::PathScope path(bin.Path(), false);

  HTMLPreview preview;
  preview.OpenDoc(qm::test::WriteReport(dir), nullptr);
  preview.Email();
  EXPECT_TRUE(desktop->Messages.empty());
  ASSERT_TRUE(std::filesystem::exists(HTMLPreview::MailFile()));
  EXPECT_EQ(std::filesystem::path(HTMLPreview::MailFile()).filename(), "~tomail.mht");

  // The program runs detached: wait for what it was given.
  for (int i = 0; i < 200 && ReadFile(dir / "args").empty(); ++i) QThread::msleep(10);
  std::vector<std::string> args;
  std::istringstream lines(ReadFile(dir / "args"));
  for (std::string line; std::getline(lines, line);) args.push_back(line);
  ASSERT_EQ(args.size(), 4u) << ReadFile(dir / "args");
  EXPECT_EQ(args[0], "--body");
  EXPECT_EQ(args[2], "--attach");
  EXPECT_EQ(std::filesystem::path(args[3]).filename(), "Document.rpt");
  EXPECT_EQ(ReadFile(args[3]), ReadFile(HTMLPreview::MailFile()));
}

TEST_F(PreviewActionsTest, EmailFailuresShowTheirMessages) {
  qm::test::RecordingScope desktop;
  qm::test::ScratchDir dir, empty;
  HTMLPreview preview;
  preview.OpenDoc(qm::test::WriteReport(dir), nullptr);
  {
    qm::test::PathScope path(empty.Path(), true);  // no mail program
    preview.Email();
  }
  ASSERT_EQ(desktop->Messages.size(), 1u);
  EXPECT_EQ(desktop->Messages[0].Prompt,
            "Microsoft Outlook could not be started. Confirm that it has been correctly installed on your computer.");
  EXPECT_EQ(desktop->Messages[0].Buttons, 48);  // exclamation

  std::filesystem::remove(dir / "report.html");  // nothing to pack
  preview.Email();
  ASSERT_EQ(desktop->Messages.size(), 2u);
  EXPECT_EQ(desktop->Messages[1].Prompt.rfind("Could not send mail: ", 0), 0u) << desktop->Messages[1].Prompt;
}

class WordExportTest : public PreviewActionsTest {
 protected:
  // A stand-in soffice: keeps the page it is given and writes a .doc.
  void SetUp() override {
    PreviewActionsTest::SetUp();
    WriteScript(bin_ / "soffice",
                "out=; for a in \"$@\"; do [ \"$prev\" = --outdir ] && out=$a; prev=$a; page=$a; done\n"
                "cp \"$page\" '" + (dir_ / "given.html") + "'\n"
                "echo \"$@\" > '" + (dir_ / "args") + "'\n"
                "mkdir -p \"$out\" && echo DOC > \"$out/document.doc\"\n");
  }
  std::string Given() const { return ReadFile(dir_ / "given.html"); }

  qm::test::ScratchDir dir_, bin_;
};

TEST_F(WordExportTest, PageSetupPicturesAndTheSavedDocument) {
  qm::test::RecordingScope desktop;
  qm::test::PathScope path(bin_.Path(), false);
  auto settings = std::make_shared<qm::PrintSettings>();
  settings->SetOrientation(qm::ORI_Landscape);
  settings->SetMargins(10, 20, 30, 40.5);
  HTMLPreview preview;
  preview.OpenDoc(qm::test::WriteReport(dir_), settings);
  AnswerSaveDialog(dir_ / "out.doc");
  preview.OpenInWord();

  EXPECT_TRUE(desktop->Messages.empty()) << desktop->Messages[0].Prompt;
  EXPECT_EQ(ReadFile(dir_ / "out.doc"), "DOC\n");
  EXPECT_TRUE(Contains(ReadFile(dir_ / "args"), "--convert-to doc:MS Word 97")) << ReadFile(dir_ / "args");
  const std::string given = Given();
  EXPECT_TRUE(Contains(given, "<STYLE>@page { size: landscape; margin-top: 10pt; margin-bottom: 40.5pt; "
                              "margin-right: 30pt; margin-left: 20pt; }</STYLE>\r\n<META "))
      << given;
  EXPECT_TRUE(Contains(given, "src=\"data:image/png;base64,iVBOR"));  // the picture is in the document
  EXPECT_TRUE(Contains(given, "src=\"missing/gone.gif\""));           // a broken link stays a link
  EXPECT_TRUE(Contains(given, "H6 { page-break-before: always }"));   // Writer reads style sheets
  EXPECT_EQ(preview.DocumentFile, dir_ / "report.html");

  // Portrait only touches no margins.
  auto portrait = std::make_shared<qm::PrintSettings>();
  portrait->SetOrientation(qm::ORI_Portrait);
  preview.OpenDoc(dir_ / "report.html", portrait);
  AnswerSaveDialog(dir_ / "portrait.doc");
  preview.OpenInWord();
  EXPECT_TRUE(Contains(Given(), "<STYLE>@page { size: portrait; }</STYLE>"));
  EXPECT_FALSE(Contains(Given(), "margin"));

  // Without settings no page rule at all.
  preview.OpenDoc(dir_ / "report.html", nullptr);
  AnswerSaveDialog(dir_ / "plain.doc");
  preview.OpenInWord();
  EXPECT_FALSE(Contains(Given(), "@page"));
  EXPECT_TRUE(desktop->Messages.empty());
}

TEST_F(WordExportTest, CancelAndFailures) {
  qm::test::RecordingScope desktop;
  HTMLPreview preview;
  preview.OpenDoc(qm::test::WriteReport(dir_), nullptr);
  {
    qm::test::PathScope path(bin_.Path(), false);
    AnswerSaveDialog("");
    preview.OpenInWord();  // cancelled: no word processor runs
    EXPECT_FALSE(std::filesystem::exists(dir_ / "args"));
    EXPECT_TRUE(desktop->Messages.empty());
  }
  {
    qm::test::ScratchDir empty;
    qm::test::PathScope path(empty.Path(), true);  // no LibreOffice
    AnswerSaveDialog(dir_ / "nooffice.doc");
    preview.OpenInWord();
    ASSERT_EQ(desktop->Messages.size(), 1u);
    EXPECT_EQ(desktop->Messages[0].Prompt,
              "Microsoft Word could not be started. Check that it has been installed correctly. "
              "(LibreOffice Writer (soffice) is not installed)");
    EXPECT_EQ(desktop->Messages[0].Buttons, 48);
  }
  {
    WriteScript(bin_ / "soffice", "echo 'Error: source file could not be loaded' >&2; exit 1\n");
    qm::test::PathScope path(bin_.Path(), false);
    AnswerSaveDialog(dir_ / "failed.doc");
    preview.OpenInWord();
    ASSERT_EQ(desktop->Messages.size(), 2u);
    EXPECT_EQ(desktop->Messages[1].Prompt,
              "Error exporting to Word: LibreOffice could not convert the document: Error: source file could not be "
              "loaded");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "failed.doc"));
  }
}

}  // namespace
