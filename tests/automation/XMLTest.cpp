#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdlib>
#include <fstream>
#include <tuple>

#include "Commands.h"
#include "quillmark/automation/XML.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "support/ErrorTrail.h"
#include "support/FaultInjection.h"
#include "support/TestEnvironment.h"

namespace {

using qm::XML;
using qm::XmlNode;
using namespace qm::test;

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";

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

// What SaveFile wrote, or "" when it failed.
std::string Saved(XML& xml, const std::string& path) { return xml.SaveFile(path) ? ReadFile(path) : ""; }

// The node's text after loading `text` (as bytes, or as UTF-8 text) into it,
// or why it was refused.
std::string Loaded(XmlNode& node, std::string_view text, bool bytes = false) {
  const std::span<const std::uint8_t> raw(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  return (bytes ? node.LoadXmlBytes(raw) : node.LoadXml(text)) ? node.GetXml() : "refused: " + node.LastErrorText();
}

TEST(XML, NavigationValuesCopiesCarriageReturnsAndDeepDocuments) {
  auto root = Parse("<r><empty/><zero>0</zero><blank> </blank></r>");
  std::string defaulted;  // the values, "none" for an empty element
  for (const char* tag : {"empty", "zero", "blank"}) defaulted += root->GetNextTag(tag)->Value("none");
  EXPECT_EQ(defaulted + root->ChildValue("zero", "d") + root->ChildValue("missing", "d"), "none0 0d");

  root = Parse("<r><item>a</item><other/><item>b</item><item>c</item></r>");
  std::string values;  // each value and the position after it
  for (auto item = root->GetNextTag("item", 0); item; item = root->GetNextTag("item", item->NextPosition()))
    values += item->Value() + std::to_string(item->NextPosition());
  EXPECT_EQ(std::tuple(values, root->HasChildren(), root->GetNextTag("other")->HasChildren(), root->ChildCount(),
                       root->ChildCount("item"), root->GetNextTag("", 1)->Name()),
            std::tuple("a1b2c3", true, false, 4, 3, "other"));
  EXPECT_TRUE(root->GetNextTag("", 4) == nullptr && root->GetNextTag("", -1) == nullptr);

  root = Parse("<r><a>1</a></r>");
  auto a = root->GetNextTag("a");
  a->LetValue("2");
  a->AddAtribute("k", "v");
  // Create makes the wrapper a new element of its own: the tree is untouched.
  a->Create("fresh", "v");
  EXPECT_EQ(a->Render() + root->Render(), "<fresh>v</fresh>\n<r>\n  <a k=\"v\">2</a>\n</r>\n");
  EXPECT_EQ(qm::XmlEvaluate(qm::AsXmlElement(*root->ChilkatXML()), "a/@k"), "v");  // the typed side sees it

  auto source = Parse("<order><line qty=\"1\">tea</line></order>");
  XML target;
  target.Create("orders");
  for (int copy = 0; copy < 2; ++copy) target.AddChildXML(*source);
  source->GetNextTag("line")->LetValue("coffee");
  target.GetNextTag("order")->GetNextTag("line")->LetValue("milk");
  EXPECT_EQ(source->ChildValue("line") + "|" + target.Render(),
            "coffee|<orders>\n  <order>\n    <line qty=\"1\">milk</line>\n  </order>\n  <order>\n"
            "    <line qty=\"1\">tea</line>\n  </order>\n</orders>\n");

  // A carriage return read from a reference in text is written back as one, so
  // that rendering and loading again keep it (a raw one would load as a line
  // feed). Deep documents take no recursion.
  qm::test::ScratchDir dir;
  const auto cr = Parse("<a b=\"1&#13;2\">x&#13;y&#xD;</a>");
  const std::string rendered = cr->Render();
  EXPECT_EQ(rendered, "<a b=\"1&#13;2\">x&#13;y&#13;</a>\n");
  EXPECT_EQ(Saved(*cr, dir / "cr.xml"), kDeclaration + rendered);
  EXPECT_EQ(Parse(rendered)->Render(), rendered);
  // White space written as references beside elements is layout, as when written raw.
  EXPECT_EQ(Parse("<a>&#10;<k/>&#32;&#9;<k/>\n<k/></a>")->Render(), "<a>\n  <k />\n  <k />\n  <k />\n</a>\n");

  const auto nested = [](int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) open += "<d>", close += "</d>";
    return open + "leaf" + close;
  };
  WriteFile(dir / "deep.xml", nested(100000));
  XML deep;
  ASSERT_TRUE(deep.LoadFile(dir / "deep.xml"));
  target.Create("copy");  // a new element, as above
  target.AddChildXML(*deep.GetNextTag());
  ASSERT_TRUE(deep.SaveFile(dir / "saved.xml"));
  deep.LoadFromString("<small/>", "Doc");  // frees the deep tree
  auto node = target.GetNextTag();
  for (int i = 1; i < 2000; ++i) node = node->GetNextTag();
  EXPECT_EQ(node->Name(), "d");
  // xmllint itself stops at 256 levels; check a shallower file with it.
  EXPECT_TRUE(Parse(nested(200))->SaveFile(dir / "shallow.xml") && XmlLintAccepts(dir / "shallow.xml"));
}

TEST(XML, LoadFileSaveFileAndXmlCheckWriteUtf8AndRefuseEmptyRootsAndBadFiles) {
  qm::test::ScratchDir dir;
  WriteFile(dir / "in.xml", "<?xml version=\"1.0\"?>\n<order id=\"7\"><line>caf\xC3\xA9 &amp; tea</line></order>\n");
  XML doc;
  ASSERT_TRUE(doc.LoadFile(dir / "in.xml"));
  EXPECT_EQ(doc.Name() + std::to_string(doc.ChildCount()), "XmlRoot1");
  const std::string saved = Saved(doc, dir / "out.xml");
  EXPECT_EQ(saved, kDeclaration + "<order id=\"7\">\n  <line>caf\xC3\xA9 &amp; tea</line>\n</order>\n");
  // A second load adds a second child; saving still writes the first.
  WriteFile(dir / "second.xml", "<other/>");
  ASSERT_TRUE(doc.LoadFile(dir / "second.xml"));
  EXPECT_EQ(Saved(doc, dir / "again.xml") + std::to_string(doc.ChildCount()), saved + "2");

  // A wrapper not named XmlRoot saves itself.
  doc.Create("list");  // a new element
  doc.AddChildData("entry", "x < y");
  EXPECT_EQ(Saved(doc, dir / "built.xml"), kDeclaration + "<list>\n  <entry>x &lt; y</entry>\n</list>\n");
  // The component answering that it cannot create the file does not change
  // the result (a write that fails once the file is made gives false).
  EXPECT_TRUE(doc.SaveFile(dir / "no-such-folder/out.xml"));

  WriteFile(dir / "empty.xml", "");
  WriteFile(dir / "bad.xml", "<a><b></a>");
  WriteFile(dir / "png.xml", std::string("\x89PNG\r\n\x1a\n<a/>", 12));
  XML none;
  EXPECT_TRUE(!none.LoadFile(dir / "empty.xml") && none.Name().empty());  // an empty file changes nothing
  // A bad document, or a binary file even with a document behind its signature.
  EXPECT_FALSE(none.LoadFile(dir / "bad.xml") || none.LoadFile(dir / "png.xml") || none.HasChildren() ||
               none.Name() != "XmlRoot");
  EXPECT_FALSE(none.SaveFile(dir / "none.xml") || std::filesystem::exists(dir / "none.xml"));
  EXPECT_EQ(
      qm::test::Trail([&] { none.LoadFile(dir / "missing.xml"); }),
      "53: File not found @ QuillmarkLibrary.XML|[XML]Public Function LoadFile(\"" + (dir / "missing.xml") + "\")");

  // quillmark xml-check saves a document with a document type as it was
  // written (it refused one, saying only that writing failed, before), and a
  // save that fails says why, leaving the old file.
  WriteFile(dir / "check.xml", "<!DOCTYPE a [<!ENTITY e \"x\">]\r><a b=\"&e;\">&#x40AC;/></a>");
  const std::vector<std::string> args = {dir / "check.xml", dir / "checked.xml"};
  const auto run = [&] {  // the exit status and what went to standard error
    testing::internal::CaptureStderr();
    const int status = qm::cli::RunCommand(qm::cli::kXmlCheck, args);
    return std::pair(status, testing::internal::GetCapturedStderr());
  };
  ASSERT_EQ(run(), std::pair(0, std::string()));
  const std::string checked = ReadFile(dir / "checked.xml");
  EXPECT_EQ(checked, kDeclaration + "<!DOCTYPE a [<!ENTITY e \"x\">]\r>\n<a b=\"x\">\xE4\x82\xAC/&gt;</a>\n");
  EXPECT_TRUE(XmlLintAccepts(dir / "out.xml") && XmlLintAccepts(dir / "checked.xml"));
  {
    qm::test::FailNthCall full(1, ENOSPC, qm::io::sys::Call::Write);
    EXPECT_EQ(run(), std::pair(1, "quillmark xml-check: Path/File access error: Cannot write '" + args[1] +
                                      "': No space left on device (the old file, if any, is unchanged)\n"));
  }
  EXPECT_EQ(ReadFile(dir / "checked.xml"), checked);
}

// Bad text raises the assertion and keeps the document (which texts are not
// XML: the W3C suite's cases). A bad character, a character reference to a
// character XML does not allow, and a stray byte are refused at the start,
// in the middle and at the end of a text; good characters there (references,
// tabs, line ends, letters beyond ASCII) pass.
TEST(XML, RefusalsSayWhereAndWhyKeepTheDocumentAndBytesFollowTheirDeclaration) {
  XML doc;
  doc.LoadFromString("<first><x/></first>", "Holder");
  auto firstChild = doc.GetNextTag()->GetNextTag("x");
  doc.LoadFromString("<second>2</second>", "Other");
  // A wrapper of the removed document stays usable on its own.
  firstChild->LetValue("still here");
  const std::string kept = doc.Render();
  EXPECT_EQ(firstChild->Value() + kept, "still here<Other>\n  <second>2</second>\n</Other>\n");

  for (const std::string& bad : std::vector<std::string>{
           "", "<a>", "<a/><b/>", "<a>\xFF\xFE</a>", std::string("\0\1\2\3", 4),
           std::string("<\0a\0>\0&\0#\0\060\0;\0<\0/\0a\0>\0", 20), "<!DOCTYPE doc [<!ENTITY e \"&#0;\">]><doc/>",
           "<doc>&#xD800;</doc>", "<?xml version=\"0.0\"?><a/>"}) {
    const qm::Error e = RaisedBy([&] { doc.LoadFromString(bad, "New"); });
    EXPECT_EQ(std::to_string(e.Number()) + " @ " + e.Source(),
              "11000 @ QuillmarkLibrary.QMGLobal|[QMGLobal]Public Sub Assert(False, \"" + e.Description() +
                  "\")|[XML]Public Sub LoadFromString(\"" + bad + "\", \"New\")");
    EXPECT_EQ(doc.Render(), kept);
  }

  // A reference to U+0000 ends the decoded value: refused, but comments and
  // CDATA hold the text as written.
  const std::vector<std::string> bad = {"&#1;", "\x01", "\xC3", "&#0;", "&#x00000;", "&#x100000000;", "<b c='&#x0;'/>"};
  const std::vector<std::string> good = {"&#65;",    "\t\r\n",      "\xC3\xA9\xE2\x82\xAC",
                                         "&amp;#1;", "<!--&#0;-->", "<![CDATA[&#0;]]>"};
  for (const auto& [pieces, loads] : {std::pair{&bad, false}, std::pair{&good, true}})
    for (const std::string& piece : *pieces)
      for (const std::size_t at : {0, 1, 15, 16, 63, 64, 139}) {
        const std::string text = "<a>" + std::string(at, 'x') + piece + std::string(80, 'y') + "</a>";
        EXPECT_EQ(qm::test::ErrorOf([&] { doc.LoadFromString(text, "Doc"); }) == 0, loads)
            << "piece " << testing::PrintToString(piece) << " after " << at << " bytes";
      }

  // The typed calls raise XmlParseError: where the parser stopped as numbers,
  // and for an end tag that does not match, both tags and the line of the one
  // left open; the published text stays as it was. Entity expansion is
  // bounded. Bytes follow their declaration; text is UTF-8.
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
      using Where = std::vector<std::uint64_t>;  // line, column, offset, open line, parse error
      EXPECT_EQ((Where{e.Line(), e.Column(), e.Offset(), e.OpenLine(), e.code() == qm::errc::parse_error}),
                (file ? Where{154, 3, orders.size() + 2, 20, 1} : Where{2, 10, 15, 0, 1}));
    }
  }
  // The published assertion's number and text.
  const auto refusal = [&](const std::string& text) {
    return qm::test::Described([&] { doc.LoadFromString(text, "R"); });
  };
  EXPECT_EQ(refusal(orders + "</orders>"), "11000: line 154, column 3: mismatched tag");  // the published text stays
  EXPECT_EQ(refusal("<p>a&nbsp;b</p>"), "11000: line 1, column 5: undefined entity \"nbsp\"");

  std::string laughs = "<!DOCTYPE l [<!ENTITY l0 \"lol\">";
  for (int i = 1; i <= 10; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  std::string quadratic = "<!DOCTYPE q [<!ENTITY x \"" + std::string(100000, 'x') + "\">]><q>";
  for (int i = 0; i < 20000; ++i) quadratic += "&x;";
  for (const std::string& bomb : {laughs + "]><l>&l10;</l>", quadratic + "</q>"}) {
    const std::string refused = refusal(bomb);
    EXPECT_TRUE(refused.starts_with("11000: ") && refused.find("amplification") != std::string::npos) << refused;
  }

  WriteFile(dir / "cp1252.xml", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x80 \xE9</a>");
  WriteFile(dir / "utf16be.xml", std::string("\xFE\xFF\0<\0a\0>\0\xE9\0<\0/\0a\0>", 18));
  WriteFile(dir / "nosuch.xml", "<?xml version=\"1.0\" encoding=\"x-no-such-coding\"?><a/>");
  EXPECT_EQ(qm::LoadXml(dir / "cp1252.xml").Text() + qm::LoadXml(dir / "utf16be.xml").Text(),
            "\xE2\x82\xAC \xC3\xA9\xC3\xA9");
  const std::string lacking = RaisedBy([&] { qm::LoadXml(dir / "nosuch.xml"); }).Description();
  EXPECT_NE(lacking.find("encoding \"x-no-such-coding\" is not supported"), std::string::npos) << lacking;
  EXPECT_EQ(qm::ParseXml("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xC3\xA9</a>").Text(), "\xC3\xA9");
}

// What the XML wrapper reads: every not-well-formed document refused with a
// position, entities, DTD defaults and normalisation as a conformant parser
// applies them, references it may not expand kept, comments and instructions
// kept for saving, encodings, bounded expansion, nothing fetched.

TEST(XmlReading, ExpandsInternalEntitiesKeepsOthersFetchesNothingSavesTheDocumentTypeAsWrittenAndReadsAcrossPieces) {
  qm::test::ScratchDir dir;
  const std::string dtd =
      "<!DOCTYPE firm [\n  <!ENTITY co \"ACME Ltd\">\n"
      "  <!ATTLIST firm kind CDATA \"shop\" ids NMTOKENS #IMPLIED>\n]>\n";
  WriteFile(dir / "in.xml", "<?xml version=\"1.0\"?>\n" + dtd + "<firm ids=\"  a\n  b \" note=\"x&#10;y\">" +
                                "&co; &amp; &#x263A;<!-- kept --><?app run?><unit>1</unit></firm>\n");
  XML doc;
  ASSERT_TRUE(doc.LoadFile(dir / "in.xml"));
  auto firm = doc.GetNextTag();
  // The comment and the instruction are invisible to navigation.
  EXPECT_EQ(firm->Value() + "|" + firm->GetAttribute("kind") + "|" + firm->GetAttribute("ids") + "|" +
                firm->GetAttribute("note") + "|" + std::to_string(firm->ChildCount()) + firm->GetNextTag()->Name(),
            "ACME Ltd & \xE2\x98\xBA|shop|a b|x\ny|1unit");
  EXPECT_EQ(Saved(doc, dir / "out.xml"),
            kDeclaration + dtd + "<firm ids=\"a b\" note=\"x&#10;y\" kind=\"shop\">" +
                "ACME Ltd &amp; \xE2\x98\xBA<!-- kept --><?app run?><unit>1</unit></firm>\n");
  XML again;
  ASSERT_TRUE(again.LoadFile(dir / "out.xml"));
  EXPECT_EQ(again.GetNextTag()->Render(), firm->Render());

  // The DTD and the entity exist beside the document, and are never read.
  WriteFile(dir / "x.dtd", "<!ENTITY nbsp \"READ\"><!ATTLIST p fetched CDATA \"yes\">");
  WriteFile(dir / "part.xml", "FETCHED");
  const auto doctype = [](const std::string& name) {
    return "<!DOCTYPE " + name + " SYSTEM \"x.dtd\" [<!ENTITY part SYSTEM \"part.xml\">]>\n";
  };
  WriteFile(dir / "html.xml", doctype("html") + "<html><p>a&nbsp;b&part;</p><q>c</q></html>");
  XML html;
  ASSERT_TRUE(html.LoadFile(dir / "html.xml"));
  auto p = html.GetNextTag()->GetNextTag("p");
  EXPECT_EQ(p->Value() + p->GetAttribute("fetched"), "ab");
  EXPECT_EQ(Saved(html, dir / "out.xml"),
            kDeclaration + doctype("html") + "<html>\n  <p>a&nbsp;b&part;</p>\n  <q>c</q>\n</html>\n");
  // An element saved on its own carries the declaration under its own name;
  // one without references needs none.
  EXPECT_EQ(Saved(*p, dir / "p.xml"), kDeclaration + doctype("p") + "<p>a&nbsp;b&part;</p>\n");
  EXPECT_EQ(Saved(*html.GetNextTag()->GetNextTag("q"), dir / "q.xml"), kDeclaration + "<q>c</q>\n");
  // A deep copy keeps the references too.
  doc.Create("c");
  doc.AddChildXML(*p);
  EXPECT_EQ(doc.Render(), "<c>\n  <p>a&nbsp;b&part;</p>\n</c>\n");
  // Setting the text replaces the references with it.
  p->LetValue("plain");
  EXPECT_EQ(p->Render(), "<p>plain</p>\n");

  // The document type declaration is saved as it was written (a copy rebuilt
  // from its parts put the blanks before its '>' inside the subset once), and
  // what is saved reads back as it was read: from text, and from bytes in
  // other encodings. The reader takes a document in pieces (of 64 KiB growing
  // to 1 MiB; iconv gets 64 KiB at a time): what lies across the cut between
  // two pieces reads as anywhere else (a character of a converted encoding, a
  // document type longer than a piece, layout held until its element ends).
  const auto utf16 = [](std::string_view latin1) {
    std::string bytes = "\xFF\xFE";
    for (const char c : latin1) bytes += std::string{c, '\0'};
    return bytes;
  };
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  const std::string head = "<?xml version=\"1.0\" encoding=\"EUC-JP\"?><a>";
  const std::string fill(kPiece - 1 - head.size(), 'x');
  const std::string comment = "<!--" + std::string(kPiece, '.') + "-->";
  const std::string blanks(kPiece + 10, ' ');
  // (A "\r" before its '>': the xml-check check.)
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"<?xml version=\"1.0\"?>\n<!-- <!DOCTYPE no> --><?p <!DOCTYPE no?>\n<!DOCTYPE  d SYSTEM \"x>]y\" ><d/>",
       "<!DOCTYPE  d SYSTEM \"x>]y\" >\n<d />\n", false},
      {"<!DOCTYPE d PUBLIC \"-//p\" 's' [ <!ATTLIST d k CDATA \"v\"> <!-- ] --> ]><d/>",
       "<!DOCTYPE d PUBLIC \"-//p\" 's' [ <!ATTLIST d k CDATA \"v\"> <!-- ] --> ]>\n<d k=\"v\" />\n", false},
      {utf16("<!DOCTYPE a [<!ENTITY e \"\xE9\">]><a>&e;</a>"),
       "<!DOCTYPE a [<!ENTITY e \"\xC3\xA9\">]>\n<a>\xC3\xA9</a>\n", true},
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><!DOCTYPE a [<!ENTITY e \"\xE9\">]><a>&e;</a>",
       "<!DOCTYPE a [<!ENTITY e \"\xC3\xA9\">]>\n<a>\xC3\xA9</a>\n", true},
      // EUC-JP goes through iconv; its two-byte character straddles a cut.
      {head + fill + "\xA4\xA2</a>", "<a>" + fill + "\xE3\x81\x82</a>\n", true},
      {"<!DOCTYPE a [" + comment + "<!ENTITY e \"x\">]><a>&e;</a>",
       "<!DOCTYPE a [" + comment + "<!ENTITY e \"x\">]>\n<a>x</a>\n", true},
      {"<a>" + blanks + "<b/>" + blanks + "</a>", "<a>\n  <b />\n</a>\n", true},
      {"<a>" + blanks + "<b/>" + blanks + "x</a>", "<a>" + blanks + "<b />" + blanks + "x</a>\n", true},
  };
  XmlNode node;
  for (const auto& [in, expected, bytes] : cases) {
    const std::string saved = Loaded(node, in, bytes);
    EXPECT_EQ(saved, expected);
    EXPECT_EQ(Loaded(node, saved), saved);
  }
}

