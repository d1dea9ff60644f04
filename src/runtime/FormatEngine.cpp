#include "runtime/FormatEngine.h"

#include <array>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/values/Text.h"

namespace qm::format {
namespace {

// ---------------------------------------------------------------- helpers --

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

struct LocaleText {
  std::string DecimalPoint = ".";
  std::string Thousands = ",";
  std::string CurrencySymbol = "$";
};

LocaleText CurrentLocale() {
  LocaleText text;
  if (const std::lconv* conv = std::localeconv()) {
    if (conv->decimal_point && *conv->decimal_point) text.DecimalPoint = conv->decimal_point;
    if (conv->thousands_sep && *conv->thousands_sep) text.Thousands = conv->thousands_sep;
    if (conv->currency_symbol && *conv->currency_symbol) text.CurrencySymbol = conv->currency_symbol;
  }
  return text;
}

// Splits a format into its ';'-separated sections; quotes and '\' escapes
// protect a ';'.
std::vector<std::string> SplitSections(std::string_view format) {
  std::vector<std::string> sections(1);
  bool quoted = false;
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (c == '\\' && !quoted && i + 1 < format.size()) {
      sections.back() += c;
      sections.back() += format[++i];
      continue;
    } else if (c == ';' && !quoted) {
      sections.emplace_back();
      continue;
    }
    sections.back() += c;
  }
  return sections;
}

enum class Mode { Number, Date, Text };

// Tells what a section formats: digit placeholders make it a number format,
// date letters a date format, text placeholders a text format.
Mode Classify(std::string_view section) {
  bool digits = false, dates = false, text = false;
  bool quoted = false;
  for (std::size_t i = 0; i < section.size(); ++i) {
    const char c = section[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted) {
      continue;
    } else if (c == '\\') {
      ++i;
    } else if (c == '0' || c == '#') {
      digits = true;
    } else if (std::string_view("dDmMyYhHnNsSwWqQcCtT").find(c) != std::string_view::npos) {
      dates = true;
    } else if (std::string_view("@&<>!").find(c) != std::string_view::npos) {
      text = true;
    }
  }
  if (digits) return Mode::Number;
  if (dates) return Mode::Date;
  if (text) return Mode::Text;
  return Mode::Number;
}

// Copies a literal-only section (quotes and escapes removed).
std::string Literals(std::string_view section) {
  std::string out;
  bool quoted = false;
  for (std::size_t i = 0; i < section.size(); ++i) {
    const char c = section[i];
    if (c == '"') quoted = !quoted;
    else if (c == '\\' && !quoted && i + 1 < section.size()) out += section[++i];
    else out += c;
  }
  return out;
}

// ---------------------------------------------------------------- numbers --

// A non-negative finite number as decimal digits: value = 0.DIGITS x 10^Point,
// that is, the first `Point` digits stand before the decimal point. Fifteen
// significant digits, as the run-time keeps.
struct Decimal {
  std::string Digits;  // no leading zeros ("" for 0)
  int Point = 0;

  static Decimal Of(double value) {
    Decimal d;
    if (value == 0) return d;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.14e", value);
    // d.dddddddddddddde[+-]xx
    std::string_view text(buffer);
    const auto e = text.find('e');
    d.Digits += text[0];
    d.Digits += text.substr(2, e - 2);
    d.Point = std::atoi(buffer + e + 1) + 1;
    while (!d.Digits.empty() && d.Digits.back() == '0') d.Digits.pop_back();
    return d;
  }

  /// Rounds half away from zero to `decimals` digits after the point.
  void Round(std::size_t decimals) {
    const long long keep = static_cast<long long>(Point) + static_cast<long long>(decimals);
    if (keep >= static_cast<long long>(Digits.size())) return;
    if (keep < 0) {
      Digits.clear();
      Point = 0;
      return;
    }
    const bool up = Digits[static_cast<std::size_t>(keep)] >= '5';
    Digits.resize(static_cast<std::size_t>(keep));
    if (up) {
      std::size_t i = Digits.size();
      while (i > 0 && Digits[i - 1] == '9') Digits[--i] = '0';
      if (i == 0) {
        Digits.insert(Digits.begin(), '1');
        ++Point;
      } else {
        ++Digits[i - 1];
      }
    }
    while (!Digits.empty() && Digits.back() == '0') Digits.pop_back();
    if (Digits.empty()) Point = 0;
  }

