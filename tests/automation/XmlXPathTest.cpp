#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quillmark/automation/XML.h"
#include "quillmark/automation/XmlNode.h"
#include "quillmark/automation/XmlQuery.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "support/ErrorOf.h"

namespace {

const char* const kOrders =
    "<orders xmlns:x=\"urn:x\" xmlns=\"urn:default\">"
    "<order id=\"1\" state=\"open\"><amount>120</amount><line>a</line><line>b</line></order>"
    "<order id=\"2\" state=\"closed\"><amount>80</amount><line>c</line></order>"
    "<order id=\"3\" state=\"open\"><amount>15.5</amount><!-- c --><x:tag>t</x:tag></order>"
    "</orders>";

std::string Ids(const std::vector<qm::XmlElement>& elements) {
  std::string ids;
  for (const qm::XmlElement& e : elements) ids += (ids.empty() ? "" : ",") + e.Attribute("id") + e.Text();
  return ids;
}

TEST(XmlXPath, EvaluatesToStringsAndSelectsElementsInDocumentOrder) {
  const qm::XmlElement root = qm::ParseXml(kOrders);
  const qm::XmlElement second = root.Children("order")[1];
  struct Case {
    const qm::XmlElement& Context;
    const char* XPath;
    const char* Value;
  };
  const std::vector<Case> values = {
      {root, "count(order)", "3"},
      {root, "order[@state='open'][2]/@id", "3"},
      {root, "order[amount > 100]/@id", "1"},
      {root, "sum(order/amount)", "215.5"},
      {root, "order[last()]/amount", "15.5"},
      {root, "order[position() = 2]/line/text()", "c"},
      {root, "string(order[1])", "120ab"},
      {root, "order/x:tag", "t"},
      {root, "order[3]/comment()", " c "},
      {root, "boolean(order[@id='9'])", "false"},
      {root, "order[@id='9']", ""},
      {root, "0 div 0", "NaN"},
      {root, "concat(name(), ':', count(*/@*))", "orders:6"},
      {second, "../order[1]/@id", "1"},
      {second, "count(preceding-sibling::order)", "1"},
      {second, "/orders/order[3]/@id", "3"},
      {second, "name(/*)", "orders"},
  };
  for (const Case& c : values) EXPECT_EQ(qm::XmlEvaluate(c.Context, c.XPath), c.Value) << c.XPath;

  const std::vector<Case> selections = {
      {root, "order[@state='open']", "1,3"},
      {root, "//line", "a,b,c"},
      {root, "order[2] | order[1]", "1,2"},
      {root, "order/@id | order[1]", "1"},  // attributes are no elements
      {root, "none", ""},
      {second, "following::*[1]", "3"},
  };
  for (const Case& c : selections) EXPECT_EQ(Ids(qm::XmlSelect(c.Context, c.XPath)), c.Value) << c.XPath;

  // Selected elements are handles on the same tree.
  qm::XmlSelect(root, "order[2]").front().SetAttribute("state", "open");
  EXPECT_EQ(qm::XmlEvaluate(root, "count(order[@state='open'])"), "3");

  // Many results and a deep tree cost no recursion and no crash.
  qm::XmlElement big("big");
  qm::XmlElement deep = big;
  for (int i = 0; i < 100000; ++i) deep = deep.AddChild("n");
  EXPECT_EQ(qm::XmlSelect(big, "//n").size(), 100000u);
  EXPECT_EQ(qm::XmlEvaluate(deep, "count(ancestor::*)"), "100000");
}

TEST(XmlXPath, ABadExpressionIsAnInvalidArgumentNamingIt) {
  const qm::XmlElement root = qm::ParseXml(kOrders);
  const std::string deep = std::string(100000, '(') + "1" + std::string(100000, ')');
  for (const std::string& xpath :
       std::vector<std::string>{"order[", "count(", "@@", "order[@id='1'", "$undefined", "y:order", "unknown()",
                                "document('/etc/passwd')", std::string("order\0x", 7), "", deep}) {
    const qm::Error e = qm::test::RaisedBy([&] { qm::XmlSelect(root, xpath); });
    EXPECT_EQ(e.Number(), qm::ERR_General) << xpath.substr(0, 20);
    EXPECT_EQ(e.code(), qm::errc::invalid_argument) << xpath.substr(0, 20);
    if (xpath.size() < 20) {
      EXPECT_NE(e.Description().find("'" + xpath + "'"), std::string::npos) << e.Description();
    }
  }
  const qm::Error number = qm::test::RaisedBy([&] { qm::XmlSelect(root, "count(order)"); });
  EXPECT_EQ(number.code(), qm::errc::invalid_argument);
  EXPECT_NE(number.Description().find("no node-set"), std::string::npos) << number.Description();
}

// The typed handles and the published classes stand for the same elements.
TEST(XmlXPath, ElementsAndPublishedNodesConvertBothWays) {
  qm::XML document;
  document.LoadFromString("<orders><order id=\"1\"/></orders>", "root");
  const qm::XmlElement orders = qm::AsXmlElement(*document.GetNextTag()->ChilkatXML());
  EXPECT_EQ(orders.Name(), "orders");
  orders.Children("order").front().SetAttribute("state", "open");
  EXPECT_NE(document.Render().find("state=\"open\""), std::string::npos);

  const qm::XmlElement order = orders.Children().front();
  const auto node = qm::AsXmlNode(order);
  node->NewChild("line", "tea");
  EXPECT_EQ(qm::XmlEvaluate(orders, "order/line"), "tea");
  // An element removed through the published side stays valid, detached.
  document.GetNextTag()->ChilkatXML()->RemoveAllChildren();
  EXPECT_EQ(orders.ChildCount(), 0u);
  EXPECT_EQ(order.ChildText("line"), "tea");
  EXPECT_EQ(qm::XmlEvaluate(order, "count(/order/line)"), "1");
}

}  // namespace
