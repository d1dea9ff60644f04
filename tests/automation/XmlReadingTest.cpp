// What the XML wrapper reads: every not-well-formed document refused with a
// position, entities, DTD defaults and normalisation as a conformant parser
// applies them, references it may not expand kept, comments and instructions
// kept for saving, encodings, bounded expansion, nothing fetched.

#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "quillmark/automation/XML.h"
#include "quillmark/automation/XmlNode.h"
#include "quillmark/automation/XmlQuery.h"
#include "quillmark/frame/Error.h"
#include "quillmark/frame/ErrorNumbers.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using qm::XML;
using qm::test::ReadFile;
using qm::test::WriteFile;

// The assertion message of LoadFromString, or "" when the text loads.
std::string Refusal(const std::string& text) {
  XML doc;
  const qm::Error e = qm::test::RaisedBy([&] { doc.LoadFromString(text, "R"); });
  EXPECT_TRUE(e.Number() == 0 || e.Number() == qm::ERR_ASSERTION) << e.Number();
  return e.Number() == 0 ? "" : e.Description();
}

TEST(XmlReading, RefusesWhatIsNotXmlWithLineColumnAndReason) {
  EXPECT_EQ(Refusal("<p>a&nbsp;b</p>"), "line 1, column 5: undefined entity \"nbsp\"");
  EXPECT_EQ(Refusal("<doc>\n<a x='1' x='2'/></doc>"), "line 2, column 10: duplicate attribute");
  for (const char* bad :
       {"<doc>A & B</doc>", "<doc a=\"<foo>\"/>", "<doc><!-- a -- b --></doc>", "<doc>]]></doc>",
        "<!DOCTYPE doc [<!ELEMENT doc (#PCDATA>]><doc/>", "<!DOCTYPE doc [<!ENTITY e \"&#0;\">]><doc/>",
        "<doc>&#xD800;</doc>", "<a/><b/>", "<a/>text", "<a>\x01</a>", "<a>\xC3</a>", "", "<?xml version=\"0.0\"?><a/>"})
    EXPECT_NE(Refusal(bad), "") << bad;
  // A refused document leaves the wrapper as it was.
  XML doc;
  doc.LoadFromString("<kept/>", "R");
  EXPECT_THROW(doc.LoadFromString("<a>", "S"), qm::Error);
  EXPECT_EQ(doc.Name(), "R");
  EXPECT_EQ(doc.GetNextTag()->Name(), "kept");
}