  std::string IntegerDigits() const {
    if (Point <= 0) return {};
    std::string out = Digits.substr(0, static_cast<std::size_t>(Point));
    out.resize(static_cast<std::size_t>(Point), '0');
    return out;
  }

  std::string FractionDigits(std::size_t count) const {
    std::string out;
    out.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
      const long long index = static_cast<long long>(Point) + static_cast<long long>(k);
      out +=
          index >= 0 && index < static_cast<long long>(Digits.size()) ? Digits[static_cast<std::size_t>(index)] : '0';
    }
    return out;
  }
};

struct NumberToken {
  enum Kind { Zero, Hash, Point, Comma, Percent, Exponent, Literal } kind;
  std::string text;       // Literal: the text; Exponent: "E" or "e"
  bool plusSign = false;  // Exponent: E+ rather than E-
};

struct NumberFormat {
  std::vector<NumberToken> tokens;
  std::size_t intPlaceholders = 0, fracPlaceholders = 0, fracRequired = 0;
  std::size_t minIntDigits = 0, expRequired = 0;
  bool grouping = false, exponent = false;
  int scaleThousands = 0, percents = 0;
};

NumberFormat ParseNumberFormat(std::string_view section) {
  NumberFormat f;
  bool quoted = false, afterPoint = false, afterExp = false;
  for (std::size_t i = 0; i < section.size(); ++i) {
    const char c = section[i];
    auto literal = [&f](std::string text) {
      if (!f.tokens.empty() && f.tokens.back().kind == NumberToken::Literal) f.tokens.back().text += text;
      else f.tokens.push_back({NumberToken::Literal, std::move(text)});
    };
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted) {
      literal(std::string(1, c));
    } else if (c == '\\' && i + 1 < section.size()) {
      literal(std::string(1, section[++i]));
    } else if (c == '0' || c == '#') {
      f.tokens.push_back({c == '0' ? NumberToken::Zero : NumberToken::Hash, {}});
      if (afterExp) {
        if (c == '0') ++f.expRequired;
      } else if (afterPoint) {
        ++f.fracPlaceholders;
        if (c == '0') f.fracRequired = f.fracPlaceholders;
      } else {
        ++f.intPlaceholders;
        if (c == '0' && f.minIntDigits == 0) f.minIntDigits = 1;  // counted below
      }
    } else if (c == '.' && !afterPoint && !afterExp) {
      afterPoint = true;
      f.tokens.push_back({NumberToken::Point, {}});
    } else if (c == ',' && !afterPoint && !afterExp) {
      f.tokens.push_back({NumberToken::Comma, {}});
    } else if (c == '%') {
      ++f.percents;
      f.tokens.push_back({NumberToken::Percent, {}});
    } else if ((c == 'E' || c == 'e') && !afterExp && i + 1 < section.size() &&
               (section[i + 1] == '+' || section[i + 1] == '-')) {
      afterExp = f.exponent = true;
      f.tokens.push_back({NumberToken::Exponent, std::string(1, c), section[i + 1] == '+'});
      ++i;
    } else {
      literal(std::string(1, c));
    }
  }
  // Integer digits shown at least: the placeholders from the first '0' on.
  // A ',' with an integer placeholder after it groups thousands; the ones
  // after the last integer placeholder divide by 1000 each.
  std::size_t seen = 0;
  bool zeroSeen = false;
  f.minIntDigits = 0;
  int trailingCommas = 0;
  for (const auto& t : f.tokens) {
    if (t.kind == NumberToken::Point || t.kind == NumberToken::Exponent) break;
    if (t.kind == NumberToken::Zero || t.kind == NumberToken::Hash) {
      ++seen;
      if (t.kind == NumberToken::Zero) zeroSeen = true;
      if (zeroSeen) ++f.minIntDigits;
      if (trailingCommas > 0 && seen > 1) f.grouping = true;
      trailingCommas = 0;
    } else if (t.kind == NumberToken::Comma) {
      if (seen > 0) ++trailingCommas;
    }
  }
  f.scaleThousands = trailingCommas;
  return f;
}

