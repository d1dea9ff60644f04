#include "quillmark/runtime/Like.h"

#include <iterator>
#include <string>
#include <vector>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm {
namespace {

// The code points of `text`, folded under TextCompare, into `out` (which has
// room for text.size() of them); returns how many.
std::size_t Decode(std::string_view text, bool fold, char32_t* out) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {  // ASCII, most of every file name: folding is lower case
      out[n++] = fold && byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte;
      ++i;
      continue;
    }
    const char32_t c = NextCodePoint(text, i);
    out[n++] = fold ? FoldCodePoint(c) : c;
  }
  return n;
}

// One element of a compiled pattern.
struct Token {
  enum Kind { Literal, AnyOne, AnyRun, Digit, Set };
  explicit Token(Kind k, char32_t c = 0) : kind(k), ch(c) {}

  Kind kind;
  char32_t ch;
  bool negated = false;
  std::vector<std::pair<char32_t, char32_t>> ranges;

  bool InRanges(char32_t c) const {
    for (const auto& [from, to] : ranges) {
      if (c >= from && c <= to) return true;
    }
    return false;
  }

  // `c` is folded when `text` is set.
  bool Matches(char32_t c, bool text) const {
    switch (kind) {
      case Literal: return c == ch;
      case AnyOne: return true;
      case Digit: return c >= U'0' && c <= U'9';
      case Set: {
        const bool inside = InRanges(c) || (text && InRanges(UpperCodePoint(c)));
        return inside != negated;
      }
      case AnyRun: break;
    }
    return false;
  }
};

// Literals are folded under TextCompare; set ranges keep their characters.
std::vector<Token> Compile(const std::u32string& pattern, bool text) {
  std::vector<Token> tokens;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char32_t c = pattern[i];
    if (c == U'?') {
      tokens.emplace_back(Token::AnyOne);
    } else if (c == U'*') {
      if (tokens.empty() || tokens.back().kind != Token::AnyRun) tokens.emplace_back(Token::AnyRun);
    } else if (c == U'#') {
      tokens.emplace_back(Token::Digit);
    } else if (c == U'[') {
      const auto close = pattern.find(U']', i + 1);
      if (close == std::u32string::npos) Raise(ERR_InvalidPattern);
      Token set(Token::Set);
      std::size_t k = i + 1;
      if (k < close && pattern[k] == U'!') {
        set.negated = true;
        ++k;
      }
      for (; k < close; ++k) {
        if (k + 2 < close && pattern[k + 1] == U'-') {
          const char32_t from = pattern[k], to = pattern[k + 2];
          if (from > to) Raise(ERR_InvalidPattern);
          set.ranges.emplace_back(from, to);
          k += 2;
        } else {
          set.ranges.emplace_back(pattern[k], pattern[k]);
          // The text is folded: a letter whose folded form is neither itself
          // nor its capital (final sigma, title-case digraphs) matches by it.
          const char32_t folded = text ? FoldCodePoint(pattern[k]) : pattern[k];
          if (folded != pattern[k]) set.ranges.emplace_back(folded, folded);
        }
      }
      // "[]" matches the empty string in the run-time: a set with nothing in it
      // and not negated consumes no character.
      if (set.ranges.empty() && !set.negated) {
        i = close;
        continue;
      }
      tokens.push_back(std::move(set));
      i = close;
    } else {
      tokens.emplace_back(Token::Literal, text ? FoldCodePoint(c) : c);
    }
  }
  return tokens;
}

}  // namespace

struct LikePattern::Compiled {
  std::vector<Token> Tokens;
  bool Text;
};

LikePattern::LikePattern(std::string_view pattern, CompareMethod compare) {
  std::u32string code(pattern.size(), U'\0');
  code.resize(Decode(pattern, false, code.data()));
  const bool text = compare == TextCompare;
  compiled_ = std::make_shared<const Compiled>(Compiled{Compile(code, text), text});
}

// Matching walks text and pattern once, remembering the last '*' to fall back
// to: O(len(text) * len(pattern)) in the worst case, no recursion.
bool LikePattern::Matches(std::string_view text) const {
  // File names fit the buffer on the stack; longer texts take the heap.
  char32_t local[256];
  std::u32string heap;
  char32_t* s = local;
  if (text.size() > std::size(local)) {
    heap.resize(text.size());
    s = heap.data();
  }
  const bool fold = compiled_->Text;
  const std::size_t length = Decode(text, fold, s);
  const std::vector<Token>& p = compiled_->Tokens;
  std::size_t si = 0, pi = 0;
  std::size_t starPattern = std::string::npos, starText = 0;
  while (si < length) {
    if (pi < p.size() && p[pi].kind == Token::AnyRun) {
      starPattern = pi++;
      starText = si;
    } else if (pi < p.size() && p[pi].Matches(s[si], fold)) {
      ++pi;
      ++si;
    } else if (starPattern != std::string::npos) {
      pi = starPattern + 1;
      si = ++starText;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi].kind == Token::AnyRun) ++pi;
  return pi == p.size();
}

bool Like(std::string_view text, std::string_view pattern, CompareMethod compare) {
  return LikePattern(pattern, compare).Matches(text);
}

}  // namespace qm
