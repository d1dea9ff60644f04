#include <gtest/gtest.h>

#include "quillmark/errors/Error.h"
#include "quillmark/runtime/Collection.h"
#include "quillmark/runtime/Dictionary.h"
#include "quillmark/values/Conversions.h"
#include "support/ErrorOf.h"

namespace {

using qm::Variant;

using qm::test::ErrorOf;

TEST(Collection, PositionsKeysAndErrors) {
  qm::Collection c;
  c.Add(Variant("a"), "KeyA");
  c.Add(Variant("c"));
  c.Add(Variant("b"), "keyB", Variant(2));                           // before position 2
  c.Add(Variant("d"), std::nullopt, std::nullopt, Variant("KEYA"));  // after key "KeyA"
  ASSERT_EQ(c.Count(), 4);
  std::string order;
  for (const auto& e : c) order += e.Value.String();
  EXPECT_EQ(order, "adbc");
  EXPECT_EQ(c.Item(Variant("keya")).String(), "a");
  EXPECT_EQ(c.Item(4).String(), "c");
  c.Remove(Variant(1));
  EXPECT_EQ(c.Item(Variant("keyb")).String(), "b");  // keys follow their items
  EXPECT_EQ(c.Item(1).String(), "d");
  EXPECT_EQ(ErrorOf([&] { c.Add(Variant("x"), "KEYB"); }), 457);
  EXPECT_EQ(ErrorOf([&] { c.Item(0); }), 9);
  EXPECT_EQ(ErrorOf([&] { c.Item(Variant("missing")); }), 5);
  EXPECT_FALSE(c.ContainsKey("keya"));
  EXPECT_EQ(qm::CLng(c.Get("Count")), 3);
  c.Call("Add", {Variant("e")});
  EXPECT_EQ(c.Enumerate().size(), 4u);
}

TEST(Dictionary, KeysInInsertionOrderBinaryComparisonAndCopies) {
  qm::Dictionary d;
  d.Add(Variant("b"), Variant(1));
  d.Add(Variant("a"), Variant(2));
  d.Add(Variant(3), Variant("three"));
  EXPECT_TRUE(d.Exists(Variant("a")));
  EXPECT_FALSE(d.Exists(Variant("A")));
  EXPECT_TRUE(d.Exists(Variant(3.0)));
  EXPECT_EQ(ErrorOf([&] { d.Add(Variant("a"), Variant()); }), 457);
  const auto keys = d.Keys();
  EXPECT_EQ(keys.LBound(), 0);
  EXPECT_EQ(keys.UBound(), 2);
  EXPECT_EQ(keys(0).String(), "b");
  EXPECT_EQ(qm::CLng(d.Items()(1)), 2);
  d.Remove(Variant("b"));
  EXPECT_EQ(d.Keys()(0).String(), "a");
  EXPECT_EQ(ErrorOf([&] { d.Remove(Variant("zz")); }), 32811);
  EXPECT_TRUE(d.Item(Variant("new")).IsEmpty());  // reading a missing key adds it
  EXPECT_EQ(d.Count(), 3);
  EXPECT_EQ(ErrorOf([&] { d.SetCompareMode(qm::TextCompare); }), 5);
  d.SetKey(Variant("a"), Variant("z"));
  EXPECT_EQ(d.Keys()(0).String(), "z");

  // Copies and bulk appends keep their own index.
  qm::Dictionary a;
  a.Add(Variant("x"), Variant(1));
  qm::Dictionary b(a);
  a.Remove(Variant("x"));  // the copy does not share the original's index
  EXPECT_TRUE(b.Exists(Variant("x")));
  b.Add(Variant("y"), Variant(2));
  a = b;
  EXPECT_EQ(a.Get(Variant("y")), Variant(2));
  EXPECT_THROW(a.Add(Variant("x"), Variant(3)), qm::Error);
  qm::Dictionary c;
  c.AppendUnique({Variant("p"), Variant(1)});
  c.AppendUnique({Variant("q"), Variant(2)});
  EXPECT_EQ(c.Get(Variant("q")), Variant(2));
  EXPECT_THROW(c.Add(Variant("p"), Variant(0)), qm::Error);
  c.AppendUnique({Variant("p"), Variant(9)});  // breaks the promise: reported, first one kept
  EXPECT_THROW(c.Exists(Variant("p")), qm::Error);
  EXPECT_EQ(c.Count(), 2);
  EXPECT_EQ(c.Get(Variant("p")), Variant(1));
}

}  // namespace
