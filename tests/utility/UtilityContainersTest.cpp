#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "quillmark/errors/Error.h"
#include "quillmark/utility/Utility.h"
#include "quillmark/values/Conversions.h"
#include "support/ErrorOf.h"

using qm::Variant;

namespace {

std::vector<std::string> KeysOf(const qm::Dictionary& d) {
  std::vector<std::string> keys;
  for (const auto& e : d) keys.push_back(qm::CStr(e.Key));
  return keys;
}

}  // namespace

TEST(UtilityContainers, CollectionCopiesLoseTheirKeys) {
  qm::Utility u;
  qm::Collection c;
  auto object = std::make_shared<qm::Object>();
  c.Add(Variant(1), "one");
  c.Add(Variant(object), "two");
  c.Add(Variant("three"));
  auto copy = u.CopyCollection(c);
  ASSERT_EQ(copy->Count(), 3);
  EXPECT_EQ(copy->Item(1), Variant(1));
  EXPECT_EQ(copy->Item(2).ObjectRef(), object);
  EXPECT_THROW(copy->Item(Variant("one")), qm::Error);

  Variant array = u.CollectionToArray(c);
  EXPECT_EQ(std::pair(array.Array().LBound(), array.Array().UBound()), std::pair(0, 2));
  EXPECT_EQ(array.Array()(1).ObjectRef(), object);  // the same object, not a copy
  EXPECT_EQ(u.CollectionToArray(qm::Collection()).Array().UBound(), -1);

  auto back = u.ArrayToCollection(array);
  EXPECT_EQ(back->Count(), 3);
  EXPECT_EQ(back->Item(3), Variant("three"));
  Variant oneBased(qm::VariantArray::FromVector({Variant(1)}, 1));
  EXPECT_THROW(u.ArrayToCollection(oneBased), qm::Error);  // element 0 does not exist
  EXPECT_THROW(u.ArrayToCollection(Variant(5)), qm::Error);
}

TEST(UtilityContainers, DictionariesCopyConvertAndAppend) {
  qm::Utility u;
  qm::Dictionary a, b;
  a.Add(Variant("x"), Variant(1));
  a.Add(Variant("y"), Variant(2));
  b.Add(Variant("z"), Variant(3));
  EXPECT_EQ(KeysOf(*u.CopyDictionary(a)), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(KeysOf(*u.AppendDictionary(a, b)), (std::vector<std::string>{"x", "y", "z"}));
  EXPECT_EQ(u.AppendDictionary(qm::Dictionary(), qm::Dictionary())->Count(), 0);
  const qm::Error e = qm::test::RaisedBy([&] { u.AppendDictionary(a, a); });
  EXPECT_EQ(e.Number(), 457);
  EXPECT_TRUE(e.Source().ends_with("|[Utility]Public Function AppendDictionary(?, ?)")) << e.Source();
  qm::Collection c;
  c.Add(Variant("p"));
  c.Add(Variant("q"));
  auto d = u.CollectionToDictionary(c);
  EXPECT_EQ(d->Get(Variant("q")), Variant("q"));
  c.Add(Variant("p"));
  EXPECT_THROW(u.CollectionToDictionary(c), qm::Error);
}

TEST(UtilityContainers, SortDictionaryByStringAndNumericKeysAsStdSortDoes) {
  qm::Utility u;
  qm::Dictionary d;
  d.Add(Variant("b"), Variant(1));
  d.Add(Variant("a"), Variant(2));
  d.Add(Variant("c"), Variant(3));
  EXPECT_EQ(KeysOf(*u.SortDictionary(d)), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(KeysOf(d), (std::vector<std::string>{"b", "a", "c"}));  // the input keeps its order
  EXPECT_EQ(u.SortDictionary(qm::Dictionary())->Count(), 0);

  std::mt19937 random(3);
  for (int size : {2, 3, 7, 100, 2000}) {
    for (int order = 0; order < 3; ++order) {  // random, ascending, descending
      std::vector<int> keys(static_cast<std::size_t>(size));
      std::iota(keys.begin(), keys.end(), 0);
      if (order == 0) std::shuffle(keys.begin(), keys.end(), random);
      if (order == 2) std::reverse(keys.begin(), keys.end());
      qm::Dictionary d;
      for (int k : keys) d.Add(Variant(k), Variant(-k));
      const auto sorted = u.SortDictionary(d);
      int i = 0;
      for (const auto& e : *sorted) {
        ASSERT_TRUE(e.Key == Variant(i) && e.Value == Variant(-i)) << size << " " << order << " at " << i;
        ++i;
      }
      ASSERT_EQ(i, size);
    }
  }
}

TEST(UtilityContainers, RedimKeepsElementsAndReferencesAreCounted) {
  qm::Utility u;
  Variant v(qm::VariantArray::FromVector({Variant(1), Variant(2), Variant(3)}));
  u.RedimVariantArray(v, 0, 5);
  ASSERT_EQ(v.Array().UBound(), 4);
  EXPECT_EQ(v.Array()(2), Variant(3));
  EXPECT_TRUE(v.Array()(4).IsEmpty());
  u.RedimVariantArray(v, 1, 2);
  EXPECT_EQ(v.Array().LBound(), 1);
  EXPECT_EQ(v.Array()(2), Variant(2));
  u.RedimVariantArray(v, 0, 0);
  EXPECT_EQ(v.Array().UBound(), -1);

  Variant notArray(5);
  const qm::Error e = qm::test::RaisedBy([&] { u.RedimVariantArray(notArray, 0, 1); });
  EXPECT_EQ(e.Number(), 5);
  EXPECT_EQ(e.Description(), "Invalid procedure call or argument");
  EXPECT_TRUE(e.Source().ends_with("[Utility]Public Sub RedimVariantArray(?, 0, 1)")) << e.Source();
  EXPECT_THROW(u.RedimVariantArray(v, 0, -1), qm::Error);
  EXPECT_THROW(u.RedimVariantArray(v, 0, 2000000000), qm::Error);  // refused, nothing allocated
  EXPECT_THROW(u.RedimVariantArray(v, 2147483647, 2), qm::Error);

  auto object = std::make_shared<qm::Object>();
  EXPECT_EQ(u.ReferenceCount(nullptr), 0);
  EXPECT_EQ(u.ReferenceCount(object), 1);
  auto other = object;
  EXPECT_EQ(u.ReferenceCount(object), 2);
  // The static type of the pointer adds nothing.
  auto collection = std::make_shared<qm::Collection>();
  EXPECT_EQ(u.ReferenceCount(collection), 1);
  const std::shared_ptr<qm::Dispatch> asDispatch = collection;
  EXPECT_EQ(u.ReferenceCount(asDispatch), 2);
  EXPECT_EQ(u.ReferenceCount(std::shared_ptr<qm::Collection>()), 0);
}
