#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quillmark/automation/XML.h"
#include "quillmark/automation/XmlNode.h"
#include "quillmark/automation/XmlQuery.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using qm::XmlNode;

TEST(XmlNode, LoadsIntoTheNodeReportsErrorsEscapesAttributesAndSaves) {
  XmlNode node;
  EXPECT_FALSE(node.LoadXml("<a><b></a>"));
  EXPECT_NE(node.LastErrorText().find("mismatch"), std::string::npos) << node.LastErrorText();
  EXPECT_EQ(node.Tag(), "");
  ASSERT_TRUE(node.LoadXml("<?xml version=\"1.0\"?><!DOCTYPE a><!-- c --><a k=\"1\">t<b/></a>"));
  EXPECT_EQ(node.GetAttrValue("k"), "1");
  EXPECT_EQ(node.Content(), "t");
  EXPECT_EQ(node.GetXml(), "<!DOCTYPE a>\n<a k=\"1\">t<b /></a>\n");
  node.SetEncoding("utf-8");
  EXPECT_EQ(node.GetXml().rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE a>\n<a", 0), 0u);

  // Loading into a node that others stand for keeps its identity.
  auto child = node.GetChild(0);
  ASSERT_TRUE(child->LoadXml("<c><d/></c>"));
  EXPECT_EQ(node.GetChild(0)->Tag(), "c");
  EXPECT_EQ(node.GetChild(0)->NumChildren(), 1);

  // Attributes are unique and escaped.
  XmlNode n;
  n.SetTag("n");
  n.AddAttribute("a", "1");
  n.AddAttribute("a", "\"<2>\"");
  EXPECT_EQ(n.GetAttrValue("a"), "\"<2>\"");
  EXPECT_EQ(n.GetXml(), "<n a=\"&quot;&lt;2>&quot;\" />\n");

  // Saving writes the declaration, or reports the file it failed on.
  qm::test::ScratchDir dir;
  EXPECT_FALSE(n.SaveXml(dir / "missing/n.xml"));
  EXPECT_NE(n.LastErrorText().find("missing/n.xml"), std::string::npos);
  ASSERT_TRUE(n.SaveXml(dir / "n.xml"));
  EXPECT_EQ(qm::test::ReadFile(dir / "n.xml"), "<?xml version=\"1.0\"?>\n<n a=\"&quot;&lt;2>&quot;\" />\n");
}

TEST(XmlNode, ChildAccessFollowsChanges) {
  XmlNode node;
  node.SetTag("r");
  for (int i = 0; i < 5; ++i) node.NewChild(i % 2 ? "odd" : "even", std::to_string(i));
  EXPECT_EQ(node.NumChildren(), 5);
  EXPECT_EQ(node.NumChildrenHavingTag("even"), 3);
  EXPECT_EQ(node.GetNthChildWithTag("even", 2)->Content(), "4");
  EXPECT_EQ(node.GetNthChildWithTag("even", 0)->Content(), "0");
  EXPECT_EQ(node.GetNthChildWithTag("even", 3), nullptr);
  EXPECT_EQ(node.GetChild(-1), nullptr);
  node.NewChild("even", "5");
  EXPECT_EQ(node.NumChildrenHavingTag("even"), 4);
  EXPECT_EQ(node.GetNthChildWithTag("even", 3)->Content(), "5");
  // Moving the first child to the end shifts every index.
  auto first = node.GetChild(0);
  ASSERT_TRUE(node.AddChildTree(*first));
  EXPECT_EQ(node.GetChild(0)->Content(), "1");
  EXPECT_EQ(node.GetChild(5)->Content(), "0");
  EXPECT_EQ(node.GetChildContent("odd"), "1");
}

TEST(XmlNode, AddChildTreeMovesAndRefusesCycles) {
  XmlNode a;
  ASSERT_TRUE(a.LoadXml("<a><b><c/></b></a>"));
  auto b = a.GetChild(0);
  auto c = b->GetChild(0);
  EXPECT_FALSE(c->AddChildTree(a));
  EXPECT_FALSE(b->AddChildTree(*b));

  XmlNode other;
  ASSERT_TRUE(other.LoadXml("<o/>"));
  ASSERT_TRUE(other.AddChildTree(*b));  // from another store: copied, then removed there
  EXPECT_EQ(a.NumChildren(), 0);
  EXPECT_EQ(other.GetChild(0)->Tag(), "b");
  b->SetContent("moved");  // b stands for the element in its new place
  EXPECT_EQ(other.GetChild(0)->Content(), "moved");
  c->SetTag("kept");  // the old c lives on, detached
  EXPECT_EQ(c->Tag(), "kept");
  EXPECT_EQ(other.GetChild(0)->GetChild(0)->Tag(), "c");

  auto fresh = other.NewNode();
  fresh->SetTag("n");
  ASSERT_TRUE(other.AddChildTree(*fresh));
  EXPECT_EQ(other.NumChildren(), 2);
}

TEST(XmlNode, RemovedNodesStayValidWhileHeld) {
  XmlNode root;
  ASSERT_TRUE(root.LoadXml("<r><a><deep><deeper/></deep></a><b/></r>"));
  auto deeper = root.GetChild(0)->GetChild(0)->GetChild(0);
  auto b = root.GetChild(1);
  root.RemoveAllChildren();
  EXPECT_EQ(root.NumChildren(), 0);
  deeper->NewChild("x", "y");
  EXPECT_EQ(deeper->GetChildContent("x"), "y");
  b.reset();
  deeper.reset();
  for (int i = 0; i < 50; ++i) ASSERT_FALSE(root.NewNode()->LoadXml("<broken>"));
  EXPECT_EQ(root.GetXml(), "<r />\n");
}

// A save writes the tree as it stands and refuses, before its end, a tree
// that would not read back: the old file stays and the reason names what.
// The typed save raises 75 with that reason. Rendering still gives the text.
TEST(XmlNode, SaveRefusesATreeThatWouldNotReadBackAndKeepsTheOldFile) {
  struct Case {
    std::function<void(XmlNode&)> Make;
    std::string Why;
  };
  const std::vector<Case> cases = {
      {[](XmlNode& n) { n.SetTag("a b"); }, "the element name \"a b\" is no XML name"},
      {[](XmlNode& n) { n.NewChild("", "x"); }, "the element name \"\" is no XML name"},
      {[](XmlNode& n) { n.AddAttribute("1x", "v"); }, "the attribute name \"1x\" is no XML name"},
      {[](XmlNode& n) { n.SetContent("bell\x07"); }, "the text of <r> holds a byte XML 1.0 does not allow (0x07 at 4)"},
      {[](XmlNode& n) { n.NewChild("c", "\xC3("); }, "the text of <c> holds a byte XML 1.0 does not allow (0xC3 at 0)"},
      {[](XmlNode& n) { n.AddAttribute("k", "\xEF\xBF\xBE"); }, "(0xEF at 0)"},
      {[](XmlNode& n) { n.SetEncoding("utf 8"); }, "the encoding name \"utf 8\" cannot be declared"},
  };
  qm::test::ScratchDir dir;
  for (const Case& c : cases) {
    qm::test::WriteFile(dir / "out.xml", "old");
    const auto node = std::make_shared<XmlNode>();
    node->SetTag("r");
    node->NewChild("kept", std::string(300000, 'k'));
    c.Make(*node);
    EXPECT_FALSE(node->SaveXml(dir / "out.xml"));
    EXPECT_NE(node->LastErrorText().find(c.Why), std::string::npos) << node->LastErrorText();
    EXPECT_EQ(qm::test::ReadFile(dir / "out.xml"), "old");
    EXPECT_FALSE(node->GetXml().empty());
    if (c.Why.find("encoding") != std::string::npos) continue;  // the typed save declares UTF-8 itself
    const qm::Error e = qm::test::RaisedBy([&] { qm::AsXmlElement(*node).Save(dir / "out.xml"); });
    EXPECT_EQ(e.Number(), qm::ERR_PathFileAccess);
    EXPECT_NE(e.Description().find(c.Why), std::string::npos) << e.Description();
  }
  // A name of the fifth edition's characters is a name (the reader takes it
  // through its second parser, libxml2).
  XmlNode fifth;
  fifth.SetTag("x\xE2\x82\x80");
  ASSERT_TRUE(fifth.SaveXml(dir / "out.xml")) << fifth.LastErrorText();
  XmlNode again;
  ASSERT_TRUE(again.LoadXml(qm::test::ReadFile(dir / "out.xml"))) << again.LastErrorText();
  EXPECT_EQ(again.Tag(), "x\xE2\x82\x80");
  ASSERT_TRUE(again.LoadXml("\xEF\xBB\xBF<y\xE2\x82\x80/>")) << again.LastErrorText();  // after a byte-order mark
  EXPECT_EQ(again.Tag(), "y\xE2\x82\x80");
  // That parser keeps names with colons whole, and namespace declarations
  // as attributes (it dropped the prefix of a name once).
  ASSERT_TRUE(again.LoadXml("<Us\xCD\x99:k:fk xmlns:p=\"u\" a=\"1\"><p:c/></Us\xCD\x99:k:fk>"));
  EXPECT_EQ(again.GetXml(), "<Us\xCD\x99:k:fk xmlns:p=\"u\" a=\"1\">\n  <p:c />\n</Us\xCD\x99:k:fk>\n");
}

// Loading and saving take memory in proportion to the document: the tree
// about one and a half times the file, the reader and writer a few pieces
// (nine times the file, then twice that with a save, before). Texts set
// again and again take no more room than the texts kept, and the others stay
// as they were when the room is reclaimed.
TEST(XmlNode, LoadingAndSavingTakeMemoryInProportionToTheDocument) {
  const bool measured = !qm::test::SanitizerAllocator();  // whose allocator keeps what is freed
  const auto kilobytes = [](const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
      if (line.starts_with(field)) return std::stol(line.substr(std::strlen(field)));
    return 0L;
  };
  // The peak so far is forgotten; the growth from here on is measured.
  const auto start = [&] {
    ::malloc_trim(0);  // what was freed before goes back, so it is not reused unseen
    std::ofstream("/proc/self/clear_refs") << "5";
    return kilobytes("VmRSS:");
  };
  qm::test::ScratchDir dir;
  if (measured) {
    {
      std::ofstream out(dir / "orders.xml", std::ios::binary);
      out << "<?xml version=\"1.0\"?>\n<orders>\n";
      for (int i = 0; i < 120000; ++i)
        out << "  <order id=\"" << i << "\" date=\"2024-05-0" << i % 9 + 1 << "\">\n    <customer>Customer " << i % 977
            << "</customer>\n    <line sku=\"S" << i % 9973 << "\" qty=\"" << i % 7 + 1
            << "\">green tea, honey</line>\n    <total>" << i % 500 << ".50</total>\n  </order>\n";
      out << "</orders>\n";
    }
    const long fileKb = static_cast<long>(std::filesystem::file_size(dir / "orders.xml") / 1024);
    const long before = start();
    {
      const qm::XmlElement root = qm::LoadXml(dir / "orders.xml");
      EXPECT_EQ(root.ChildCount(), 120000u);
      root.Save(dir / "saved.xml");
      const long grown = kilobytes("VmHWM:") - before;
      EXPECT_LT(grown, 2 * fileKb) << "grew " << grown << " kB for a file of " << fileKb << " kB";
    }
    EXPECT_EQ(qm::test::ReadFile(dir / "saved.xml"),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n" + qm::test::ReadFile(dir / "orders.xml").substr(22));
    // The published load moves the tree it read under its XmlRoot: no copy.
    const long again = start();
    qm::XML published;
    ASSERT_TRUE(published.LoadFile(dir / "orders.xml"));
    EXPECT_LT(kilobytes("VmHWM:") - again, 2 * fileKb);
  }

  const long before = start();
  qm::XmlElement element("e");
  element.SetAttribute("kept", "value");
  const qm::XmlElement other = element.AddChild("other", "text kept");
  qm::XmlElement changing = element.AddChild("changing");
  for (int i = 0; i < 200000; ++i) changing.SetText(std::string(200, static_cast<char>('a' + i % 26)));
  if (measured) {
    EXPECT_LT(kilobytes("VmHWM:") - before, 24 * 1024);
  }
  EXPECT_EQ(changing.Text(), std::string(200, 'a' + 199999 % 26));
  EXPECT_EQ(other.Text(), "text kept");
  EXPECT_EQ(element.Attribute("kept"), "value");
}

}  // namespace
