// The UTF-8 decoder, character-counting text helpers (UTF-8, counted in code
// points), letter case (utf8proc's simple case mappings) and the ISO-8859-1
// bridge for text that crosses into 8-bit worlds.

#include "quillmark/values/Text.h"

#include <utf8proc.h>

#include <algorithm>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/values/Conversions.h"

namespace qm {
namespace {

// The bytes of the character at `s[i]` as NextCodePoint reads it: a valid
// character whole, any other byte alone.
std::size_t StepAt(std::string_view s, std::size_t i) {
  if (static_cast<unsigned char>(s[i]) < 0x80) return 1;
  const Utf8Char c = DecodeUtf8(s, i);
  return c.valid ? c.length : 1;
}

// Byte offset of the code point with 0-based index `n`, or the size when past the end.
std::size_t OffsetOf(std::string_view s, std::size_t n) {
  std::size_t i = 0;
  for (; i < s.size() && n > 0; --n) i += StepAt(s, i);
  return i;
}

// Stand-ins for bytes that start no valid UTF-8 sequence (0x80 to 0xFF).
constexpr char32_t kRawFirst = 0xDC80, kRawLast = 0xDCFF;

bool IsRaw(char32_t c) { return c >= kRawFirst && c <= kRawLast; }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// `text` with every code point mapped; ASCII takes the short road.
template <class AsciiMap, class Map>
std::string MapCodePoints(std::string_view text, AsciiMap ascii, Map map) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      out += ascii(text[i++]);
    } else {
      AppendCodePoint(out, map(NextCodePoint(text, i)));
    }
  }
  return out;
}

}  // namespace

Utf8Char DecodeUtf8(std::string_view text, std::size_t at) noexcept {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return {lead, 1, true, false};
  // The continuation bytes due after the lead, and the range of the first
  // one, which rules out overlong forms, surrogates and values past U+10FFFF.
  int due = 0;
  unsigned char low = 0x80, high = 0xBF;
  char32_t point = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    due = 1;
    point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    due = 2;
    point = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    due = 3;
    point = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {0xFFFD, 1, false, false};
  }
  std::size_t length = 1;
  for (; due > 0; --due, ++length) {
    if (at + length >= text.size()) return {0xFFFD, length, false, true};
    const auto next = static_cast<unsigned char>(text[at + length]);
    if (next < low || next > high) return {0xFFFD, length, false, false};
    point = (point << 6) | (next & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  return {point, length, true, false};
}

namespace {

// The stand-in for an invalid run at `at` under `policy`.
char32_t Substitute(InvalidUtf8 policy, std::size_t at) {
  if (policy == InvalidUtf8::Refuse)
    Raise(ERR_InvalidProcedureCall, errc::invalid_argument,
          DescribeError(ERR_InvalidProcedureCall, "the text is not valid UTF-8 at byte " + std::to_string(at)));
  return policy == InvalidUtf8::Question ? U'?' : U'\uFFFD';
}

}  // namespace

std::u32string DecodeUtf8Text(std::string_view text, InvalidUtf8 policy) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const Utf8Char c = DecodeUtf8(text, at);
    out += c.valid ? c.point : Substitute(policy, at);
    at += c.length;
  }
  return out;
}

std::string ValidUtf8(std::string_view text, InvalidUtf8 policy) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const Utf8Char c = DecodeUtf8(text, at);
    if (c.valid) out.append(text.substr(at, c.length));
    else AppendCodePoint(out, Substitute(policy, at));
    at += c.length;
  }
  return out;
}

char32_t NextCodePoint(std::string_view text, std::size_t& at) {
  const Utf8Char c = DecodeUtf8(text, at);
  if (!c.valid) return 0xDC00 + static_cast<unsigned char>(text[at++]);
  at += c.length;
  return c.point;
}

void AppendCodePoint(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (IsRaw(c)) {
    out += static_cast<char>(c - 0xDC00);
  } else {
    utf8proc_uint8_t bytes[4];
    const auto n = utf8proc_encode_char(static_cast<utf8proc_int32_t>(c), bytes);
    out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(n));
  }
}

char32_t UpperCodePoint(char32_t c) {
  if (c < 0x80) return static_cast<char32_t>(AsciiUpper(static_cast<char>(c)));
  // utf8proc maps "ß" to the capital "ẞ", which the Unicode data does not:
  // "ß" has no simple upper-case form.
  if (c == 0xDF || IsRaw(c)) return c;
  return static_cast<char32_t>(utf8proc_toupper(static_cast<utf8proc_int32_t>(c)));
}

char32_t LowerCodePoint(char32_t c) {
  if (c < 0x80) return static_cast<char32_t>(AsciiLower(static_cast<char>(c)));
  return IsRaw(c) ? c : static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(c)));
}

char32_t FoldCodePoint(char32_t c) {
  if (c < 0x80) return static_cast<char32_t>(AsciiLower(static_cast<char>(c)));
  return LowerCodePoint(UpperCodePoint(c));
}

std::string UCase(std::string_view text) { return MapCodePoints(text, AsciiUpper, UpperCodePoint); }

std::string LCase(std::string_view text) { return MapCodePoints(text, AsciiLower, LowerCodePoint); }

std::string FoldCase(std::string_view text) { return MapCodePoints(text, AsciiLower, FoldCodePoint); }

int CompareIgnoringCase(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    char32_t x, y;
    if ((static_cast<unsigned char>(a[i]) | static_cast<unsigned char>(b[j])) < 0x80) {
      x = static_cast<unsigned char>(AsciiLower(a[i++]));
      y = static_cast<unsigned char>(AsciiLower(b[j++]));
    } else {
      x = FoldCodePoint(NextCodePoint(a, i));
      y = FoldCodePoint(NextCodePoint(b, j));
    }
    if (x != y) return x < y ? -1 : 1;
  }
  return (i < a.size()) - (j < b.size());
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) { return CompareIgnoringCase(a, b) == 0; }

std::size_t CharLength(std::string_view utf8) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < utf8.size(); ++count) i += StepAt(utf8, i);
  return count;
}

std::string CharLeft(std::string_view utf8, std::size_t count) {
  return std::string(utf8.substr(0, OffsetOf(utf8, count)));
}

std::string CharMid(std::string_view utf8, std::size_t start1, std::size_t count) {
  if (start1 < 1) start1 = 1;
  const std::size_t from = OffsetOf(utf8, start1 - 1);
  const std::string_view rest = utf8.substr(from);
  return count == std::string::npos ? std::string(rest) : std::string(rest.substr(0, OffsetOf(rest, count)));
}

std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

std::vector<std::string> Characters(std::string_view utf8) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t n = StepAt(utf8, i);
    out.emplace_back(utf8.substr(i, n));
    i += n;
  }
  return out;
}

std::string ReplaceAll(std::string text, std::string_view what, std::string_view with) {
  std::size_t at = what.empty() ? std::string::npos : text.find(what);
  if (at == std::string::npos) return text;
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (; at != std::string::npos; at = text.find(what, start)) {
    out.append(text, start, at - start);
    out += with;
    start = at + what.size();
  }
  out.append(text, start, std::string::npos);
  return out;
}

std::string ToLatin1(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const Utf8Char c = DecodeUtf8(utf8, i);
    out += c.valid && c.point <= 0xFF ? static_cast<char>(c.point) : '?';
    i += c.length;
  }
  return out;
}

std::string FromLatin1(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size() + latin1.size() / 8);
  for (char ch : latin1) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace qm
