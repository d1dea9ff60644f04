#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Commands.h"
#include "io/System.h"
#include "quillmark/automation/XML.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "support/ErrorOf.h"
#include "support/FaultInjection.h"
#include "support/TestEnvironment.h"

namespace {

using qm::XML;
using qm::test::ReadFile;
using qm::test::WriteFile;

// True when xmllint, a checker this project did not write, accepts the file.
bool XmlLintAccepts(const std::string& path) {
  return std::system(("xmllint --noout '" + path + "' 2>/dev/null").c_str()) == 0;
}

// A wrapper over "<root>" parsed from text, the synthetic level named "Doc".
std::shared_ptr<XML> Parse(const std::string& text) {
  auto doc = std::make_shared<XML>();
  doc->LoadFromString(text, "Doc");
  return doc->GetNextTag();
}

TEST(XML, ValuesFallBackToTheDefaultChildrenCountAndIterateByTag) {
  auto root = Parse("<r><empty/><zero>0</zero><blank> </blank></r>");
  EXPECT_EQ(root->GetNextTag("empty")->Value("none"), "none");
  EXPECT_EQ(root->GetNextTag("zero")->Value("none"), "0");
  EXPECT_EQ(root->GetNextTag("blank")->Value("none"), " ");
  EXPECT_EQ(root->ChildValue("zero", "d"), "0");
  EXPECT_EQ(root->ChildValue("missing", "d"), "d");

  root = Parse("<r><item>a</item><other/><item>b</item><item>c</item></r>");
  EXPECT_TRUE(root->HasChildren());
  EXPECT_EQ(root->ChildCount(), 4);
  EXPECT_EQ(root->ChildCount("item"), 3);

  std::vector<std::int32_t> positions;
  std::string values;
  for (auto item = root->GetNextTag("item", 0); item; item = root->GetNextTag("item", item->NextPosition())) {
    positions.push_back(item->NextPosition() - 1);
    values += item->Value();
  }
  EXPECT_EQ(positions, (std::vector<std::int32_t>{0, 1, 2}));
  EXPECT_EQ(values, "abc");
  EXPECT_EQ(root->GetNextTag("item", 3), nullptr);
  EXPECT_EQ(root->GetNextTag("", 4), nullptr);
  EXPECT_EQ(root->GetNextTag("", -1), nullptr);
  EXPECT_EQ(root->GetNextTag("", 1)->Name(), "other");
  EXPECT_FALSE(root->GetNextTag("other")->HasChildren());
}

TEST(XML, LoadFileThenSaveFileWritesTheElementInUtf8) {
  qm::test::ScratchDir dir;
  WriteFile(dir / "in.xml", "<?xml version=\"1.0\"?>\n<order id=\"7\"><line>caf\xC3\xA9 &amp; tea</line></order>\n");
  XML doc;
  ASSERT_TRUE(doc.LoadFile(dir / "in.xml"));
  EXPECT_EQ(doc.Name(), "XmlRoot");
  EXPECT_EQ(doc.ChildCount(), 1);
  ASSERT_TRUE(doc.SaveFile(dir / "out.xml"));
  const std::string saved = ReadFile(dir / "out.xml");
  EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0), 0u) << saved;
  EXPECT_NE(saved.find("<order id=\"7\">"), std::string::npos);
  EXPECT_NE(saved.find("caf\xC3\xA9 &amp; tea"), std::string::npos);
  EXPECT_EQ(saved.find("XmlRoot"), std::string::npos);
  EXPECT_TRUE(XmlLintAccepts(dir / "out.xml"));

  // A second load adds a second child; saving still writes the first.
  WriteFile(dir / "second.xml", "<other/>");
  ASSERT_TRUE(doc.LoadFile(dir / "second.xml"));
  EXPECT_EQ(doc.ChildCount(), 2);
  ASSERT_TRUE(doc.SaveFile(dir / "again.xml"));
  EXPECT_EQ(ReadFile(dir / "again.xml"), saved);

  // A wrapper not named XmlRoot saves itself.
  XML built;
  built.Create("list");
  built.AddChildData("entry", "x < y");
  ASSERT_TRUE(built.SaveFile(dir / "built.xml"));
  EXPECT_TRUE(XmlLintAccepts(dir / "built.xml"));
  EXPECT_NE(ReadFile(dir / "built.xml").find("<entry>x &lt; y</entry>"), std::string::npos);
}