std::string FormatNumberSection(double value, std::string_view section, bool withMinus, const LocaleText& locale) {
  const NumberFormat f = ParseNumberFormat(section);
  double v = std::fabs(value);
  for (int k = 0; k < f.percents; ++k) v *= 100;
  for (int k = 0; k < f.scaleThousands; ++k) v /= 1000;
  if (!std::isfinite(v)) Raise(ERR_Overflow);

  Decimal d = Decimal::Of(v);
  int exponentValue = 0;
  if (f.exponent && !d.Digits.empty()) {
    const int intDigits = static_cast<int>(std::max<std::size_t>(1, std::min<std::size_t>(f.intPlaceholders, 300)));
    exponentValue = d.Point - intDigits;
    d.Point = intDigits;
    d.Round(f.fracPlaceholders);
    if (d.Point > intDigits) {  // rounding carried into a new digit
      ++exponentValue;
      d.Point = intDigits;
    }
  } else {
    d.Round(f.fracPlaceholders);
  }

  std::string integer = d.IntegerDigits();
  if (integer.size() < f.minIntDigits) integer.insert(0, f.minIntDigits - integer.size(), '0');
  std::string fraction = d.FractionDigits(f.fracPlaceholders);
  while (fraction.size() > f.fracRequired && fraction.back() == '0') fraction.pop_back();

  std::string out;
  if (withMinus && !(d.Digits.empty())) out += '-';
  const std::size_t length = integer.size();
  std::size_t intIndex = 0, fracIndex = 0, expIndex = 0;
  bool inFraction = false, inExponent = false;
  std::string expDigits = std::to_string(std::abs(exponentValue));
  if (expDigits.size() < f.expRequired) expDigits.insert(0, f.expRequired - expDigits.size(), '0');
  std::size_t expPlaceholders = 0;
  bool pastExponent = false;
  for (const auto& t : f.tokens) {
    if (t.kind == NumberToken::Exponent) pastExponent = true;
    else if (pastExponent && (t.kind == NumberToken::Zero || t.kind == NumberToken::Hash)) ++expPlaceholders;
  }

  auto emitInteger = [&](std::size_t from, std::size_t to) {
    for (std::size_t k = from; k < to; ++k) {
      out += integer[k];
      const std::size_t fromRight = length - 1 - k;
      if (f.grouping && fromRight > 0 && fromRight % 3 == 0) out += locale.Thousands;
    }
  };
  for (const auto& t : f.tokens) {
    switch (t.kind) {
      case NumberToken::Zero:
      case NumberToken::Hash:
        if (inExponent) {
          const long long offset = static_cast<long long>(expDigits.size()) - static_cast<long long>(expPlaceholders);
          const long long index = offset + static_cast<long long>(expIndex);
          if (expIndex == 0 && offset > 0) out += expDigits.substr(0, static_cast<std::size_t>(offset));
          if (index >= 0) out += expDigits[static_cast<std::size_t>(index)];
          ++expIndex;
        } else if (inFraction) {
          if (fracIndex < fraction.size()) out += fraction[fracIndex];
          ++fracIndex;
        } else {
          // Placeholders take digits from the right; the first one also takes
          // every digit the others cannot hold.
          const long long offset = static_cast<long long>(length) - static_cast<long long>(f.intPlaceholders);
          const long long index = offset + static_cast<long long>(intIndex);
          if (intIndex == 0 && offset > 0) emitInteger(0, static_cast<std::size_t>(offset));
          if (index >= 0) emitInteger(static_cast<std::size_t>(index), static_cast<std::size_t>(index) + 1);
          ++intIndex;
        }
        break;
      case NumberToken::Point:
        if (f.intPlaceholders == 0 && length > 0) emitInteger(0, length);
        inFraction = true;
        out += locale.DecimalPoint;
        break;
      case NumberToken::Comma: break;
      case NumberToken::Percent: out += '%'; break;
      case NumberToken::Exponent:
        if (!inFraction && f.intPlaceholders == 0 && length > 0) emitInteger(0, length);
        inExponent = true;
        out += t.text;
        if (exponentValue < 0) out += '-';
        else if (t.plusSign) out += '+';
        break;
      case NumberToken::Literal: out += t.text; break;
    }
  }
  return out;
}

