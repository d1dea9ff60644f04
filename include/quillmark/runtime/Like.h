#pragma once
// The run-time's `Like` pattern operator.
//
//   ?        any one character
//   *        any run of characters, the empty run included
//   #        one digit 0-9
//   [list]   one character from the list; ranges as in [A-Z]
//   [!list]  one character not in the list
//
// Characters are Unicode code points. Under BinaryCompare they compare by
// code; under TextCompare without regard to case (qm::FoldCodePoint), and a
// character is in a range when it or its upper-case form is. Bytes that are
// not valid UTF-8 match only themselves.
// A '[' without its ']' raises 93 "Invalid pattern string".

#include <memory>
#include <string_view>

#include "quillmark/Export.h"
#include "quillmark/values/Text.h"

namespace qm {

/// `text Like pattern`.
QUILLMARK_EXPORT bool Like(std::string_view text, std::string_view pattern, CompareMethod compare = BinaryCompare);

/// A pattern compiled once, for matching many texts.
class QUILLMARK_EXPORT LikePattern {
 public:
  /// Compiles `pattern` (? any character, * any run, # a digit, [a-z] and [!a-z]
  /// character lists); 93 (Invalid pattern string) for an unclosed or reversed list.
  explicit LikePattern(std::string_view pattern, CompareMethod compare = BinaryCompare);
  /// True when all of `text` matches, as `text Like pattern` does.
  bool Matches(std::string_view text) const;

 private:
  struct Compiled;
  std::shared_ptr<const Compiled> compiled_;
};

}  // namespace qm
