#include <gtest/gtest.h>

#include "quillmark/errors/Error.h"
#include "quillmark/runtime/Format.h"
#include "quillmark/runtime/Like.h"
#include "quillmark/values/Conversions.h"
#include "support/ErrorOf.h"

using qm::Format;
using qm::Like;
using qm::Variant;
using Texts = std::vector<std::string>;

// The value in each of the formats.
Texts Formatted(const Variant& value, std::initializer_list<const char*> formats) {
  Texts texts;
  for (const char* format : formats) texts.push_back(Format(value, format));
  return texts;
}

TEST(Format, NamedAndCustomNumberFormatsSectionsDatesTextAndBadInput) {
  EXPECT_EQ(Formatted(1234.5, {"General Number", "Currency", "0.0E+00"}), (Texts{"1234.5", "$1,234.50", "1.2E+03"}));
  EXPECT_EQ(Format(-1234.5, "Currency"), "($1,234.50)");
  EXPECT_EQ(Format(0.00012, "scientific"), "1.20E-04");
  EXPECT_EQ(Format(0, "True/False"), "False");

  EXPECT_EQ(Format(-2.5, "0"), "-3");  // half away from zero
  EXPECT_EQ(Formatted(0.5, {"#.##", "0E-0"}), (Texts{".5", "5E-1"}));
  EXPECT_EQ(Format(5, "#.##"), "5.");
  EXPECT_EQ(Format(12345678, "#,##0,"), "12,346");  // a trailing comma divides by 1000
  EXPECT_EQ(Format(123456, "00"), "123456");
  EXPECT_EQ(Format(5551234567.0, "(000) 000-0000"), "(555) 123-4567");
  EXPECT_EQ(Format(0.125, "0.0%"), "12.5%");
  EXPECT_EQ(Format(-5, "$0"), "-$5");
  EXPECT_EQ(Format(99.999, "0.00"), "100.00");
  EXPECT_EQ(Formatted(7, {"\"No. \"0", "\\#0"}), (Texts{"No. 7", "#7"}));
  EXPECT_EQ(Format(0.1, "0.00000000000000000000"), "0.10000000000000000000");

  // Sections for positive, negative, zero and Null (TypedData checks the
  // negative and Null ones).
  const char* f = "0.0;(0.0);\"zero\";\"nothing\"";
  EXPECT_EQ(Format(1.25, f), "1.3");
  EXPECT_EQ(Format(0, f), "zero");
  EXPECT_EQ(Format(-3, "0;;\"z\""), "-3");  // an empty section falls back to the first

  // Dates, with Sunday first: week 2 starts on Sunday 7 January.
  EXPECT_EQ(
      Formatted(qm::MakeDate(2024, 1, 7, 14, 5, 9), {"yyyy-mm-dd hh:nn:ss", "d/m/yy", "dddd, mmmm d, yyyy", "ddd mmm",
                                                     "w ww q y", "h:mm AM/PM", "hh:mm a/p", "Medium Date"}),
      (Texts{"2024-01-07 14:05:09", "7/1/24", "Sunday, January 7, 2024", "Sun Jan", "1 2 1 7", "2:05 PM", "02:05 p",
             "07-Jan-24"}));

  // Text placeholders; text that is no number or date stays.
  EXPECT_EQ(Formatted("abc", {"@@@@@", "!@@@@@", "&&&&&", ">", "0.00", "yyyy"}),
            (Texts{"  abc", "abc  ", "abc", "ABC", "abc", "abc"}));
  EXPECT_EQ(Format(Variant("ABC"), "<@@"), "abc");
  EXPECT_EQ(Format(Variant("5551234"), "@@@-@@@@"), "555-1234");
  EXPECT_EQ(Format(Variant("2.5"), "0.00"), "2.50");
  // General text.
  EXPECT_EQ(Format(12.5), "12.5");
  EXPECT_EQ(Format(Variant(qm::Null)), "");

  // Bad input gives errors.
  EXPECT_THROW(Format(1e308, "0%"), qm::Error);  // overflows
  EXPECT_THROW(Format(Variant(std::make_shared<qm::Object>()), "0"), qm::Error);
  EXPECT_THROW(Format(1, "0", static_cast<qm::VbDayOfWeek>(9)), qm::Error);
  // Odd formats give some text, never a failure.
  for (const char* odd : {"\"", "\\", ";;;;;;", "E+", "0E+", ".,.,", "[", "AM/P", "%%%"})
    EXPECT_NO_THROW(Format(3.5, odd));
}