// ------------------------------------------------------------------ dates --

constexpr std::array<const char*, 12> kMonths = {"January", "February", "March",     "April",   "May",      "June",
                                                 "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<const char*, 7> kDays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                              "Thursday", "Friday", "Saturday"};

constexpr const char* kLongDate = "dddd, mmmm d, yyyy";
constexpr const char* kMediumDate = "dd-mmm-yy";
constexpr const char* kShortDate = "yyyy-mm-dd";
constexpr const char* kLongTime = "hh:nn:ss";
constexpr const char* kMediumTime = "hh:nn AM/PM";
constexpr const char* kShortTime = "hh:nn";

struct DateInfo {
  DateParts parts;
  long long day;    // days since 1899-12-30
  int weekday;      // 1 = Sunday
  int dayOfYear;    // 1-based
  int jan1Weekday;  // 1 = Sunday
};

int WeekdayOf(long long day) { return static_cast<int>(((day + 6) % 7 + 7) % 7) + 1; }

DateInfo InfoOf(const DateValue& date) {
  if (!std::isfinite(date.Serial.Serial) || date.Serial.Serial < -657434.0 || date.Serial.Serial >= 2958466.0)
    Raise(ERR_Overflow);
  DateInfo info{};
  info.parts = date.Parts ? *date.Parts : SplitDate(date.Serial);
  const Date midnight = MakeDate(info.parts.Year, info.parts.Month, info.parts.Day);
  info.day = static_cast<long long>(std::llround(midnight.Serial));
  info.weekday = WeekdayOf(info.day);
  const long long jan1 = std::llround(MakeDate(info.parts.Year, 1, 1).Serial);
  info.dayOfYear = static_cast<int>(info.day - jan1) + 1;
  info.jan1Weekday = WeekdayOf(jan1);
  return info;
}

std::string TwoDigits(int n) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", n);
  return buffer;
}

std::string FormatDateSection(const DateValue& date, std::string_view section, int firstDay);

// The date and time tokens of a section, with the literals between them.
struct DateToken {
  enum Kind { Literal, Day, Weekday, Week, Month, Quarter, Year, Hour, Minute, Second, AmPm, Whole } kind;
  int width = 1;     // number of letters (d..dddddd, y/yy/yyyy, ...)
  std::string text;  // Literal text; AmPm: the two markers as written ("AM/PM")
};

