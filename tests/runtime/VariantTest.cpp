#include <gtest/gtest.h>

#include "quillmark/errors/Error.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Variant.h"
#include "support/ErrorOf.h"

namespace {

using qm::Variant;
using qm::VariantArray;

struct Widget : qm::Object {
  std::string ClassName() const override { return "Widget"; }
};

using qm::test::ErrorOf;

TEST(Variant, TypeNames) {
  EXPECT_EQ(Variant().TypeName(), "Empty");
  EXPECT_EQ(Variant(qm::Null).TypeName(), "Null");
  EXPECT_EQ(Variant("x").TypeName(), "String");
  EXPECT_EQ(Variant(true).TypeName(), "Boolean");
  EXPECT_EQ(Variant(std::uint8_t{1}).TypeName(), "Byte");
  EXPECT_EQ(Variant(std::make_shared<Widget>()).TypeName(), "Widget");
  EXPECT_EQ(Variant(qm::ObjectPtr()).TypeName(), "Nothing");
  EXPECT_EQ(Variant(VariantArray()).TypeName(), "Variant()");
  EXPECT_EQ(Variant(VariantArray({{0, 1}}, qm::vbString)).TypeName(), "String()");
  EXPECT_EQ(Variant(VariantArray()).VarType(), qm::vbArray | qm::vbVariant);
}

TEST(Variant, ArithmeticWidensLikeTheRuntimeAndComparisonsConvert) {
  EXPECT_EQ((Variant(std::int16_t{30000}) + Variant(std::int16_t{30000})).TypeName(), "Long");
  EXPECT_EQ((Variant(2147483647) + Variant(1)).TypeName(), "Double");
  EXPECT_EQ((Variant(std::uint8_t{200}) + Variant(std::uint8_t{100})).TypeName(), "Integer");
  EXPECT_EQ((Variant(1.5f) + Variant(1)).TypeName(), "Double");
  EXPECT_EQ((Variant(1.5f) + Variant(std::int16_t{1})).TypeName(), "Single");
  EXPECT_EQ((Variant(true) + Variant(true)).TypeName(), "Integer");
  EXPECT_EQ(qm::CLng(Variant(true) + Variant(true)), -2);
  EXPECT_EQ((Variant("1") + Variant(2)).TypeName(), "Double");
  EXPECT_EQ((Variant("a") + Variant()).String(), "a");
  EXPECT_EQ((Variant() + Variant()).TypeName(), "Integer");
  EXPECT_TRUE((Variant(qm::Null) + Variant(1)).IsNull());
  EXPECT_EQ((Variant(qm::Date{10}) + Variant(1)).TypeName(), "Date");
  EXPECT_EQ(qm::CDbl(Variant(7) / Variant(2)), 3.5);
  EXPECT_EQ(ErrorOf([] { (void)(Variant(1) / Variant(0)); }), 11);
  EXPECT_EQ(ErrorOf([] { (void)(Variant("a") + Variant(1)); }), 13);
  EXPECT_EQ(ErrorOf([] { (void)(Variant(std::make_shared<Widget>()) + Variant(1)); }), 13);

  EXPECT_TRUE(Variant(1) == Variant(1.0));
  EXPECT_TRUE(Variant("10") == Variant(10));
  EXPECT_FALSE(Variant("a") == Variant("A"));
  EXPECT_EQ(qm::Compare(Variant("a"), Variant("A"), true), 0);
  EXPECT_LT(qm::Compare(Variant(5), Variant("x")), 0);
  EXPECT_TRUE(Variant() == Variant(0));
  EXPECT_TRUE(Variant() == Variant(""));
  auto w = std::make_shared<Widget>();
  EXPECT_TRUE(Variant(w) == Variant(w));
  EXPECT_FALSE(Variant(w) == Variant(std::make_shared<Widget>()));
}

TEST(VariantArray, BoundsIndexingRedimAndCopies) {
  VariantArray a({{5, 7}, {-1, 0}});
  EXPECT_EQ(a.Dimensions(), 2);
  EXPECT_EQ(a.LBound(1), 5);
  EXPECT_EQ(a.UBound(2), 0);
  EXPECT_EQ(a.Size(), 6u);
  a(5, -1) = Variant("first");
  a(7, 0) = Variant("last");
  EXPECT_EQ(a.Data().front().String(), "first");
  EXPECT_EQ(a.Data().back().String(), "last");
  EXPECT_EQ(ErrorOf([&] { a(4, 0); }), 9);
  EXPECT_EQ(ErrorOf([&] { a(5); }), 9);
  EXPECT_EQ(ErrorOf([&] { (void)a.LBound(3); }), 9);
  VariantArray empty;
  EXPECT_EQ(empty.LBound(), 0);
  EXPECT_EQ(empty.UBound(), -1);

  // Redim Preserve keeps the elements; copies are values.
  VariantArray b({{1, 2}, {0, 1}});
  b(1, 0) = Variant(10);
  b(2, 1) = Variant(21);
  b.Redim({{1, 2}, {0, 3}}, true);
  EXPECT_EQ(qm::CLng(b(1, 0)), 10);
  EXPECT_EQ(qm::CLng(b(2, 1)), 21);
  EXPECT_TRUE(b(2, 3).IsEmpty());
  EXPECT_EQ(ErrorOf([&] { b.Redim({{1, 3}, {0, 3}}, true); }), 9);
  EXPECT_EQ(ErrorOf([&] { b.Redim({{0, 2000000000}, {0, 2000000000}}, false); }), 7);
  EXPECT_EQ(ErrorOf([&] { b.Redim({{3, 1}}, false); }), 9);

  Variant v(b);
  Variant copy = v;
  copy.Array()(1, 0) = Variant(99);
  EXPECT_EQ(qm::CLng(v.Array()(1, 0)), 10);
}

}  // namespace