TEST(Like, WildcardsDigitsListsInvalidPatternsAndTextCompareInEveryLetter) {
  EXPECT_TRUE(Like("a.txt", "?.txt"));
  EXPECT_TRUE(Like("", "*"));
  EXPECT_FALSE(Like("", "?"));
  EXPECT_TRUE(Like("file7", "file#"));
  EXPECT_FALSE(Like("fileX", "file#"));
  EXPECT_TRUE(Like("B", "[A-C]"));
  EXPECT_FALSE(Like("D", "[A-C]"));
  EXPECT_TRUE(Like("D", "[!A-C]"));
  EXPECT_TRUE(Like("x*y", "x[*]y"));  // a special character inside a list is itself
  EXPECT_FALSE(Like("abc", "a*b*d"));
  EXPECT_TRUE(Like("mississippi", "*sip*"));
  EXPECT_FALSE(Like("A", "a"));   // case-sensitive
  EXPECT_TRUE(Like("ÄÖ", "?Ö"));  // characters, not bytes

  // Long texts with many stars stay fast.
  const std::string text(20000, 'a');
  EXPECT_FALSE(Like(text, "*a*a*a*a*a*a*b"));
  EXPECT_TRUE(Like(text + "b", "*a*a*a*a*a*a*b"));

  EXPECT_EQ(qm::test::Described([] { Like("abc", "[abc"); }), "93: Invalid pattern string");
  EXPECT_THROW(Like("b", "[z-a]"), qm::Error);

  // TextCompare ignores case in every letter.
  using qm::TextCompare;
  EXPECT_TRUE(Like("CAFÉ.txt", "*é*", TextCompare));
  EXPECT_TRUE(Like("café.TXT", "CAF?.txt", TextCompare));
  EXPECT_TRUE(Like("ΣΟΦΊΑ", "σοφ*", TextCompare));
  EXPECT_FALSE(Like("CAFE.txt", "*é*", TextCompare));
  EXPECT_FALSE(Like("CAFÉ.txt", "*é*"));  // binary by default
  // A character is in a range when it or its upper-case form is.
  EXPECT_TRUE(Like("b", "[A-C]", TextCompare));
  EXPECT_TRUE(Like("B", "[a-c]", TextCompare));
  EXPECT_TRUE(Like("é", "[É]", TextCompare));
  EXPECT_FALSE(Like("é", "[!É]", TextCompare));
  // Letters whose folded form is neither themselves nor their capital.
  EXPECT_TRUE(Like("ς", "[ς]", TextCompare));
  EXPECT_TRUE(Like("ΟΔΟΣ", "*[ς]", TextCompare));
  EXPECT_TRUE(Like("ǅ", "[ǅ]", TextCompare));
  EXPECT_FALSE(Like("ς", "[!ς]", TextCompare));
  EXPECT_TRUE(Like("_", "[Z-a]", TextCompare));  // non-letters keep their place in a range
  // Bytes that are not UTF-8 match only themselves, in pattern and text alike.
  EXPECT_TRUE(Like("x\xE9.txt", "X\xE9.*", TextCompare));
  EXPECT_FALSE(Like("x\xE9.txt", "X\xC9.*", TextCompare));
  EXPECT_FALSE(Like("x\xE9.txt", "Xé.*", TextCompare));
  EXPECT_TRUE(Like("x\xE9.txt", "X?.TXT", TextCompare));  // one byte, one character
}
