#include <gtest/gtest.h>

#include "quillmark/errors/Error.h"
#include "quillmark/runtime/Like.h"
#include "support/ErrorOf.h"

using qm::Like;

TEST(Like, WildcardsDigitsListsAndInvalidPatterns) {
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
}

TEST(Like, TextCompareIgnoresCaseInEveryLetter) {
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
