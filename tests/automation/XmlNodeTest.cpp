#include <gtest/gtest.h>

#include "quillmark/automation/XmlNode.h"
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

}  // namespace
