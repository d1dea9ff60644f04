#include <gtest/gtest.h>

#include <filesystem>

#include "html/RecordingDesktop.h"
#include "quillmark/errors/Error.h"
#include "quillmark/html/HTMLDoc.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using qm::HTMLDoc;
using qm::test::RaisedBy;

TEST(HTMLDoc, ReportExampleAndTitleDefaults) {
  HTMLDoc doc;
  doc.BeginDoc("Report");
  EXPECT_TRUE(doc.InHead());
  doc.BeginBody();
  EXPECT_TRUE(doc.InBody());
  doc.Heading(1);
  doc.BodyText("Results");
  doc.EndTag();
  const std::string expected =
      "<HTML>\r\n<HEAD>\r\n<TITLE> Report</TITLE>\r\n</HEAD>\r\n<BODY>\r\n<H1> Results</H1>\r\n</BODY>\r\n</HTML>\r\n";
  EXPECT_EQ(doc.GetDocument(), expected);
  EXPECT_EQ(doc.GetDocument(), expected);  // taking it again closes nothing more

  HTMLDoc fresh;
  EXPECT_FALSE(fresh.InHead() || fresh.InBody());
  fresh.BeginBody();
  fresh.BeginBody();  // already in the body: nothing happens
  EXPECT_EQ(fresh.GetDocument(),
            "<HTML>\r\n<HEAD>\r\n<TITLE> untitled</TITLE>\r\n</HEAD>\r\n<BODY>\r\n</BODY>\r\n</HTML>\r\n");

  // A second BeginDoc starts over.
  fresh.BeginDoc("B");
  EXPECT_EQ(fresh.GetUnfinishedText(), "<HTML>\r\n<HEAD>\r\n<TITLE> B</TITLE>\r\n");
}

TEST(HTMLDoc, ElementsAndAttributes) {
  HTMLDoc cells;
  cells.TableElem("x");
  cells.TableElem("y", "colspan=2");
  EXPECT_EQ(cells.GetUnfinishedText(), "<TD valign=top > x</TD>\r\n<TD valign=top colspan=2> y</TD>\r\n");

  HTMLDoc bold;
  bold.Bold();
  bold.BodyText("a");
  bold.EndTag();
  bold.Tag("DIV");
  bold.BodyText("a");
  EXPECT_EQ(bold.GetUnfinishedText(), "<B> a</B>\r\n<DIV>\r\na");
  EXPECT_EQ(bold.GetDocument(), "<B> a</B>\r\n<DIV>\r\na</DIV>\r\n");

  HTMLDoc table;
  table.Table();
  table.TagBorder(0);
  table.TableRow();
  table.TableElemEx();
  table.TagAlign(qm::vbCenter);
  table.TagAlign(static_cast<qm::AlignmentConstants>(7));  // adds nothing
  table.TagWidth(10);
  table.BodyTextCR("z");
  table.Italic();
  table.BodyText("i");
  EXPECT_EQ(
      table.GetDocument(),
      "<TABLE border=0>\r\n<TR>\r\n<TD align=center width=10>\r\nz<BR><I> i</I>\r\n</TD>\r\n</TR>\r\n</TABLE>\r\n");
}

TEST(HTMLDoc, PageBreakImagesAndFailures) {
  HTMLDoc doc;
  doc.PageBreak();
  doc.Image("C:\\pics\\a.gif");
  doc.AddTagText("border=0");
  EXPECT_EQ(doc.GetDocument(), "<P style='page-break-before: always'>\r\n<IMG alt=\"\" src=\"a.gif\" border=0>\r\n");

  HTMLDoc text;
  text.BodyText("t");
  const qm::Error e = RaisedBy([&] { text.TagBorder(0); });
  EXPECT_EQ(e.Number(), 9999);
  EXPECT_EQ(e.Description(), "Must be in tag");
  EXPECT_EQ(e.Source(),
            "QuillmarkLibrary.HTMLDoc|[HTMLDoc]Public Sub AddTagText(\"border=0\")|[HTMLDoc]Public Sub TagBorder(0)");
  EXPECT_EQ(text.GetUnfinishedText(), "t");

  HTMLDoc empty;
  empty.Tag("P", true);
  EXPECT_EQ(qm::test::ErrorOf([&] { empty.EndTag(); }), 9);
  EXPECT_EQ(empty.GetUnfinishedText(), "<P>\r\n");  // the pending ">" was written first
}

TEST(HTMLDoc, SaveAsCopiesPicturesNextToThePage) {
  qm::test::ScratchDir dir;
  fs::create_directories(dir.Path() / "pics");
  fs::create_directories(dir.Path() / "out");
  qm::test::WriteFile(dir / "pics/a.gif", "GIF89a");
  HTMLDoc doc;
  doc.BeginBody();
  doc.Image((dir.Path() / "pics").string() + "\\a.gif");  // a Windows-style separator resolves too
  doc.SaveAs(dir / "out/r.html");
  EXPECT_EQ(qm::test::ReadFile(dir / "out/a.gif"), "GIF89a");
  EXPECT_EQ(qm::test::ReadFile(dir / "out/r.html"), doc.GetDocument() + "\r\n");

  HTMLDoc missing;
  missing.Image(dir / "pics/none.gif");
  const qm::Error e = RaisedBy([&] { missing.SaveAs(dir / "out/m.html"); });
  EXPECT_EQ(e.Number(), 53);
  EXPECT_NE(e.Source().find("[HTMLDoc]Public Sub SaveAs(\""), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "out/m.html"));
}

TEST(HTMLDoc, ShowPassesItsSettingsToThePreview) {
  auto settings = std::make_shared<qm::PrintSettings>();
  {
    qm::test::DesktopInstaller desktop;
    HTMLDoc doc;
    doc.BodyText("shown");
    doc.Show(settings, true, 2);
    ASSERT_EQ(desktop->Previews.size(), 1u);
    const auto& request = desktop->Previews[0];
    EXPECT_TRUE(request.PrintOnly);
    EXPECT_EQ(request.DisplayButtons, 2);
    EXPECT_EQ(request.PrintSettings, settings);
  }
  // Headless: the desktop's own error, without this operation's element.
  HTMLDoc doc;
  const qm::Error e = RaisedBy([&] { doc.Show(nullptr); });
  EXPECT_EQ(e.Number(), 9999);
  EXPECT_EQ(e.Description(), "No user interface is available: link quillmark::ui and run with a display");
  EXPECT_EQ(e.Source().find("Show"), std::string::npos);
}

}  // namespace
