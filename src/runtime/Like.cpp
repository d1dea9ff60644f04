#include "quillmark/runtime/Like.h"

#include <vector>

#include "quillmark/frame/Error.h"

namespace qm {
namespace {

constexpr std::int32_t ERR_InvalidPattern = 93;

// Decodes UTF-8 into code points; a byte that starts no valid sequence stands
// for itself, so every input has a decoding.
std::u32string Decode(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    int extra = c >= 0xF0 && c < 0xF8 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (c >= 0xF8 || (c >= 0x80 && c < 0xC0) || i + extra >= text.size()) extra = 0;
    char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    bool valid = true;
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        valid = false;
        break;
      }
      cp = (cp << 6) | (next & 0x3F);
    }
    if (!valid) {
      cp = c;
      extra = 0;
    }
    out.push_back(cp);
    i += 1 + extra;
  }
  return out;
}

// One element of a compiled pattern.
struct Token {
  enum Kind { Literal, AnyOne, AnyRun, Digit, Set };
  explicit Token(Kind k, char32_t c = 0) : kind(k), ch(c) {}

  Kind kind;
  char32_t ch;
  bool negated = false;
  std::vector<std::pair<char32_t, char32_t>> ranges;

  bool Matches(char32_t c) const {
    switch (kind) {
      case Literal: return c == ch;
      case AnyOne: return true;
      case Digit: return c >= U'0' && c <= U'9';
      case Set: {
        bool inside = false;
        for (const auto& [from, to] : ranges) inside = inside || (c >= from && c <= to);
        return inside != negated;
      }
      case AnyRun: break;
    }
    return false;
  }
};

std::vector<Token> Compile(const std::u32string& pattern) {
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
      if (close == std::u32string::npos) Raise(ERR_InvalidPattern, "Invalid pattern string");
      Token set(Token::Set);
      std::size_t k = i + 1;
      if (k < close && pattern[k] == U'!') {
        set.negated = true;
        ++k;
      }
      for (; k < close; ++k) {
        if (k + 2 < close && pattern[k + 1] == U'-') {
          const char32_t from = pattern[k], to = pattern[k + 2];
          if (from > to) Raise(ERR_InvalidPattern, "Invalid pattern string");
          set.ranges.emplace_back(from, to);
          k += 2;
        } else {
          set.ranges.emplace_back(pattern[k], pattern[k]);
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
      tokens.emplace_back(Token::Literal, c);
    }
  }
  return tokens;
}

}  // namespace

struct LikePattern::Compiled {
  std::vector<Token> Tokens;
};

LikePattern::LikePattern(std::string_view pattern)
    : compiled_(std::make_shared<const Compiled>(Compiled{Compile(Decode(pattern))})) {}

// Matching walks text and pattern once, remembering the last '*' to fall back
// to: O(len(text) * len(pattern)) in the worst case, no recursion.
bool LikePattern::Matches(std::string_view text) const {
  const std::u32string s = Decode(text);
  const std::vector<Token>& p = compiled_->Tokens;
  std::size_t si = 0, pi = 0;
  std::size_t starPattern = std::string::npos, starText = 0;
  while (si < s.size()) {
    if (pi < p.size() && p[pi].kind == Token::AnyRun) {
      starPattern = pi++;
      starText = si;
    } else if (pi < p.size() && p[pi].Matches(s[si])) {
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

bool Like(std::string_view text, std::string_view pattern) { return LikePattern(pattern).Matches(text); }

}  // namespace qm
