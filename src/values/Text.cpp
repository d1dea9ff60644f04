// Character-counting text helpers (UTF-8, counted in code points), letter
// case (utf8proc's simple case mappings) and the ISO-8859-1 bridge for text
// that crosses into 8-bit worlds.

#include "quillmark/values/Text.h"

#include <utf8proc.h>

#include <algorithm>

#include "quillmark/values/Conversions.h"

namespace qm {
namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Byte offset of the code point with 0-based index `n`, or the size when past the end.
std::size_t OffsetOf(std::string_view s, std::size_t n) {
  std::size_t i = 0;
  while (i < s.size() && n > 0) {
    ++i;
    while (i < s.size() && IsContinuation(static_cast<unsigned char>(s[i]))) ++i;
    --n;
  }
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

char32_t NextCodePoint(std::string_view text, std::size_t& at) {
  const auto first = static_cast<unsigned char>(text[at]);
  if (first < 0x80) {
    ++at;
    return first;
  }
  utf8proc_int32_t c = 0;
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data() + at);
  const utf8proc_ssize_t read = utf8proc_iterate(bytes, static_cast<utf8proc_ssize_t>(text.size() - at), &c);
  if (read <= 0) {
    ++at;
    return 0xDC00 + first;
  }
  at += static_cast<std::size_t>(read);
  return static_cast<char32_t>(c);
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
  return static_cast<std::size_t>(
      std::count_if(utf8.begin(), utf8.end(), [](char c) { return !IsContinuation(static_cast<unsigned char>(c)); }));
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
    std::size_t n = 1;
    while (i + n < utf8.size() && IsContinuation(static_cast<unsigned char>(utf8[i + n]))) ++n;
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
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    std::uint32_t cp = extra == 3 ? c & 0x07 : extra == 2 ? c & 0x0F : c & 0x1F;
    std::size_t j = i + 1;
    for (int k = 0; k < extra && j < utf8.size() && IsContinuation(static_cast<unsigned char>(utf8[j])); ++k, ++j)
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[j]) & 0x3F);
    const bool complete = extra > 0 && j - i == static_cast<std::size_t>(extra) + 1;
    out += complete && cp <= 0xFF ? static_cast<char>(cp) : '?';
    i = std::max(j, i + 1);
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
