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

#include <string_view>

namespace qm {

bool Like(std::string_view text, std::string_view pattern);

}  // namespace qm
