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

using qm::CompareIgnoringCase;
using qm::EqualsIgnoringCase;

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
    EXPECT_THAT(qm::test::Described([&] { qm::ValidUtf8(text, qm::InvalidUtf8::Refuse); }),
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
  collection.Add(qm::Variant(1), std::string("Ärger"));
  EXPECT_EQ(qm::CLng(collection.Item(qm::Variant("ÄRGER"))), 1);
  EXPECT_TRUE(collection.ContainsKey("ärger"));
  EXPECT_THROW(collection.Add(qm::Variant(2), std::string("äRGER")), qm::Error);

  qm::Dictionary text;
  text.SetCompareMode(qm::TextCompare);
  text.Add(qm::Variant("Ελλάδα"), qm::Variant(1));
  EXPECT_TRUE(text.Exists(qm::Variant("ΕΛΛΆΔΑ")));
  EXPECT_EQ(qm::test::ErrorOf([&] { text.Add(qm::Variant("ελλάδα"), qm::Variant(2)); }), 457);

  EXPECT_EQ(qm::Compare(qm::Variant("ÉTÉ"), qm::Variant("été"), true), 0);
  EXPECT_NE(qm::Compare(qm::Variant("ÉTÉ"), qm::Variant("été")), 0);

  EXPECT_FALSE(qm::SameName("Größe", "GRÖSSE"));
  EXPECT_TRUE(qm::SameName("Größe", "GRÖßE"));
}