TEST(XmlNode, LoadsSavesOrRefusesToSaveAndChildrenFollowChangesMovesAndRemovals) {
  XmlNode node;
  EXPECT_EQ(Loaded(node, "<a><b></a>") + node.Tag(), "refused: line 1, column 9: mismatched tag");
  EXPECT_EQ(Loaded(node, "<?xml version=\"1.0\"?><!DOCTYPE a><!-- c --><a k=\"1\">t<b/></a>"),
            "<!DOCTYPE a>\n<a k=\"1\">t<b /></a>\n");
  EXPECT_EQ(node.GetAttrValue("k") + node.Content(), "1t");
  node.SetEncoding("utf-8");
  EXPECT_EQ(node.GetXml().rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE a>\n<a", 0), 0u);

  // Loading into a node that others stand for keeps its identity.
  ASSERT_TRUE(node.GetChild(0)->LoadXml("<c><d/></c>"));
  EXPECT_EQ(node.GetChild(0)->GetXml(), "<c>\n  <d />\n</c>\n");

  // Attributes are unique and escaped.
  XmlNode n;
  n.SetTag("n");
  for (const char* value : {"1", "\"<2>\""}) n.AddAttribute("a", value);
  EXPECT_EQ(n.GetAttrValue("a") + n.GetXml(), "\"<2>\"<n a=\"&quot;&lt;2>&quot;\" />\n");

  // Saving writes the declaration, or reports the file it failed on.
  qm::test::ScratchDir dir;
  EXPECT_FALSE(n.SaveXml(dir / "missing/n.xml"));
  EXPECT_EQ(n.LastErrorText(), "Cannot open " + (dir / "missing/n.xml") + " for writing: No such file or directory");
  ASSERT_TRUE(n.SaveXml(dir / "n.xml"));
  EXPECT_EQ(ReadFile(dir / "n.xml"), "<?xml version=\"1.0\"?>\n<n a=\"&quot;&lt;2>&quot;\" />\n");

  // Indexes follow changes; a move between stores copies, then removes; a
  // node removed from its tree stays valid while held.
  XmlNode list;
  list.SetTag("r");
  for (int i = 0; i < 5; ++i) list.NewChild(i % 2 ? "odd" : "even", std::to_string(i));
  EXPECT_EQ(std::to_string(list.NumChildrenHavingTag("even")) + list.GetNthChildWithTag("even", 2)->Content(), "34");
  EXPECT_EQ(list.GetChild(-1), nullptr);
  list.NewChild("even", "5");
  EXPECT_EQ(std::to_string(list.NumChildrenHavingTag("even")) + list.GetNthChildWithTag("even", 3)->Content(), "45");
  // Moving the first child to the end shifts every index.
  ASSERT_TRUE(list.AddChildTree(*list.GetChild(0)));
  EXPECT_EQ(list.GetChild(0)->Content() + list.GetChild(5)->Content() + list.GetChildContent("odd"), "101");

  XmlNode a;
  ASSERT_TRUE(a.LoadXml("<a><b><c/></b></a>"));
  auto b = a.GetChild(0);
  auto c = b->GetChild(0);
  EXPECT_FALSE(c->AddChildTree(a) || b->AddChildTree(*b));
  XmlNode other;
  ASSERT_TRUE(other.LoadXml("<o/>"));
  ASSERT_TRUE(other.AddChildTree(*b));  // from another store: copied, then removed there
  b->SetContent("moved");               // b stands for the element in its new place
  c->SetTag("kept");                    // the old c lives on, detached
  auto fresh = other.NewNode();
  fresh->SetTag("n");
  ASSERT_TRUE(other.AddChildTree(*fresh));
  EXPECT_EQ(other.GetXml() + c->Tag() + std::to_string(a.NumChildren()),
            "<o>\n  <b><c />moved</b>\n  <n />\n</o>\nkept0");

  ASSERT_TRUE(a.LoadXml("<r><a><deep><deeper/></deep></a><b/></r>"));
  auto deeper = a.GetChild(0)->GetChild(0)->GetChild(0);
  b = a.GetChild(1);
  a.RemoveAllChildren();
  deeper->NewChild("x", "y");
  EXPECT_EQ(std::to_string(a.NumChildren()) + deeper->GetChildContent("x"), "0y");
  b.reset();
  deeper.reset();
  for (int i = 0; i < 50; ++i) ASSERT_FALSE(a.NewNode()->LoadXml("<broken>"));
  EXPECT_EQ(a.GetXml(), "<r />\n");

  // A save writes the tree as it stands and refuses, before its end, a tree
  // that would not read back: the old file stays and the reason names what.
  // The typed save raises 75 with that reason. Rendering still gives the text.
  const std::pair<std::function<void(XmlNode&)>, std::string> cases[] = {
      {[](XmlNode& n) { n.SetTag("a b"); }, "the element name \"a b\" is no XML name"},
      {[](XmlNode& n) { n.NewChild("", "x"); }, "the element name \"\" is no XML name"},
      {[](XmlNode& n) { n.AddAttribute("1x", "v"); }, "the attribute name \"1x\" is no XML name"},
      {[](XmlNode& n) { n.SetContent("bell\x07"); }, "the text of <r> holds a byte XML 1.0 does not allow (0x07 at 4)"},
      {[](XmlNode& n) { n.NewChild("c", "\xC3("); }, "the text of <c> holds a byte XML 1.0 does not allow (0xC3 at 0)"},
      {[](XmlNode& n) { n.AddAttribute("k", "\xEF\xBF\xBE"); },
       "the text of <r> holds a byte XML 1.0 does not allow (0xEF at 0)"},
      {[](XmlNode& n) { n.SetEncoding("utf 8"); }, "the encoding name \"utf 8\" cannot be declared"},
  };
  for (const auto& [make, why] : cases) {
    WriteFile(dir / "out.xml", "old");
    const auto node = std::make_shared<XmlNode>();
    node->SetTag("r");
    node->NewChild("kept", std::string(300000, 'k'));
    make(*node);
    EXPECT_FALSE(node->SaveXml(dir / "out.xml") || node->GetXml().empty());
    EXPECT_EQ(node->LastErrorText(), "Cannot write " + (dir / "out.xml") + ": " + why);
    EXPECT_EQ(ReadFile(dir / "out.xml"), "old");
    if (why.find("encoding") != std::string::npos) continue;  // the typed save declares UTF-8 itself
    EXPECT_EQ(qm::test::Explained([&] { qm::AsXmlElement(*node).Save(dir / "out.xml"); }),
              "75 io_error: Path/File access error: Cannot write '" + (dir / "out.xml") + "': " + why);
  }
  // A name of the fifth edition's characters is a name (the reader takes it
  // through its second parser, libxml2).
  n.SetTag("x\xE2\x82\x80");
  ASSERT_TRUE(n.SaveXml(dir / "out.xml")) << n.LastErrorText();
  EXPECT_EQ(Loaded(n, ReadFile(dir / "out.xml")), "<x\xE2\x82\x80 a=\"&quot;&lt;2>&quot;\" />\n");
  EXPECT_EQ(Loaded(n, "\xEF\xBB\xBF<y\xE2\x82\x80/>"), "<y\xE2\x82\x80 />\n");  // after a byte-order mark
  // That parser keeps names with colons whole, and namespace declarations
  // as attributes (it dropped the prefix of a name once).
  EXPECT_EQ(Loaded(n, "<Us\xCD\x99:k:fk xmlns:p=\"u\" a=\"1\"><p:c/></Us\xCD\x99:k:fk>"),
            "<Us\xCD\x99:k:fk xmlns:p=\"u\" a=\"1\">\n  <p:c />\n</Us\xCD\x99:k:fk>\n");
}

// Loading and saving take memory in proportion to the document: the tree
// about one and a half times the file, the reader and writer a few pieces
// (nine times the file, then twice that with a save, before). Texts set
// again and again take no more room than the texts kept, and the others stay
// as they were when the room is reclaimed.
TEST(XmlNode, LoadingAndSavingTakeMemoryInProportionToTheDocument) {
  const bool measured = !qm::test::SanitizerAllocator();  // whose allocator keeps what is freed
  const auto kilobytes = [](const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line) && !line.starts_with(field)) {}
    return line.empty() ? 0L : std::stol(line.substr(field.size()));
  };
  // How far the peak grows while `work` runs, in kB: what was freed before
  // goes back first, so that it is not reused unseen, and the peak so far is
  // forgotten.
  const auto grown = [&](const std::function<void()>& work) {
    ::malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = kilobytes("VmRSS:");
    work();
    return kilobytes("VmHWM:") - before;
  };
  qm::test::ScratchDir dir;
  if (measured) {
    std::ofstream out(dir / "orders.xml", std::ios::binary);
    out << "<?xml version=\"1.0\"?>\n<orders>\n";
    for (int i = 0; i < 120000; ++i)
      out << "  <order id=\"" << i << "\" date=\"2024-05-0" << i % 9 + 1 << "\">\n    <customer>Customer " << i % 977
          << "</customer>\n    <line sku=\"S" << i % 9973 << "\" qty=\"" << i % 7 + 1
          << "\">green tea, honey</line>\n    <total>" << i % 500 << ".50</total>\n  </order>\n";
    out << "</orders>\n";
    out.close();
    const long fileKb = static_cast<long>(std::filesystem::file_size(dir / "orders.xml") / 1024);
    const long typed = grown([&] {
      const qm::XmlElement root = qm::LoadXml(dir / "orders.xml");
      EXPECT_EQ(root.ChildCount(), 120000u);
      root.Save(dir / "saved.xml");
    });
    EXPECT_LT(typed, 2 * fileKb) << "for a file of " << fileKb << " kB";
    EXPECT_EQ(ReadFile(dir / "saved.xml"), kDeclaration + ReadFile(dir / "orders.xml").substr(22));
    // The published load moves the tree it read under its XmlRoot: no copy.
    EXPECT_LT(grown([&] { EXPECT_TRUE(qm::XML().LoadFile(dir / "orders.xml")); }), 2 * fileKb);
  }

  qm::XmlElement element("e");
  element.SetAttribute("kept", "value");
  const qm::XmlElement other = element.AddChild("other", "text kept");
  qm::XmlElement changing = element.AddChild("changing");
  const long peak = grown([&] {
    for (int i = 0; i < 200000; ++i) changing.SetText(std::string(200, static_cast<char>('a' + i % 26)));
  });
  EXPECT_TRUE(!measured || peak < 24 * 1024) << peak;
  EXPECT_EQ(changing.Text() + other.Text() + element.Attribute("kept"),
            std::string(200, 'a' + 199999 % 26) + "text keptvalue");
}

