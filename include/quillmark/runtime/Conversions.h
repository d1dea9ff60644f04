#pragma once
// Conversions between Variants, numbers, dates and text.
//
// The general conversions follow the process's C locale for the decimal
// separator (as the run-time follows the user's locale); the invariant pair
// (`WriteInvariantNumber`, `Val`) never depends on the locale.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "quillmark/runtime/Text.h"
#include "quillmark/runtime/Variant.h"

namespace qm {

/// Up to 15 significant digits, shortest form, exponent as 1E+20 / 1.5E-07.
std::string FormatGeneral(double value);
/// The same for Single values (7 significant digits).
std::string FormatGeneralSingle(float value);
/// yyyy-mm-dd hh:mm:ss; the date alone when the time is 0, the time alone when the date is 0.
std::string FormatGeneralDate(Date value);

/// The locale-independent number writer: "." as decimal point and a leading
/// blank for non-negative numbers (" 3.5", "-3.5", " 0").
std::string WriteInvariantNumber(double value);
/// The locale-independent reader: the longest numeric prefix (blanks, tabs
/// and line feeds are skipped; &H and &O prefixes read hex and octal); 0 when none.
double Val(std::string_view text);

/// Parses text as a number in the current locale; false when it is no number.
bool TryParseNumber(std::string_view text, double& out);
/// Parses the general date text (and a few common forms); false when it is no date.
bool TryParseDate(std::string_view text, Date& out);

std::string CStr(const Variant& v);
double CDbl(const Variant& v);
float CSng(const Variant& v);
std::int32_t CLng(const Variant& v);   // round half to even; 6 on overflow; 13 for text that is no number
std::int16_t CInt(const Variant& v);
std::uint8_t CByte(const Variant& v);
bool CBool(const Variant& v);
Date CDate(const Variant& v);

/// Round half to even, as the run-time's integer conversions do.
double RoundHalfEven(double value);

/// Date parts, from a serial.
struct DateParts {
  int Year, Month, Day, Hour, Minute, Second;
};
DateParts SplitDate(Date value);
Date MakeDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
/// Today's date and the time now, local time.
Date Now();

/// Text helpers that count Unicode code points, as the run-time counts characters.
std::size_t CharLength(std::string_view utf8);
std::string CharLeft(std::string_view utf8, std::size_t count);
std::string CharMid(std::string_view utf8, std::size_t start1, std::size_t count = std::string::npos);
std::string Trim(std::string_view text);
/// UTF-8 text split into its characters (one code point's bytes each).
std::vector<std::string> Characters(std::string_view utf8);
/// `text` with every occurrence of `what` replaced by `with`.
std::string ReplaceAll(std::string text, std::string_view what, std::string_view with);

/// UTF-8 to ISO-8859-1, one byte per character; code points above 255 become '?'.
std::string ToLatin1(std::string_view utf8);
/// ISO-8859-1 bytes to UTF-8.
std::string FromLatin1(std::string_view latin1);

}  // namespace qm
