#pragma once
// The run-time's `Like` pattern operator.
//
//   ?        any one character
//   *        any run of characters, the empty run included
//   #        one digit 0-9
//   [list]   one character from the list; ranges as in [A-Z]
//   [!list]  one character not in the list
//
// Characters are Unicode code points and compare by code (case-sensitive);
// callers that want matching without regard to case upper-case both sides.
// A '[' without its ']' raises 93 "Invalid pattern string".

#include <memory>
#include <string_view>

namespace qm {

/// `text Like pattern`.
bool Like(std::string_view text, std::string_view pattern);

/// A pattern compiled once, for matching many texts.
class LikePattern {
 public:
  explicit LikePattern(std::string_view pattern);
  bool Matches(std::string_view text) const;

 private:
  struct Compiled;
  std::shared_ptr<const Compiled> compiled_;
};

}  // namespace qm
