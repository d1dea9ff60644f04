#include <gtest/gtest.h>

#include "quillmark/frame/ErrorNumbers.h"
#include "quillmark/frame/QMGLobal.h"
#include "quillmark/runtime/Collection.h"
#include "quillmark/runtime/Conversions.h"
#include "quillmark/runtime/DispatchTable.h"
#include "support/ErrorOf.h"

namespace {

using qm::QMGLobal;
using qm::Variant;

class FakeList : public qm::DispatchTable<FakeList> {
 public:
  std::vector<std::string> Texts;
  std::vector<std::int32_t> Data;
  static void Describe(Members& m) {
    m.Class("ListBox")
        .Method("ListCount",
                [](FakeList& l, std::vector<Variant>&) { return Variant(static_cast<std::int32_t>(l.Texts.size())); })
        .Method("List", [](FakeList& l, std::vector<Variant>& a) { return Variant(l.Texts.at(qm::CLng(a.at(0)))); })
        .Method("ItemData", [](FakeList& l, std::vector<Variant>& a) { return Variant(l.Data.at(qm::CLng(a.at(0)))); });
  }
};

TEST(QMGLobal, IncAddsWithVariantWideningIsNothingAndListSearches) {
  Variant v(std::int16_t{5});
  QMGLobal::Inc(v);
  EXPECT_EQ(v.TypeName(), "Integer");
  EXPECT_EQ(qm::CLng(v), 6);
  QMGLobal::Inc(v, Variant(2.5));
  EXPECT_EQ(qm::CDbl(v), 8.5);
  Variant s("a");
  QMGLobal::Inc(s, Variant("b"));
  EXPECT_EQ(s.String(), "ab");
  Variant big(std::int16_t{32767});
  QMGLobal::Inc(big);
  EXPECT_EQ(big.TypeName(), "Long");

  EXPECT_TRUE(qm::CBool(QMGLobal::IsNothing(nullptr)));
  auto list = std::make_shared<FakeList>();
  EXPECT_FALSE(qm::CBool(QMGLobal::IsNothing(list)));
  EXPECT_EQ(QMGLobal::FindListText(list, "x"), -1);
  list->Texts = {"a", "B", "b", "b"};
  list->Data = {10, 20, 30, 30};
  EXPECT_EQ(QMGLobal::FindListText(list, "b"), 2);
  EXPECT_EQ(QMGLobal::FindListItem(list, 30), 2);
  EXPECT_EQ(QMGLobal::FindListItem(list, 99), -1);
  // A list without the members fails with the late-binding error.
  const qm::Error e = qm::test::RaisedBy([] { QMGLobal::FindListItem(std::make_shared<qm::Collection>(), 3); });
  EXPECT_EQ(e.Number(), 438);
  EXPECT_EQ(e.Source(), "QuillmarkLibrary.QMGLobal|[QMGLobal]Public Function FindListItem(?, 3)");
}

TEST(QMGLobal, AssertRaises11000WithTheMessage) {
  EXPECT_NO_THROW(QMGLobal::Assert(true, "x"));
  for (std::string message : {"x", ""}) {
    const qm::Error e = qm::test::RaisedBy([&] { QMGLobal::Assert(false, message); });
    EXPECT_EQ(e.Number(), qm::ERR_ASSERTION);
    EXPECT_EQ(e.Description(), message);
    EXPECT_EQ(e.Source(), "QuillmarkLibrary.QMGLobal|[QMGLobal]Public Sub Assert(False, \"" + message + "\")");
  }
}

}  // namespace
