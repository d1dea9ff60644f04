#include "quillmark/values/Conversions.h"

#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "values/DateText.h"

namespace qm {
namespace {

char LocaleDecimalPoint() {
  const std::lconv* lc = std::localeconv();
  return (lc && lc->decimal_point && lc->decimal_point[0]) ? lc->decimal_point[0] : '.';
}

// Shortest text of `value` with at most `digits` significant digits, in the
// form of printf's %G ("1E+20", "1.5E-07", "0.1"), always with '.'.
std::string GeneralText(double value, int digits) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  if (value == 0) return "0";
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
  std::string text(buffer, result.ptr);
  for (char& c : text)
    if (c == 'e') c = 'E';
  return text;
}

std::string Localised(std::string text) {
  const char point = LocaleDecimalPoint();
  if (point != '.') {
    for (char& c : text)
      if (c == '.') c = point;
  }
  return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

std::string FormatGeneral(double value) { return Localised(GeneralText(value, 15)); }

std::string FormatGeneralSingle(float value) { return Localised(GeneralText(value, 7)); }

std::string WriteInvariantNumber(double value) {
  std::string text = GeneralText(value, 15);
  // The writer drops a leading zero before the point: " .5", "-.25".
  const bool negative = !text.empty() && text[0] == '-';
  const std::size_t digits = negative ? 1 : 0;
  if (text.size() > digits + 1 && text[digits] == '0' && text[digits + 1] == '.') text.erase(digits, 1);
  return negative ? text : " " + text;
}

double Val(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  for (char c : text)
    if (!IsBlank(c)) s += c;
  if (s.size() >= 2 && s[0] == '&') {
    const char32_t kind = UpperCodePoint(static_cast<unsigned char>(s[1]));
    const int base = kind == 'H' ? 16 : (kind == 'O' ? 8 : 0);
    if (base) {
      std::uint32_t n = 0;
      std::from_chars(s.data() + 2, s.data() + s.size(), n, base);
      return static_cast<double>(static_cast<std::int32_t>(n));
    }
  }
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  const std::size_t mantissaStart = i;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
  }
  if (i == mantissaStart || (i == mantissaStart + 1 && s[mantissaStart] == '.')) return 0;
  std::size_t end = i;
  if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    const std::size_t expStart = j;
    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
    if (j > expStart) {
      s[i] = 'E';
      end = j;
    }
  }
  double value = 0;
  const char* first = s.data();
  if (*first == '+') ++first;
  const auto result = std::from_chars(first, s.data() + end, value);
  if (result.ec == std::errc::result_out_of_range) {
    return (s[0] == '-' ? -1.0 : 1.0) * std::numeric_limits<double>::infinity();
  }
  return value;
}

bool TryParseNumber(std::string_view text, double& out) {
  std::string s = Trim(text);
  if (s.empty()) return false;
  if (s.size() >= 2 && s[0] == '&') {
    const char32_t kind = UpperCodePoint(static_cast<unsigned char>(s[1]));
    const int base = kind == 'H' ? 16 : (kind == 'O' ? 8 : 0);
    if (!base || s.size() == 2) return false;
    std::uint32_t n = 0;
    const auto r = std::from_chars(s.data() + 2, s.data() + s.size(), n, base);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
    out = static_cast<std::int32_t>(n);
    return true;
  }
  const char point = LocaleDecimalPoint();
  std::string normal;
  normal.reserve(s.size());
  for (char c : s) {
    if (c == point) normal += '.';
    else if (c == '.') return false;  // a point that is not the locale's decimal separator
    else if (c == 'D' || c == 'd') normal += 'E';
    else normal += c;
  }
  const char* first = normal.data();
  const char* last = normal.data() + normal.size();
  if (first != last && *first == '+') ++first;
  if (first == last || !(std::isdigit(static_cast<unsigned char>(*first)) || *first == '.' || *first == '-'))
    return false;
  const auto r = std::from_chars(first, last, out);
  return r.ec == std::errc() && r.ptr == last;
}