std::vector<DateToken> ParseDateFormat(std::string_view s, bool& twelveHour) {
  std::vector<DateToken> tokens;
  auto literal = [&tokens](std::string_view text) {
    if (!tokens.empty() && tokens.back().kind == DateToken::Literal) tokens.back().text += text;
    else tokens.push_back({DateToken::Literal, 1, std::string(text)});
  };
  auto run = [&s](std::size_t i, char lower, std::size_t limit) {
    std::size_t n = 0;
    while (i + n < s.size() && Lower(s[i + n]) == lower && n < limit) ++n;
    return n;
  };
  twelveHour = false;
  for (std::size_t i = 0; i < s.size();) {
    const char c = s[i];
    const char l = Lower(c);
    if (c == '"') {
      const auto close = s.find('"', i + 1);
      literal(s.substr(i + 1, (close == std::string_view::npos ? s.size() : close) - i - 1));
      i = close == std::string_view::npos ? s.size() : close + 1;
    } else if (c == '\\' && i + 1 < s.size()) {
      literal(s.substr(i + 1, 1));
      i += 2;
    } else if (EqualsIgnoringCase(s.substr(i, 5), "am/pm")) {
      twelveHour = true;
      tokens.push_back({DateToken::AmPm, 5, std::string(s.substr(i, 5))});
      i += 5;
    } else if (EqualsIgnoringCase(s.substr(i, 3), "a/p")) {
      twelveHour = true;
      tokens.push_back({DateToken::AmPm, 3, std::string(s.substr(i, 3))});
      i += 3;
    } else if (EqualsIgnoringCase(s.substr(i, 4), "ampm")) {
      twelveHour = true;
      tokens.push_back({DateToken::AmPm, 4, "AM/PM"});
      i += 4;
    } else if (l == 'd') {
      const auto n = run(i, 'd', 6);
      tokens.push_back({n <= 2 ? DateToken::Day : DateToken::Weekday, static_cast<int>(n), {}});
      i += n;
    } else if (l == 'w') {
      const auto n = run(i, 'w', 2);
      tokens.push_back({n == 1 ? DateToken::Weekday : DateToken::Week, n == 1 ? 0 : 2, {}});
      i += n;
    } else if (l == 'm') {
      const auto n = run(i, 'm', 4);
      tokens.push_back({DateToken::Month, static_cast<int>(n), {}});
      i += n;
    } else if (l == 'q') {
      tokens.push_back({DateToken::Quarter, 1, {}});
      ++i;
    } else if (l == 'y') {
      const auto n = run(i, 'y', 4);
      const int width = n >= 4 ? 4 : n >= 2 ? 2 : 1;
      tokens.push_back({DateToken::Year, width, {}});
      i += static_cast<std::size_t>(width);
    } else if (l == 'h' || l == 'n' || l == 's') {
      const auto n = run(i, l, 2);
      tokens.push_back({l == 'h'   ? DateToken::Hour
                        : l == 'n' ? DateToken::Minute
                                   : DateToken::Second,
                        static_cast<int>(n),
                        {}});
      i += n;
    } else if (l == 't' && run(i, 't', 5) == 5) {
      tokens.push_back({DateToken::Whole, 0, kLongTime});
      i += 5;
    } else if (l == 'c') {
      tokens.push_back({DateToken::Whole, 1, {}});
      ++i;
    } else {
      literal(s.substr(i, 1));
      ++i;
    }
  }
  // m and mm right after an hour, or right before a second, are minutes.
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    if (tokens[k].kind != DateToken::Month || tokens[k].width > 2) continue;
    auto neighbour = [&tokens](std::size_t from, int step) -> const DateToken* {
      for (long long j = static_cast<long long>(from) + step; j >= 0 && j < static_cast<long long>(tokens.size());
           j += step) {
        if (tokens[static_cast<std::size_t>(j)].kind != DateToken::Literal) return &tokens[static_cast<std::size_t>(j)];
      }
      return nullptr;
    };
    const DateToken* before = neighbour(k, -1);
    const DateToken* after = neighbour(k, +1);
    if ((before && before->kind == DateToken::Hour) || (after && after->kind == DateToken::Second))
      tokens[k].kind = DateToken::Minute;
  }
  return tokens;
}

// `firstDay`: 1 Sunday to 7 Saturday.
std::string FormatDateSection(const DateValue& date, std::string_view section, int firstDay) {
  const DateInfo info = InfoOf(date);
  const DateParts& p = info.parts;
  bool twelveHour = false;
  const std::vector<DateToken> tokens = ParseDateFormat(section, twelveHour);
  std::string out;
  for (const auto& t : tokens) {
    switch (t.kind) {
      case DateToken::Literal: out += t.text; break;
      case DateToken::Day: out += t.width == 1 ? std::to_string(p.Day) : TwoDigits(p.Day); break;
      case DateToken::Weekday:
        if (t.width == 0) out += std::to_string((info.weekday - firstDay + 7) % 7 + 1);
        else if (t.width == 3) out += std::string(kDays[static_cast<std::size_t>(info.weekday - 1)]).substr(0, 3);
        else if (t.width == 4) out += kDays[static_cast<std::size_t>(info.weekday - 1)];
        else out += FormatDateSection(date, t.width == 5 ? kShortDate : kLongDate, firstDay);
        break;
      case DateToken::Week: {
        const int offset = (info.jan1Weekday - firstDay + 7) % 7;
        out += std::to_string((info.dayOfYear - 1 + offset) / 7 + 1);
        break;
      }
      case DateToken::Month:
        if (t.width == 1) out += std::to_string(p.Month);
        else if (t.width == 2) out += TwoDigits(p.Month);
        else if (t.width == 3) out += std::string(kMonths[static_cast<std::size_t>(p.Month - 1)]).substr(0, 3);
        else out += kMonths[static_cast<std::size_t>(p.Month - 1)];
        break;
      case DateToken::Quarter: out += std::to_string((p.Month - 1) / 3 + 1); break;
      case DateToken::Year:
        if (t.width == 1) out += std::to_string(info.dayOfYear);
        else if (t.width == 2) out += TwoDigits(p.Year % 100);
        else out += std::to_string(p.Year);
        break;
      case DateToken::Hour: {
        int hour = p.Hour;
        if (twelveHour) hour = hour % 12 == 0 ? 12 : hour % 12;
        out += t.width == 1 ? std::to_string(hour) : TwoDigits(hour);
        break;
      }
      case DateToken::Minute: out += t.width == 1 ? std::to_string(p.Minute) : TwoDigits(p.Minute); break;
      case DateToken::Second: out += t.width == 1 ? std::to_string(p.Second) : TwoDigits(p.Second); break;
      case DateToken::AmPm: {
        const auto slash = t.text.find('/');
        out += p.Hour < 12 ? t.text.substr(0, slash) : t.text.substr(slash + 1);
        break;
      }
      case DateToken::Whole:
        out += t.width == 1 ? FormatGeneralDate(date.Serial) : FormatDateSection(date, t.text, firstDay);
        break;
    }
  }
  return out;
}

