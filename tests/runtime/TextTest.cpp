#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "quillmark/errors/Error.h"
#include "quillmark/runtime/Collection.h"
#include "quillmark/runtime/Dictionary.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Dispatch.h"
#include "quillmark/values/Text.h"
#include "quillmark/values/Variant.h"
#include "support/ErrorOf.h"

namespace {

using qm::CompareIgnoringCase;
using qm::EqualsIgnoringCase;
using qm::Variant;
using qm::test::ErrorOf;

TEST(TextCase, EveryLetterMapsAndBrokenUtf8KeepsItsBytes) {
  EXPECT_EQ(qm::UCase("café àçñ ÿ"), "CAFÉ ÀÇÑ Ÿ");
  EXPECT_EQ(qm::LCase("ÉTÉ ΣΟΦΊΑ Ђ"), "été σοφία ђ");
  EXPECT_EQ(qm::UCase("straße"), "STRAßE");  // one code point to one: no "SS"
  EXPECT_EQ(qm::UCase("ı"), "I");            // the mapping may change the length in bytes
  EXPECT_EQ(qm::UCase("日本 123 _-"), "日本 123 _-");

  // Bytes that are not UTF-8 stay as they are (TextUtf8 below); the valid
  // parts around them map.
  EXPECT_EQ(qm::UCase("a\xE9" + std::string("b\xC3")), "A\xE9" + std::string("B\xC3"));
  EXPECT_FALSE(EqualsIgnoringCase("\xE9", "\xC9"));  // Latin-1 é and É are different bytes
  EXPECT_TRUE(EqualsIgnoringCase("\xE9" + std::string("A"), "\xE9" + std::string("a")));
  EXPECT_FALSE(EqualsIgnoringCase("\xE9", "é"));  // the byte is no stand-in for the letter

  // Equal without regard to case: letters everywhere, and the forms that
  // only one of the two mappings joins.
  EXPECT_TRUE(EqualsIgnoringCase("CAFÉ.TXT", "café.txt"));
  EXPECT_TRUE(EqualsIgnoringCase("ΣΊΣΥΦΟΣ", "σίσυφος"));  // final sigma
  EXPECT_TRUE(EqualsIgnoringCase("ẞ", "ß"));
  EXPECT_TRUE(EqualsIgnoringCase("\u212A", "k"));  // Kelvin sign, three bytes against one
  EXPECT_FALSE(EqualsIgnoringCase("é", "e"));
  EXPECT_FALSE(EqualsIgnoringCase("ab", "abc"));
  EXPECT_EQ(qm::FoldCase("ÉCOLE"), qm::FoldCase("école"));

  EXPECT_LT(CompareIgnoringCase("apple", "BANANA"), 0);
  EXPECT_GT(CompareIgnoringCase("Zürich", "zurich"), 0);
  EXPECT_EQ(CompareIgnoringCase("ÖL", "öl"), 0);
  EXPECT_LT(CompareIgnoringCase("ab", "ABC"), 0);
}

// The decoder is strict and each policy sees each invalid run once: `question`
// is the text under Question ('?' is U+FFFD under Replace); Refuse names the
// first run's byte. LCase, through NextCodePoint, keeps every byte. The runs:
// an overlong '<'; an overlong '/' in three and four bytes, a surrogate, a value
// past U+10FFFF; bytes no UTF-8 has, and cut sequences, inside and at the end.
TEST(TextUtf8, InvalidRunsUnderEachPolicy) {
  const std::tuple<std::string_view, std::string_view, const char*> rows[] = {
      {"a\xC0\xBC.", "a??.", "5: Invalid procedure call or argument: the text is not valid UTF-8 at byte 1"},
      {"\xE0\x80\xAF\xF0\x80\x80\xAF\xED\xA0\x80\xF4\x90\x80\x80", "??????????????", "byte 0"},
      {"x\xF5\x80\xFFx\xE2\x82x\xF0\x9F\x98", "x???x?x?", "byte 1"},
      {"\xF4\x8F\xBF\xBF\xEF\xBF\xBD\xC3\xA9", "\xF4\x8F\xBF\xBF\xEF\xBF\xBD\xC3\xA9", "0: no error"},
  };
  for (const auto& [text, question, refused] : rows) {
    EXPECT_EQ(qm::ValidUtf8(text, qm::InvalidUtf8::Question), question);
    EXPECT_EQ(qm::ValidUtf8(text, qm::InvalidUtf8::Replace), qm::ReplaceAll(std::string(question), "?", "\uFFFD"));
    EXPECT_THAT(qm::test::Described([text = text] { qm::ValidUtf8(text, qm::InvalidUtf8::Refuse); }),
                testing::HasSubstr(refused));
    EXPECT_EQ(qm::LCase(text), text);
  }
  // The character helpers count as NextCodePoint reads; Latin-1 gets no overlong '<'.
  const std::string s = "h\xC3\xA9llo \xE2\x82\xAC\xC0\xBC";  // "héllo €" and an overlong '<'
  EXPECT_EQ(qm::CharLength(s), 9u);
  EXPECT_EQ(qm::CharLeft(s, 2), "h\xC3\xA9");
  EXPECT_EQ(qm::CharMid(s, 7, 2), "\xE2\x82\xAC\xC0");
  EXPECT_EQ(qm::ToLatin1(s), "h\xE9llo ???");
}

TEST(TextCase, KeysNamesAndTextComparisonIgnoreCaseInEveryLetter) {
  qm::Collection collection;
  collection.Add(Variant(1), std::string("Ärger"));
  EXPECT_EQ(qm::CLng(collection.Item(Variant("ÄRGER"))), 1);
  EXPECT_TRUE(collection.ContainsKey("ärger"));
  EXPECT_THROW(collection.Add(Variant(2), std::string("äRGER")), qm::Error);

  qm::Dictionary text;
  text.SetCompareMode(qm::TextCompare);
  text.Add(Variant("Ελλάδα"), Variant(1));
  EXPECT_TRUE(text.Exists(Variant("ΕΛΛΆΔΑ")));
  EXPECT_EQ(ErrorOf([&] { text.Add(Variant("ελλάδα"), Variant(2)); }), 457);

  EXPECT_EQ(qm::Compare(Variant("ÉTÉ"), Variant("été"), true), 0);
  EXPECT_NE(qm::Compare(Variant("ÉTÉ"), Variant("été")), 0);

  EXPECT_FALSE(qm::SameName("Größe", "GRÖSSE"));
  EXPECT_TRUE(qm::SameName("Größe", "GRÖßE"));
}

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