TEST(XmlReading, ExpandsInternalEntitiesAppliesDefaultsAndSavesWhatWasRead) {
  qm::test::ScratchDir dir;
  WriteFile(
      dir / "in.xml",
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE firm [\n"
      "  <!ENTITY co \"ACME Ltd\">\n"
      "  <!ATTLIST firm kind CDATA \"shop\" ids NMTOKENS #IMPLIED>\n"
      "]>\n"
      "<firm ids=\"  a\n  b \" note=\"x&#10;y\">&co; &amp; &#x263A;<!-- kept --><?app run?><unit>1</unit></firm>\n");
  XML doc;
  ASSERT_TRUE(doc.LoadFile(dir / "in.xml"));
  auto firm = doc.GetNextTag();
  EXPECT_EQ(firm->Value(), "ACME Ltd & \xE2\x98\xBA");
  EXPECT_EQ(firm->GetAttribute("kind"), "shop");
  EXPECT_EQ(firm->GetAttribute("ids"), "a b");
  EXPECT_EQ(firm->GetAttribute("note"), "x\ny");
  // The comment and the instruction are invisible to navigation.
  EXPECT_EQ(firm->ChildCount(), 1);
  EXPECT_EQ(firm->GetNextTag()->Name(), "unit");
  EXPECT_EQ(firm->GetNextTag("", 1), nullptr);

  ASSERT_TRUE(doc.SaveFile(dir / "out.xml"));
  const std::string saved = ReadFile(dir / "out.xml");
  EXPECT_NE(saved.find("ACME Ltd &amp; \xE2\x98\xBA<!-- kept --><?app run?><unit>1</unit>"), std::string::npos)
      << saved;
  EXPECT_NE(saved.find("note=\"x&#10;y\""), std::string::npos) << saved;
  EXPECT_EQ(saved.find("&amp;co;"), std::string::npos);
  XML again;
  ASSERT_TRUE(again.LoadFile(dir / "out.xml"));
  EXPECT_EQ(again.GetNextTag()->Render(), firm->Render());
  EXPECT_EQ(again.GetNextTag()->GetAttribute("note"), "x\ny");
}

TEST(XmlReading, KeepsReferencesToEntitiesItMayNotReadAndFetchesNothing) {
  qm::test::ScratchDir dir;
  // The DTD and the entity exist beside the document, and are never read.
  WriteFile(dir / "x.dtd", "<!ENTITY nbsp \"READ\"><!ATTLIST p fetched CDATA \"yes\">");
  WriteFile(dir / "part.xml", "FETCHED");
  WriteFile(dir / "in.xml",
            "<!DOCTYPE html SYSTEM \"x.dtd\" [<!ENTITY part SYSTEM \"part.xml\">]>\n"
            "<html><p>a&nbsp;b&part;</p><q>c</q></html>");
  XML doc;
  ASSERT_TRUE(doc.LoadFile(dir / "in.xml"));
  auto p = doc.GetNextTag()->GetNextTag("p");
  EXPECT_EQ(p->Value(), "ab");
  EXPECT_EQ(p->GetAttribute("fetched"), "");
  ASSERT_TRUE(doc.SaveFile(dir / "out.xml"));
  const std::string saved = ReadFile(dir / "out.xml");
  EXPECT_NE(saved.find("<!DOCTYPE html SYSTEM \"x.dtd\" [<!ENTITY part SYSTEM \"part.xml\">]>\n<html>"),
            std::string::npos)
      << saved;
  EXPECT_NE(saved.find("<p>a&nbsp;b&part;</p>"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("READ"), std::string::npos);
  EXPECT_EQ(saved.find("FETCHED"), std::string::npos);

  // An element saved on its own carries the declaration under its own name;
  // one without references needs none.
  ASSERT_TRUE(p->SaveFile(dir / "p.xml"));
  EXPECT_NE(ReadFile(dir / "p.xml").find("<!DOCTYPE p SYSTEM \"x.dtd\""), std::string::npos);
  ASSERT_TRUE(doc.GetNextTag()->GetNextTag("q")->SaveFile(dir / "q.xml"));
  EXPECT_EQ(ReadFile(dir / "q.xml"), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<q>c</q>\n");
  // A deep copy keeps the references too.
  XML copy;
  copy.Create("c");
  copy.AddChildXML(*p);
  EXPECT_NE(copy.Render().find("a&nbsp;b&part;"), std::string::npos);

  // Setting the text replaces the references with it.
  p->LetValue("plain");
  EXPECT_EQ(p->Render(), "<p>plain</p>\n");
}

TEST(XmlReading, EntityExpansionIsBounded) {
  std::string laughs = "<!DOCTYPE l [<!ENTITY l0 \"lol\">";
  for (int i = 1; i <= 10; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  laughs += "]><l>&l10;</l>";
  EXPECT_NE(Refusal(laughs).find("amplification"), std::string::npos) << Refusal(laughs);

  const std::string big(100000, 'x');
  std::string quadratic = "<!DOCTYPE q [<!ENTITY x \"" + big + "\">]><q>";
  for (int i = 0; i < 20000; ++i) quadratic += "&x;";
  quadratic += "</q>";
  EXPECT_NE(Refusal(quadratic).find("amplification"), std::string::npos);
}

TEST(XmlReading, BytesFollowTheirDeclarationTextIsUtf8) {
  qm::test::ScratchDir dir;
  WriteFile(dir / "cp1252.xml", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x80 \xE9</a>");
  WriteFile(dir / "utf16be.xml", std::string("\xFE\xFF\0<\0a\0>\0\xE9\0<\0/\0a\0>", 18));
  WriteFile(dir / "nosuch.xml", "<?xml version=\"1.0\" encoding=\"x-no-such-coding\"?><a/>");
  EXPECT_EQ(qm::LoadXml(dir / "cp1252.xml").Text(), "\xE2\x82\xAC \xC3\xA9");
  EXPECT_EQ(qm::LoadXml(dir / "utf16be.xml").Text(), "\xC3\xA9");
  const std::string lacking = qm::test::RaisedBy([&] { qm::LoadXml(dir / "nosuch.xml"); }).Description();
  EXPECT_NE(lacking.find("encoding \"x-no-such-coding\" is not supported"), std::string::npos) << lacking;
  // Text is UTF-8 whatever it declares.
  EXPECT_EQ(qm::ParseXml("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xC3\xA9</a>").Text(), "\xC3\xA9");
}

// The typed calls raise XmlParseError: where the parser stopped as numbers,
// and for an end tag that does not match, both tags and the line of the one
// left open; the published text stays as it was.
TEST(XmlReading, TypedParseErrorsSayWhereAndWhichTags) {
  qm::test::ScratchDir dir;
  std::string orders = "<orders>\n";
  for (int line = 2; line < 154; ++line) orders += line == 20 ? "<line>\n" : "<order/>\n";  // line 20 stays open
  WriteFile(dir / "orders.xml", orders + "</orders>\n");
  for (const bool file : {true, false}) {
    try {
      file ? qm::LoadXml(dir / "orders.xml") : qm::ParseXml("<doc>\n<a x='1' x='2'/></doc>");
      ADD_FAILURE();
    } catch (const qm::XmlParseError& e) {
      EXPECT_EQ(e.Description(), file ? "'" + (dir / "orders.xml") +
                                            "' is not well-formed XML: line 154, column 3: mismatched tag: <line> "
                                            "opened at line 20 is closed by </orders>"
                                      : "line 2, column 10: duplicate attribute");
      EXPECT_EQ(e.code(), qm::errc::parse_error);
      const std::vector<std::uint64_t> where = {e.Line(), e.Column(), e.Offset(), e.OpenLine()};
      const std::vector<std::uint64_t> expected =
          file ? std::vector<std::uint64_t>{154, 3, orders.size() + 2, 20} : std::vector<std::uint64_t>{2, 10, 15, 0};
      EXPECT_EQ(where, expected);
    }
  }
  EXPECT_EQ(Refusal(orders + "</orders>"), "line 154, column 3: mismatched tag");  // the published text stays
}

// The document type declaration is saved as it was written (a copy rebuilt
// from its parts put the blanks before its '>' inside the subset once), and
// what is saved reads back as it was read: from text, and from bytes in
// other encodings.
TEST(XmlReading, TheDocumentTypeIsSavedAsWritten) {
  struct Case {
    std::string In;
    std::string Saved;
    bool Bytes = false;
  };
  const auto utf16 = [](std::string_view latin1) {
    std::string bytes = "\xFF\xFE";
    for (const char c : latin1) bytes += std::string{c, '\0'};
    return bytes;
  };
  const std::vector<Case> cases = {
      {"<!DOCTYPE a [<!ENTITY e \"x\">]\r><a b=\"&e;\">&#x40AC;/></a>",
       "<!DOCTYPE a [<!ENTITY e \"x\">]\r>\n<a b=\"x\">\xE4\x82\xAC/&gt;</a>\n"},
      {"<?xml version=\"1.0\"?>\n<!-- <!DOCTYPE no> --><?p <!DOCTYPE no?>\n<!DOCTYPE  d SYSTEM \"x>]y\" ><d/>",
       "<!DOCTYPE  d SYSTEM \"x>]y\" >\n<d />\n"},
      {"<!DOCTYPE d PUBLIC \"-//p\" 's' [ <!ATTLIST d k CDATA \"v\"> <!-- ] --> ]><d/>",
       "<!DOCTYPE d PUBLIC \"-//p\" 's' [ <!ATTLIST d k CDATA \"v\"> <!-- ] --> ]>\n<d k=\"v\" />\n"},
      {utf16("<!DOCTYPE a [<!ENTITY e \"\xE9\">]><a>&e;</a>"),
       "<!DOCTYPE a [<!ENTITY e \"\xC3\xA9\">]>\n<a>\xC3\xA9</a>\n", true},
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><!DOCTYPE a [<!ENTITY e \"\xE9\">]><a>&e;</a>",
       "<!DOCTYPE a [<!ENTITY e \"\xC3\xA9\">]>\n<a>\xC3\xA9</a>\n", true},
  };
  for (const Case& c : cases) {
    qm::XmlNode node;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.In.data());
    ASSERT_TRUE(c.Bytes ? node.LoadXmlBytes(std::span(bytes, c.In.size())) : node.LoadXml(c.In))
        << node.LastErrorText();
    const std::string saved = node.GetXml();
    EXPECT_EQ(saved, c.Saved);
    qm::XmlNode again;
    ASSERT_TRUE(again.LoadXml(saved)) << again.LastErrorText() << "\n" << saved;
    EXPECT_EQ(again.GetXml(), saved);
  }
}

// The reader takes a document in pieces (of 64 KiB growing to 1 MiB; iconv
// gets 64 KiB at a time): what lies across the cut between two pieces reads
// as anywhere else (a character of a converted encoding, a document type
// longer than a piece, layout held until its element ends).
TEST(XmlReading, WhatLiesAcrossTwoPiecesReadsAsAnywhereElse) {
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  const auto load = [](const std::string& bytes) {
    auto node = std::make_shared<qm::XmlNode>();
    EXPECT_TRUE(node->LoadXmlBytes(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())))
        << node->LastErrorText();
    return node;
  };
  // EUC-JP goes through iconv; its two-byte character straddles a cut.
  const std::string head = "<?xml version=\"1.0\" encoding=\"EUC-JP\"?><a>";
  const std::string fill(kPiece - 1 - head.size(), 'x');
  EXPECT_EQ(load(head + fill + "\xA4\xA2</a>")->Content(), fill + "\xE3\x81\x82");

  const std::string comment = "<!--" + std::string(kPiece, '.') + "-->";
  const auto typed = load("<!DOCTYPE a [" + comment + "<!ENTITY e \"x\">]><a>&e;</a>");
  EXPECT_EQ(typed->GetXml(), "<!DOCTYPE a [" + comment + "<!ENTITY e \"x\">]>\n<a>x</a>\n");

  const std::string blanks(kPiece + 10, ' ');
  EXPECT_EQ(load("<a>" + blanks + "<b/>" + blanks + "</a>")->GetXml(), "<a>\n  <b />\n</a>\n");
  EXPECT_EQ(load("<a>" + blanks + "<b/>" + blanks + "x</a>")->GetXml(), "<a>" + blanks + "<b />" + blanks + "x</a>\n");
}

}  // namespace