// ------------------------------------------------------------------- text --

std::string FormatTextSection(const std::string& value, std::string_view section) {
  struct Piece {
    char placeholder;  // '@', '&' or 0 for a literal
    std::string text;
  };
  std::vector<Piece> pieces;
  bool upper = false, lower = false, leftToRight = false;
  std::size_t placeholders = 0;
  for (std::size_t i = 0; i < section.size(); ++i) {
    const char c = section[i];
    if (c == '"') {
      const auto close = section.find('"', i + 1);
      const auto end = close == std::string_view::npos ? section.size() : close;
      pieces.push_back({0, std::string(section.substr(i + 1, end - i - 1))});
      i = end;
    } else if (c == '\\' && i + 1 < section.size()) {
      pieces.push_back({0, std::string(1, section[++i])});
    } else if (c == '@' || c == '&') {
      pieces.push_back({c, {}});
      ++placeholders;
    } else if (c == '<') {
      lower = true;
      upper = false;
    } else if (c == '>') {
      upper = true;
      lower = false;
    } else if (c == '!') {
      leftToRight = true;
    } else {
      pieces.push_back({0, std::string(1, c)});
    }
  }
  const std::string text = upper ? UCase(value) : lower ? LCase(value) : value;
  std::string out;
  if (placeholders == 0) {
    for (const auto& piece : pieces) out += piece.text;
    return out + text;
  }
  const std::vector<std::string> chars = Characters(text);
  const std::size_t n = chars.size();
  std::size_t k = 0;  // placeholder number, from the left
  for (const auto& piece : pieces) {
    if (!piece.placeholder) {
      out += piece.text;
      continue;
    }
    if (leftToRight) {
      if (k < n) out += chars[k];
      else if (piece.placeholder == '@') out += ' ';
      if (k + 1 == placeholders)
        for (std::size_t extra = placeholders; extra < n; ++extra) out += chars[extra];
    } else {
      const long long index =
          static_cast<long long>(n) - static_cast<long long>(placeholders) + static_cast<long long>(k);
      if (k == 0)
        for (long long extra = 0; extra < index; ++extra) out += chars[static_cast<std::size_t>(extra)];
      if (index >= 0) out += chars[static_cast<std::size_t>(index)];
      else if (piece.placeholder == '@') out += ' ';
    }
    ++k;
  }
  return out;
}

// ----------------------------------------------------------------- driver --

std::optional<std::string> NamedFormat(std::string_view name, const LocaleText& locale) {
  const std::string quoted = "\"" + locale.CurrencySymbol + "\"";
  struct Named {
    const char* name;
    std::string format;
  };
  const Named named[] = {
      {"Currency", quoted + "#,##0.00;(" + quoted + "#,##0.00)"},
      {"Fixed", "0.00"},
      {"Standard", "#,##0.00"},
      {"Percent", "0.00%"},
      {"Scientific", "0.00E+00"},
      {"Long Date", kLongDate},
      {"Medium Date", kMediumDate},
      {"Short Date", kShortDate},
      {"Long Time", kLongTime},
      {"Medium Time", kMediumTime},
      {"Short Time", kShortTime},
  };
  for (const auto& entry : named)
    if (EqualsIgnoringCase(name, entry.name)) return entry.format;
  return std::nullopt;
}

