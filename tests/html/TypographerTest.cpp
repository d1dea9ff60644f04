#include <gtest/gtest.h>

#include <filesystem>

#include "html/RecordingDesktop.h"
#include "quillmark/errors/Error.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/html/PrintSettings.h"
#include "quillmark/html/Typographer.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using qm::Typographer;
using qm::test::ErrorOf;

std::string Lines(const std::string& bars) {  // each "|" stands for CR LF
  std::string text;
  for (char c : bars) text += c == '|' ? std::string("\r\n") : std::string(1, c);
  return text;
}

TEST(Typographer, ReportFragments) {
  Typographer t;
  t.Initialise("R", "<META x>");
  t.BodyBegin();
  t.Output("x");
  t.BodyEnd();
  t.Terminate();
  EXPECT_EQ(t.sHTML, Lines("<HTML>|<HEAD>|<TITLE>R</TITLE>|<STYLE>  H6 { page-break-before: always }</STYLE><META x>|"
                           "</HEAD><BODY>||x|</BODY>||</HTML>||"));

  t.sHTML.clear();
  t.TableElement("a");
  t.TableElement("b", qm::vbRightJustify, qm::Variant(50));  // the row is still open
  t.TableElementEx("c", "nowrap");
  t.TableRowBegin();  // ends the open row first
  t.TableEnd();
  EXPECT_EQ(t.sHTML,
            Lines("<TR>|<TD valign=top | align=left |>|a|</TD>|<TD valign=top | align=right | Width=50% |>|b|</TD>|"
                  "<TD valign=top nowrap>|c|</TD>|</TR>|<TR>|</TR>|</TABLE>|"));

  t.sHTML.clear();
  t.TableBegin(qm::Variant(1), qm::Variant(2), qm::Variant(100));
  t.TableBegin();
  t.TableBegin(qm::Variant("wide"), std::nullopt, qm::Variant("5"), "id=t");
  EXPECT_EQ(t.sHTML, Lines("<TABLE  border=1 cellPadding=2 width=\"100%\" >|<TABLE  >|<TABLE  width=\"5%\" id=t>|"));

  t.sHTML.clear();
  t.StyleBegin(qm::tyHeading2);
  t.StyleBegin(qm::tyHeading2);
  t.StyleEnd();
  t.StyleBegin(qm::tyNormal);
  t.StyleEnd();
  t.Para(qm::vbRightJustify);
  t.Para(static_cast<qm::AlignmentConstants>(3));
  t.OutputLine(qm::Null);
  EXPECT_EQ(t.sHTML, Lines("<H2>|</H2>|<H2>|</H2>|<>|</>|<p align=right style='text-align:right'>|<BR>||"));
  EXPECT_EQ(ErrorOf([&] { t.Output(qm::Null); }), 94);
}

TEST(Typographer, PicturesSavingAndLeftovers) {
  Typographer t;
  EXPECT_THROW(t.ImageFile("a.gif", 0), qm::Error);  // 91 before Initialise
  t.Initialise();
  t.sHTML.clear();
  qm::test::ScratchDir dir;
  fs::create_directories(dir.Path() / "p");
  fs::create_directories(dir.Path() / "out");
  qm::test::WriteFile(dir / "p/a.gif", "A");
  t.ImageFile(dir / "p/a.gif", 0);
  t.ImageFile("c:\\p\\a.gif", 0, 10, 20);
  t.ImageFile("c:\\p\\a.gif", 2, 10);
  EXPECT_EQ(t.sHTML,
            Lines("<IMG alt=\"\" src=\"a.gif\" border=0>|<IMG alt=\"\" src=\"a.gif\" border=0 width=10 height= 20>|"
                  "<IMG alt=\"\" src=\"a.gif\" border=2>|"));
  const qm::Error e = qm::test::RaisedBy([&] { t.SaveAs(dir / "out/r.html"); });  // no such Windows pictures here
  EXPECT_EQ(e.Number(), 53);
  EXPECT_NE(e.Source().find("[Typographer]Public Sub SaveAs(\""), std::string::npos);
  EXPECT_EQ(qm::test::ReadFile(dir / "out/a.gif"), "A");  // copied before the failure

  // Creation clears the leftovers of earlier runs.
  const std::string temp = qm::TempFolder();
  const std::vector<std::string> leftovers = {"/~typo1.bmp", "/~TYPOx.BMP", "/~tmp2932.html"};
  for (const auto& name : leftovers) qm::test::WriteFile(temp + name, "x");
  qm::test::WriteFile(temp + "/keep.bmp", "x");
  Typographer fresh;
  for (const auto& name : leftovers) EXPECT_FALSE(fs::exists(temp + name)) << name;
  EXPECT_TRUE(fs::exists(temp + "/keep.bmp"));
}

TEST(Typographer, PrintOutGoesThroughThePlatformAndShowNeedsADesktop) {
  const std::string printFile = qm::TempFolder() + "/~tmp2932.html";
  {
    qm::test::DesktopInstaller desktop;
    Typographer t;
    t.Initialise("P");
    t.PrintOut();
    ASSERT_EQ(desktop->Printed.size(), 1u);
    EXPECT_EQ(desktop->Printed[0], printFile);
    EXPECT_EQ(qm::test::ReadFile(printFile), t.sHTML + "\r\n");
    EXPECT_TRUE(desktop->Messages.empty());
  }
  {
    // A failure of printing is shown, never raised.
    qm::test::DesktopInstaller desktop;
    Typographer t;
    t.Initialise("P");
    fs::create_directory(printFile);  // the print file cannot be written
    EXPECT_NO_THROW(t.PrintOut());
    fs::remove(printFile);
    ASSERT_EQ(desktop->Messages.size(), 1u);
    EXPECT_EQ(desktop->Messages[0], "Quillmark Library (PrintOut) : Permission denied: " + printFile);
    EXPECT_TRUE(desktop->Printed.empty());
  }
  Typographer headless;
  headless.Initialise("H");
  EXPECT_NO_THROW(headless.PrintOut());  // the message goes to standard error
  EXPECT_THROW(headless.Show(), qm::Error);
}

TEST(PrintSettings, RemembersWhatIsSetAndReadsByName) {
  auto s = std::make_shared<qm::PrintSettings>();
  s->SetMargins(1, 2, 3, 4);  // top, left, right, bottom
  s->SetFooter("f");
  EXPECT_TRUE(s->MarginsSet() && s->FooterSet() && !s->HeaderSet() && !s->OrientationSet());

  // Late-bound, as the preview reads it.
  qm::Variant v(std::static_pointer_cast<qm::Object>(s));
  EXPECT_EQ(qm::CDbl(qm::GetProperty(v, "topmargin")), 1);
  EXPECT_EQ(qm::CStr(qm::GetProperty(v, "Footer")), "f");
  qm::CallByName(v, "SetOrientation", {qm::Variant(qm::ORI_Landscape)});
  EXPECT_TRUE(s->OrientationSet());
  EXPECT_EQ(qm::CLng(qm::GetProperty(v, "Orientation")), qm::ORI_Landscape);
  EXPECT_EQ(ErrorOf([&] { qm::LetProperty(v, "TopMargin", qm::Variant(3.0)); }), 383);
}

}  // namespace