std::string Ids(const std::vector<qm::XmlElement>& elements) {
  std::string ids;
  for (const qm::XmlElement& e : elements) ids += (ids.empty() ? "" : ",") + e.Attribute("id") + e.Text();
  return ids;
}

TEST(XmlXPath, EvaluatesToStringsSelectsElementsInDocumentOrderAndRefusesBadExpressions) {
  const qm::XmlElement root = qm::ParseXml(
      "<orders xmlns:x=\"urn:x\" xmlns=\"urn:default\">"
      "<order id=\"1\" state=\"open\"><amount>120</amount><line>a</line><line>b</line></order>"
      "<order id=\"2\" state=\"closed\"><amount>80</amount><line>c</line></order>"
      "<order id=\"3\" state=\"open\"><amount>15.5</amount><!-- c --><x:tag>t</x:tag></order>"
      "</orders>");
  const qm::XmlElement second = root.Children("order")[1];
  using Case = std::pair<const char*, const char*>;  // expression, result
  const Case values[] = {{"count(order)", "3"},
                         {"order[@state='open'][2]/@id", "3"},
                         {"sum(order/amount)", "215.5"},
                         {"order[last()]/amount", "15.5"},
                         {"order[position() = 2]/line/text()", "c"},
                         {"string(order[1])", "120ab"},
                         {"order/x:tag", "t"},
                         {"order[3]/comment()", " c "},
                         {"boolean(order[@id='9'])", "false"},
                         {"order[@id='9']", ""},
                         {"0 div 0", "NaN"},
                         {"concat(name(), ':', count(*/@*))", "orders:6"}};
  for (const auto& [xpath, value] : values) EXPECT_EQ(qm::XmlEvaluate(root, xpath), value) << xpath;
  // From another element.
  EXPECT_EQ(qm::XmlEvaluate(second, "../order[1]/@id") + qm::XmlEvaluate(second, "name(/*)"), "1orders");

  const Case selections[] = {{"order[@state='open']", "1,3"},
                             {"//line", "a,b,c"},
                             {"order[2] | order[1]", "1,2"},
                             {"order/@id | order[1]", "1"},  // attributes are no elements
                             {"none", ""}};
  for (const auto& [xpath, ids] : selections) EXPECT_EQ(Ids(qm::XmlSelect(root, xpath)), ids) << xpath;
  EXPECT_EQ(Ids(qm::XmlSelect(second, "following::*[1]")), "3");

  // A bad expression is an invalid argument naming it; one giving no
  // elements says that it gives no node-set.
  const std::string nested = std::string(100000, '(') + "1" + std::string(100000, ')');
  const auto said = [&](const std::string& xpath) { return qm::test::Explained([&] { qm::XmlSelect(root, xpath); }); };
  const std::string cannot = "9999 invalid_argument: Cannot evaluate the XPath expression '";
  for (const std::string& xpath :
       std::vector<std::string>{"order[", "count(", "@@", "order[@id='1'", "$undefined", "y:order", "unknown()",
                                "document('/etc/passwd')", std::string("order\0x", 7), "", nested})
    EXPECT_TRUE(said(xpath).starts_with(cannot + xpath + "': ")) << xpath.substr(0, 20);
  EXPECT_EQ(said("count(order)"), cannot + "count(order)': it gives no node-set");

  // Selected elements are handles on the same tree, which the published
  // classes share; one removed there stays valid, detached.
  qm::XmlSelect(root, "order[2]").front().SetAttribute("state", "open");
  EXPECT_EQ(qm::XmlEvaluate(root, "count(order[@state='open'])"), "3");
  qm::AsXmlNode(root)->RemoveAllChildren();
  EXPECT_EQ(qm::XmlEvaluate(second, "count(/order/line)") + qm::XmlEvaluate(root, "count(*)"), "10");

  // Many results and a deep tree cost no recursion and no crash.
  qm::XmlElement big("big");
  qm::XmlElement deep = big;
  for (int i = 0; i < 100000; ++i) deep = deep.AddChild("n");
  EXPECT_EQ(qm::XmlSelect(big, "//n").size(), 100000u);
  EXPECT_EQ(qm::XmlEvaluate(deep, "count(ancestor::*)"), "100000");
}

}  // namespace