// A number; its general text is the run-time's 15-digit form.
class NumberOperand final : public Operand {
 public:
  explicit NumberOperand(double value) : value_(value) {}
  bool IsNull() const override { return false; }
  std::optional<double> Number() const override { return value_; }
  std::optional<DateValue> AsDate() const override { return DateValue{Date{value_}, std::nullopt}; }
  std::string Text() const override { return FormatGeneral(value_); }

 private:
  double value_;
};

// A date and time; its general text is the general date form.
class DateOperand final : public Operand {
 public:
  explicit DateOperand(const DateValue& value) : value_(value) {}
  bool IsNull() const override { return false; }
  std::optional<double> Number() const override { return value_.Serial.Serial; }
  std::optional<DateValue> AsDate() const override { return value_; }
  std::string Text() const override { return FormatGeneralDate(value_.Serial); }

 private:
  const DateValue& value_;
};

}  // namespace

std::string FormatOperand(const Operand& expression, std::string_view format, std::chrono::weekday firstDay) {
  const int firstDayOfWeek = static_cast<int>(firstDay.c_encoding()) + 1;
  const LocaleText locale = CurrentLocale();
  if (format.empty()) return expression.Text();

  // Named formats that are no custom format.
  if (EqualsIgnoringCase(format, "General Number")) {
    const auto number = expression.Number();
    return expression.IsNull() ? std::string() : number ? FormatGeneral(*number) : expression.Text();
  }
  if (EqualsIgnoringCase(format, "General Date")) {
    if (expression.IsNull()) return {};
    const auto date = expression.AsDate();
    if (!date) return expression.Text();
    InfoOf(*date);  // range check
    return FormatGeneralDate(date->Serial);
  }
  for (const auto* words : {"Yes/No", "True/False", "On/Off"}) {
    if (!EqualsIgnoringCase(format, words)) continue;
    if (expression.IsNull()) return {};
    const auto number = expression.Number();
    if (!number) return expression.Text();
    const std::string_view w(words);
    const auto slash = w.find('/');
    return std::string(*number != 0 ? w.substr(0, slash) : w.substr(slash + 1));
  }
  const std::optional<std::string> named = NamedFormat(format, locale);
  const std::vector<std::string> sections = SplitSections(named ? std::string_view(*named) : format);

  if (expression.IsNull()) return sections.size() >= 4 ? Literals(sections[3]) : std::string();

  switch (Classify(sections[0])) {
    case Mode::Text: {
      const std::string text = expression.Text();
      const bool useSecond = text.empty() && sections.size() >= 2 && !sections[1].empty();
      return FormatTextSection(text, useSecond ? sections[1] : sections[0]);
    }
    case Mode::Date: {
      const auto date = expression.AsDate();
      if (!date) return expression.Text();
      return FormatDateSection(*date, sections[0], firstDayOfWeek);
    }
    case Mode::Number: break;
  }
  const auto number = expression.Number();
  if (!number) return expression.Text();
  const double v = *number;
  if (!std::isfinite(v)) Raise(ERR_Overflow);
  auto section = [&sections](std::size_t k) -> const std::string* {
    return k < sections.size() && !sections[k].empty() ? &sections[k] : nullptr;
  };
  if (v < 0 && section(1)) return FormatNumberSection(v, *section(1), false, locale);
  if (v == 0 && section(2)) return FormatNumberSection(v, *section(2), false, locale);
  return FormatNumberSection(v, sections[0], v < 0, locale);
}

std::string FormatNumber(double value, std::string_view format, std::chrono::weekday firstDay) {
  return FormatOperand(NumberOperand(value), format, firstDay);
}

std::string FormatDate(const DateValue& value, std::string_view format, std::chrono::weekday firstDay) {
  return FormatOperand(DateOperand(value), format, firstDay);
}

}  // namespace qm::format
