// Dictionary and Collection reached by name, as late-bound scripts reach them,
// and the literals and carries of Format's sections.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quillmark/runtime/Collection.h"
#include "quillmark/runtime/Dictionary.h"
#include "quillmark/runtime/Format.h"
#include "quillmark/values/Conversions.h"
#include "support/ErrorOf.h"

namespace {

using qm::Variant;
using qm::test::ErrorOf;

// "Type:text", objects and Null by type name, arrays element by element.
std::string Show(const Variant& v) {
  if (!v.IsArray()) return v.IsObject() || v.IsNull() ? v.TypeName() : v.TypeName() + ":" + qm::CStr(v);
  std::string out;
  for (const auto& e : v.Array().Data()) out += Show(e) + " ";
  return out;
}

// Each row: Get, Let (the value last) or Call a member, and what it gives. Keys compare
// binary until CompareMode is set, which it can be only while empty.
TEST(Dictionary, MembersByNameWithDateObjectEmptyAndNullKeys) {
  qm::Dictionary d;
  qm::Dispatch& late = d;  // Dictionary::Get hides the member read by name
  const Variant day(qm::MakeDate(2024, 1, 7)), obj(std::make_shared<qm::Collection>());
  for (const auto& key : {Variant("a"), day, obj, Variant(), Variant(qm::Null)}) late.Call("Add", {key, key});
  std::vector<std::tuple<char, const char*, std::vector<Variant>, const char*>> rows{
      {'g', "Item", {qm::MakeDate(2024, 1, 7)}, "Date:2024-01-07"},
      {'g', "Keys", {}, "String:a Date:2024-01-07 Collection Empty: Null "},
      {'g', "Items", {}, "String:a Date:2024-01-07 Collection Empty: Null "},
      {'c', "Remove", {obj}, "Empty:"},
      {'c', "RemoveAll", {}, "Empty:"},
      {'g', "Count", {}, "Long:0"},
      {'l', "CompareMode", {1}, "Empty:"},
      {'g', "CompareMode", {}, "Long:1"},
      {'l', "item", {"K", "k"}, "Empty:"},
      {'c', "Exists", {"k"}, "Boolean:True"}};
  for (auto& [how, name, args, expected] : rows) {
    if (how == 'l') late.Let(name, args.back(), {args.begin(), args.end() - 1});
    EXPECT_EQ(Show(how == 'l' ? Variant() : how == 'g' ? late.Get(name, args) : late.Call(name, args)), expected);
  }
  EXPECT_EQ(std::tuple(d.CompareMode(), d.Enumerate()), std::tuple(qm::TextCompare, std::vector<Variant>{"K"}));
  EXPECT_EQ(std::tuple(ErrorOf([&] { late.Get("Item"); }), ErrorOf([&] { late.Let("Count", 1); }),
                       ErrorOf([&] { late.Call("Add", {"x"}); }), ErrorOf([&] { d.SetKey("zz", "y"); }),
                       ErrorOf([&] { d.Add(qm::VariantArray(), day); }), ErrorOf([&] { d.SetKey("K", "k"); })),
            std::tuple(438, 438, 438, 32811, 13, 457));
}

TEST(Collection, MembersByNameCopiesAndClear) {
  auto c = std::make_shared<qm::Collection>();
  c->Call("Add", {"a", "ka"});
  c->Call("Add", {"b", Variant(), "KA"});     // before key "ka"
  c->Call("Add", {"c", "kc", Variant(), 1});  // after position 1
  EXPECT_EQ(ErrorOf([&] { c->Call("Add", {"d", Variant(), 1, 2}); }), 5);
  EXPECT_EQ(ErrorOf([&] { c->Call("Remove", {4}); }), 9);
  c->Call("Remove", {1});  // "b", added without a key
  qm::Collection copy;
  copy = *c;
  c->Clear();
  EXPECT_EQ(std::tuple(c->Count(), Show(copy.Get("item", {"KC"})), std::as_const(copy).Item("ka").String(),
                       ErrorOf([&] { copy.Call("Remove"); })),
            std::tuple(0, "String:c", "a", 438));
}

TEST(Format, LiteralsInEverySectionKindAndRoundingCarries) {
  EXPECT_EQ(qm::Format(qm::MakeDate(2024, 1, 7, 14, 5, 9), "\"Day\" d\\! h:n:s ampm|ttttt|ddddd|dddddd"),
            "Day 7! 2:5:9 PM|14:05:09|2024-01-07|Sunday, January 7, 2024");
  EXPECT_EQ(qm::Format(Variant("abc"), "\"<\"@@@\\>"), "<abc>");
  EXPECT_EQ(qm::Format(Variant("abc"), ">\"x\""), "xABC");  // no placeholder: the text follows the literals
  EXPECT_EQ(qm::Format(Variant("ab"), "!@&&"), "ab");       // & adds no space
  EXPECT_EQ(qm::Format(Variant(qm::Null), "0;0;0;\"nil\"\\!x"), "nil!x");
  EXPECT_EQ(qm::Format(9.99, "0.0E+00"), "1.0E+01");  // rounding carries into the exponent
  EXPECT_EQ(qm::Format(0.04, "0.0"), "0.0");
}

}  // namespace
