#include <gtest/gtest.h>

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
  // Rounding half away from zero, also into the exponent, a trailing comma
  // dividing by 1000; sections for positive, negative, zero and Null (TypedData
  // checks the negative and Null ones), an empty one falling back to the first,
  // one without placeholders giving its literals; text placeholders (& adds no
  // space), text that is no number or date staying, and general text.
  const char* sections = "0.0;(0.0);\"zero\";\"nothing\"";
  const Variant null(qm::Null);
  const std::tuple<Variant, const char*, const char*> cases[] = {
      {null, "", ""},        {0, sections, "zero"},        {0, "True/False", "False"},
      {-2.5, "0", "-3"},     {"ABC", "<@@", "abc"},        {99.999, "0.00", "100.00"},
      {5, "#.##", "5."},     {-3, "0;;\"z\"", "-3"},       {12345678, "#,##0,", "12,346"},
      {-5, "$0", "-$5"},     {1.25, sections, "1.3"},      {0.00012, "scientific", "1.20E-04"},
      {7, "\\#0", "#7"},     {"2.5", "0.00", "2.50"},      {"5551234", "@@@-@@@@", "555-1234"},
      {12.5, "", "12.5"},    {123456, "00", "123456"},     {-1234.5, "Currency", "($1,234.50)"},
      {0.5, "#.##", ".5"},   {0.125, "0.0%", "12.5%"},     {5551234567.0, "(000) 000-0000", "(555) 123-4567"},
      {0.5, "0E-0", "5E-1"}, {7, "\"No. \"0", "No. 7"},    {0.1, "0.00000000000000000000", "0.10000000000000000000"},
      {"ab", "!@&&", "ab"},  {9.99, "0.0E+00", "1.0E+01"}, {null, "0;0;0;\"nil\"\\!x", "nil!x"},
      {0.04, "0.0", "0.0"}};
  for (const auto& [value, format, expected] : cases) EXPECT_EQ(Format(value, format), expected) << format;

  // Dates, with Sunday first: week 2 starts on Sunday 7 January.
  EXPECT_EQ(Formatted(qm::MakeDate(2024, 1, 7, 14, 5, 9),
                      {"yyyy-mm-dd hh:nn:ss", "d/m/yy", "dddd, mmmm d, yyyy", "ddd mmm", "w ww q y", "h:mm AM/PM",
                       "hh:mm a/p", "Medium Date", "\"Day\" d\\! h:n:s ampm|ttttt|ddddd|dddddd"}),
            (Texts{"2024-01-07 14:05:09", "7/1/24", "Sunday, January 7, 2024", "Sun Jan", "1 2 1 7", "2:05 PM",
                   "02:05 p", "07-Jan-24", "Day 7! 2:5:9 PM|14:05:09|2024-01-07|Sunday, January 7, 2024"}));
  EXPECT_EQ(Formatted("abc", {"@@@@@", "!@@@@@", "&&&&&", ">", "0.00", "yyyy", "\"<\"@@@\\>", ">\"x\""}),
            (Texts{"  abc", "abc  ", "abc", "ABC", "abc", "abc", "<abc>", "xABC"}));

  // Bad input gives errors: an overflow, an object, a day of the week that is none.
  EXPECT_EQ((Texts{qm::test::Described([] { Format(1e308, "0%"); }),
                   qm::test::Described([] { Format(Variant(std::make_shared<qm::Object>()), "0"); }),
                   qm::test::Described([] { Format(1, "0", static_cast<qm::VbDayOfWeek>(9)); })}),
            (Texts{"6: Overflow", "13: Type mismatch", "5: Invalid procedure call or argument"}));
  // Odd formats give some text, never a failure.
  for (const char* odd : {"\"", "\\", ";;;;;;", "E+", "0E+", ".,.,", "[", "AM/P", "%%%"})
    EXPECT_NO_THROW(Format(3.5, odd));
}

// A text, a pattern and whether the text matches it.
using LikeCase = std::tuple<std::string, const char*, bool>;

TEST(Like, WildcardsDigitsListsInvalidPatternsAndTextCompareInEveryLetter) {
  // Wildcards, digits and lists (a special character inside one is itself),
  // case-sensitive, by characters rather than bytes, and fast on long texts
  // with many stars.
  const std::string as(20000, 'a');
  const LikeCase binary[] = {
      {"", "*", true},    {"B", "[A-C]", true},   {"abc", "a*b*d", false},   {"CAFÉ.txt", "*é*", false},
      {"", "?", false},   {"D", "[A-C]", false},  {"a.txt", "?.txt", true},  {as, "*a*a*a*a*a*a*b", false},
      {"A", "a", false},  {"D", "[!A-C]", true},  {"file7", "file#", true},  {"mississippi", "*sip*", true},
      {"ÄÖ", "?Ö", true}, {"x*y", "x[*]y", true}, {"fileX", "file#", false}, {as + "b", "*a*a*a*a*a*a*b", true}};
  for (const auto& [text, pattern, matches] : binary)
    EXPECT_EQ(Like(text, pattern), matches) << text.substr(0, 20) << " Like " << pattern;
  // TextCompare ignores case in every letter, also in ranges (a character is
  // in one when it or its upper-case form is) and for letters whose folded
  // form is neither themselves nor their capital; non-letters keep their place
  // in a range. Bytes that are not UTF-8 are one character each and match only
  // themselves, in pattern and text alike.
  const LikeCase folded[] = {
      {"é", "[É]", true},   {"é", "[!É]", false},   {"ΣΟΦΊΑ", "σοφ*", true},      {"x\xE9.txt", "X?.TXT", true},
      {"ς", "[ς]", true},   {"ς", "[!ς]", false},   {"CAFÉ.txt", "*é*", true},    {"café.TXT", "CAF?.txt", true},
      {"ǅ", "[ǅ]", true},   {"_", "[Z-a]", true},   {"CAFE.txt", "*é*", false},   {"x\xE9.txt", "X\xE9.*", true},
      {"b", "[A-C]", true}, {"ΟΔΟΣ", "*[ς]", true}, {"x\xE9.txt", "Xé.*", false}, {"x\xE9.txt", "X\xC9.*", false},
      {"B", "[a-c]", true}};
  for (const auto& [text, pattern, matches] : folded)
    EXPECT_EQ(Like(text, pattern, qm::TextCompare), matches) << text << " Like " << pattern;

  // An unclosed list and a range running backwards.
  for (const char* bad : {"[abc", "[z-a]"})
    EXPECT_EQ(qm::test::Described([&] { Like("abc", bad); }), "93: Invalid pattern string") << bad;
}