double RoundHalfEven(double value) { return std::nearbyint(value); }

std::string CStr(const Variant& v) {
  return std::visit(
      [&v](const auto& x) -> std::string {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) return {};
        else if constexpr (std::is_same_v<T, NullValue>) Raise(ERR_InvalidUseOfNull);
        else if constexpr (std::is_same_v<T, bool>) return x ? "True" : "False";
        else if constexpr (std::is_same_v<T, std::int16_t> || std::is_same_v<T, std::int32_t> ||
                           std::is_same_v<T, std::uint8_t>)
          return std::to_string(x);
        else if constexpr (std::is_same_v<T, float>) return FormatGeneralSingle(x);
        else if constexpr (std::is_same_v<T, double>) return FormatGeneral(x);
        else if constexpr (std::is_same_v<T, Currency>) return FormatGeneral(static_cast<double>(x.Scaled) / 10000.0);
        else if constexpr (std::is_same_v<T, Date>) return FormatGeneralDate(x);
        else if constexpr (std::is_same_v<T, Variant::StringBox>) return x.Get();
        else {
          (void)v;
          Raise(ERR_TypeMismatch);
        }
      },
      v.Raw());
}

double CDbl(const Variant& v) {
  return std::visit(
      [](const auto& x) -> double {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) return 0;
        else if constexpr (std::is_same_v<T, NullValue>) Raise(ERR_InvalidUseOfNull);
        else if constexpr (std::is_same_v<T, bool>) return x ? -1 : 0;
        else if constexpr (std::is_arithmetic_v<T>) return static_cast<double>(x);
        else if constexpr (std::is_same_v<T, Currency>) return static_cast<double>(x.Scaled) / 10000.0;
        else if constexpr (std::is_same_v<T, Date>) return x.Serial;
        else if constexpr (std::is_same_v<T, Variant::StringBox>) {
          const std::string& text = x.Get();
          double d;
          if (TryParseNumber(text, d)) return d;
          const std::string lower = LCase(Trim(text));
          if (lower == "true") return -1;
          if (lower == "false") return 0;
          Raise(ERR_TypeMismatch);
        } else {
          Raise(ERR_TypeMismatch);
        }
      },
      v.Raw());
}

float CSng(const Variant& v) {
  const double d = CDbl(v);
  if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) Raise(ERR_Overflow);
  return static_cast<float>(d);
}

std::int32_t CLng(const Variant& v) {
  if (const auto* l = v.GetIf<std::int32_t>()) return *l;
  const double d = RoundHalfEven(CDbl(v));
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) Raise(ERR_Overflow);
  return static_cast<std::int32_t>(d);
}

std::int16_t CInt(const Variant& v) {
  const double d = RoundHalfEven(CDbl(v));
  if (!(d >= -32768.0 && d <= 32767.0)) Raise(ERR_Overflow);
  return static_cast<std::int16_t>(d);
}

std::uint8_t CByte(const Variant& v) {
  const double d = RoundHalfEven(CDbl(v));
  if (!(d >= 0.0 && d <= 255.0)) Raise(ERR_Overflow);
  return static_cast<std::uint8_t>(d);
}

bool CBool(const Variant& v) {
  if (const auto* b = v.GetIf<bool>()) return *b;
  if (v.IsString()) {
    const std::string lower = LCase(Trim(v.String()));
    if (lower == "true") return true;
    if (lower == "false") return false;
  }
  return CDbl(v) != 0;
}

Date detail::DateFromText(std::string_view text) {
  Date date;
  if (TryParseDate(text, date)) return date;
  double serial = 0;
  if (!TryParseNumber(text, serial)) Raise(ERR_TypeMismatch);
  return Date{serial};
}

Date CDate(const Variant& v) {
  if (const auto* d = v.GetIf<Date>()) return *d;
  if (v.IsString()) return detail::DateFromText(v.String());
  return Date{CDbl(v)};
}

}  // namespace qm