TEST(XML, SaveFileRefusesAnEmptyRootAndBadPaths) {
  qm::test::ScratchDir dir;
  WriteFile(dir / "empty.xml", "");
  XML doc;
  EXPECT_FALSE(doc.LoadFile(dir / "empty.xml"));
  EXPECT_EQ(doc.Name(), "");  // an empty file changes nothing

  // A bad document, or a binary file even with a document behind its signature.
  WriteFile(dir / "bad.xml", "<a><b></a>");
  EXPECT_FALSE(doc.LoadFile(dir / "bad.xml"));
  WriteFile(dir / "png.xml", std::string("\x89PNG\r\n\x1a\n<a/>", 12));
  EXPECT_FALSE(doc.LoadFile(dir / "png.xml"));
  EXPECT_EQ(doc.Name(), "XmlRoot");
  EXPECT_FALSE(doc.HasChildren());
  EXPECT_FALSE(doc.SaveFile(dir / "out.xml"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out.xml"));

  XML good;
  good.Create("a", "1");
  // The component answering that it cannot create the file does not change
  // the result (a write that fails once the file is made gives false).
  EXPECT_TRUE(good.SaveFile(dir / "no-such-folder/out.xml"));

  const qm::Error e = qm::test::RaisedBy([&] { doc.LoadFile(dir / "missing.xml"); });
  EXPECT_EQ(e.Number(), qm::ERR_FileNotFound);
  EXPECT_NE(e.Source().find("[XML]Public Function LoadFile(\""), std::string::npos) << e.Source();
}

TEST(XML, NavigationSharesTheTreeAndAddChildXMLAndCreateCopy) {
  auto root = Parse("<r><a>1</a></r>");
  auto a = root->GetNextTag("a");
  a->LetValue("2");
  a->AddAtribute("k", "v");
  EXPECT_EQ(root->ChildValue("a"), "2");
  EXPECT_EQ(root->GetNextTag("a")->GetAttribute("k"), "v");
  // Create makes the wrapper a new element of its own: the tree is untouched.
  a->Create("fresh", "v");
  EXPECT_EQ(a->Name(), "fresh");
  EXPECT_EQ(a->Value(), "v");
  EXPECT_EQ(root->GetNextTag()->Name(), "a");

  auto source = Parse("<order><line qty=\"1\">tea</line></order>");
  XML target;
  target.Create("orders");
  target.AddChildXML(*source);
  target.AddChildXML(*source);
  source->GetNextTag("line")->LetValue("coffee");
  ASSERT_EQ(target.ChildCount("order"), 2);
  auto copy = target.GetNextTag("order");
  EXPECT_EQ(copy->ChildValue("line"), "tea");
  EXPECT_EQ(copy->GetNextTag("line")->GetAttribute("qty"), "1");
  copy->GetNextTag("line")->LetValue("milk");
  EXPECT_EQ(target.GetNextTag("order", 1)->ChildValue("line"), "tea");
  EXPECT_EQ(source->ChildValue("line"), "coffee");
}

TEST(XML, LoadFromStringReplacesTheOldDocumentOrRaisesTheAssertion) {
  XML doc;
  doc.LoadFromString("<first><x/></first>", "Holder");
  auto firstChild = doc.GetNextTag()->GetNextTag("x");
  doc.LoadFromString("<second>2</second>", "Other");
  EXPECT_EQ(doc.Render(), "<Other>\n  <second>2</second>\n</Other>\n");
  // A wrapper of the removed document stays usable on its own.
  firstChild->LetValue("still here");
  EXPECT_EQ(firstChild->Value(), "still here");
  EXPECT_EQ(doc.Render().find("still here"), std::string::npos);

  // Bad text raises the assertion and keeps the document.
  doc.LoadFromString("<keep/>", "Doc");
  const std::string kept = doc.Render();
  for (const std::string& bad : std::vector<std::string>{"", "<a>", "<a></b>", "<a/><b/>", "<a>\xFF\xFE</a>",
                                                         "<a>&#1;</a>", std::string("\0\1\2\3", 4),
                                                         std::string("<\0a\0>\0&\0#\0"
                                                                     "0\0;\0<\0/\0a\0>\0",
                                                                     20)}) {
    const qm::Error e = qm::test::RaisedBy([&] { doc.LoadFromString(bad, "New"); });
    EXPECT_EQ(e.Number(), qm::ERR_ASSERTION) << bad;
    EXPECT_FALSE(e.Description().empty());
    EXPECT_NE(e.Source().find("[QMGLobal]Public Sub Assert(False, "), std::string::npos) << e.Source();
    EXPECT_NE(e.Source().find("|[XML]Public Sub LoadFromString("), std::string::npos) << e.Source();
    EXPECT_EQ(doc.Render(), kept);
  }
}

// A bad character, a character reference to a character XML does not allow,
// and a stray byte are refused at the start, in the middle and at the end of
// a text; good characters there (references, tabs, line ends, letters beyond
// ASCII) pass.
TEST(XML, RawTextChecksHoldAtEveryPlaceInALongText) {
  struct Case {
    std::string Piece;
    bool Good;
  };
  const std::vector<Case> cases = {{"&#1;", false},
                                   {"\x01", false},
                                   {"\xC3", false},
                                   {"&#65;", true},
                                   {"\t\r\n", true},
                                   {"\xC3\xA9\xE2\x82\xAC", true},
                                   {"&amp;#1;", true},
                                   // A reference to U+0000 ends the decoded value: refused, but
                                   // comments and CDATA hold the text as written.
                                   {"&#0;", false},
                                   {"&#x00000;", false},
                                   {"&#x100000000;", false},
                                   {"<b c='&#x0;'/>", false},
                                   {"<!--&#0;-->", true},
                                   {"<![CDATA[&#0;]]>", true}};
  for (const Case& c : cases) {
    for (const std::size_t at : {0, 1, 15, 16, 63, 64, 139}) {
      const std::string text = "<a>" + std::string(at, 'x') + c.Piece + std::string(80, 'y') + "</a>";
      XML doc;
      EXPECT_EQ(qm::test::ErrorOf([&] { doc.LoadFromString(text, "Doc"); }) == 0, c.Good)
          << "piece " << testing::PrintToString(c.Piece) << " after " << at << " bytes";
    }
  }
}

// A carriage return read from a reference in text is written back as one, so
// that rendering and loading again keep it (a raw one would load as a line feed).
TEST(XML, CarriageReturnsInTextSurviveRenderingAndSaving) {
  qm::test::ScratchDir dir;
  XML doc;
  doc.LoadFromString("<a b=\"1&#13;2\">x&#13;y&#xD;</a>", "Doc");
  const std::string rendered = doc.GetNextTag()->Render();
  EXPECT_EQ(rendered, "<a b=\"1&#13;2\">x&#13;y&#13;</a>\n");
  XML again;
  again.LoadFromString(rendered, "Doc");
  EXPECT_EQ(again.GetNextTag()->Render(), rendered);
  ASSERT_TRUE(doc.GetNextTag()->SaveFile(dir / "cr.xml"));
  EXPECT_NE(ReadFile(dir / "cr.xml").find("x&#13;y&#13;</a>"), std::string::npos);
  // White space written as references beside elements is layout, as when written raw.
  doc.LoadFromString("<a>&#10;<k/>&#32;&#9;<k/>\n<k/></a>", "Doc");
  EXPECT_EQ(doc.GetNextTag()->Render(), "<a>\n  <k />\n  <k />\n  <k />\n</a>\n");
}

TEST(XML, DeepDocumentsLoadCopyRenderAndSaveWithoutRecursion) {
  qm::test::ScratchDir dir;
  auto nested = [](int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) open += "<d>", close += "</d>";
    return open + "leaf" + close;
  };
  WriteFile(dir / "deep.xml", nested(100000));

  XML doc;
  ASSERT_TRUE(doc.LoadFile(dir / "deep.xml"));
  XML copy;
  copy.Create("copy");
  copy.AddChildXML(*doc.GetNextTag());
  ASSERT_TRUE(doc.SaveFile(dir / "saved.xml"));
  doc.LoadFromString("<small/>", "Doc");  // frees the deep tree
  auto node = copy.GetNextTag();
  for (int i = 1; i < 2000; ++i) node = node->GetNextTag();
  EXPECT_EQ(node->Name(), "d");

  // xmllint itself stops at 256 levels; check a shallower file with it.
  XML limited;
  limited.LoadFromString(nested(200), "Doc");
  ASSERT_TRUE(limited.SaveFile(dir / "shallow.xml"));
  EXPECT_TRUE(XmlLintAccepts(dir / "shallow.xml"));
}

// quillmark xml-check saves a document with a document type as it was
// written (it refused one, saying only that writing failed, before), and a
// save that fails says why, leaving the old file.
TEST(XML, XmlCheckSavesWhatItLoadedAndSaysWhyASaveFailed) {
  qm::test::ScratchDir dir;
  WriteFile(dir / "in.xml", "<!DOCTYPE a [<!ENTITY e \"x\">]\r><a b=\"&e;\">&#x40AC;/></a>");
  const std::vector<std::string> args = {dir / "in.xml", dir / "out.xml"};
  const auto run = [&](std::string& said) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = qm::cli::RunCommand(qm::cli::kXmlCheck, args);
    testing::internal::GetCapturedStdout();
    said = testing::internal::GetCapturedStderr();
    return status;
  };
  std::string said;
  ASSERT_EQ(run(said), 0) << said;
  const std::string saved = ReadFile(dir / "out.xml");
  EXPECT_EQ(saved,
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE a [<!ENTITY e \"x\">]\r>\n"
            "<a b=\"x\">\xE4\x82\xAC/&gt;</a>\n");
  EXPECT_TRUE(XmlLintAccepts(dir / "out.xml"));
  {
    qm::test::FailNthCall full(1, ENOSPC, qm::io::sys::Call::Write);
    EXPECT_EQ(run(said), 1);
  }
  EXPECT_NE(said.find("out.xml': No space left on device"), std::string::npos) << said;
  EXPECT_EQ(ReadFile(dir / "out.xml"), saved);
}

}  // namespace
