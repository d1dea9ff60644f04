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

#include "quillmark/Export.h"
#include "quillmark/values/Text.h"
#include "quillmark/values/Variant.h"

namespace qm {

/// Up to 15 significant digits, shortest form, exponent as 1E+20 / 1.5E-07.
QUILLMARK_EXPORT std::string FormatGeneral(double value);
/// The same for Single values (7 significant digits).
QUILLMARK_EXPORT std::string FormatGeneralSingle(float value);
/// yyyy-mm-dd hh:mm:ss; the date alone when the time is 0, the time alone when the date is 0.
QUILLMARK_EXPORT std::string FormatGeneralDate(Date value);

/// The locale-independent number writer: "." as decimal point and a leading
/// blank for non-negative numbers (" 3.5", "-3.5", " 0").
QUILLMARK_EXPORT std::string WriteInvariantNumber(double value);
/// The locale-independent reader: the longest numeric prefix (blanks, tabs
/// and line feeds are skipped; &H and &O prefixes read hex and octal); 0 when none.
QUILLMARK_EXPORT double Val(std::string_view text);

/// Parses text as a number in the current locale; false when it is no number.
QUILLMARK_EXPORT bool TryParseNumber(std::string_view text, double& out);
/// Parses the general date text (and a few common forms); false when it is no date.
QUILLMARK_EXPORT bool TryParseDate(std::string_view text, Date& out);

///@{
/// The run-time's conversion functions. Numbers from text read in the current
/// locale; the integer conversions round half to even. Raises 13 (Type
/// mismatch) for text that is no number (no date for CDate), for objects and
/// arrays; 94 (Invalid use of Null) for Null; 6 (Overflow) when the value is
/// outside the target's range (Integer -32768 to 32767, Byte 0 to 255, Long
/// and Single theirs). Empty converts to 0, "", False.
QUILLMARK_EXPORT std::string CStr(const Variant& v);
QUILLMARK_EXPORT double CDbl(const Variant& v);
QUILLMARK_EXPORT float CSng(const Variant& v);
QUILLMARK_EXPORT std::int32_t CLng(const Variant& v);
QUILLMARK_EXPORT std::int16_t CInt(const Variant& v);
QUILLMARK_EXPORT std::uint8_t CByte(const Variant& v);
QUILLMARK_EXPORT bool CBool(const Variant& v);
QUILLMARK_EXPORT Date CDate(const Variant& v);
///@}

/// Round half to even, as the run-time's integer conversions do.
QUILLMARK_EXPORT double RoundHalfEven(double value);

/// Date parts, from a serial.
struct QUILLMARK_EXPORT DateParts {
  int Year;    ///< The year of the Gregorian calendar.
  int Month;   ///< 1 to 12.
  int Day;     ///< 1 to 31.
  int Hour;    ///< 0 to 23.
  int Minute;  ///< 0 to 59.
  int Second;  ///< 0 to 59 (the fraction is rounded to the nearest second).
};
/// The calendar date and time of day of a serial.
QUILLMARK_EXPORT DateParts SplitDate(Date value);
/// The serial of a calendar date and time of day (no range check: months and
/// days beyond their ends carry into the next).
QUILLMARK_EXPORT Date MakeDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
/// Today's date and the time now, local time.
QUILLMARK_EXPORT Date Now();

/// Text helpers that count Unicode code points, as the run-time counts characters
/// (a byte that is no part of a valid UTF-8 character counts as one).
QUILLMARK_EXPORT std::size_t CharLength(std::string_view utf8);
/// The first `count` characters (all of them when there are fewer).
QUILLMARK_EXPORT std::string CharLeft(std::string_view utf8, std::size_t count);
/// `count` characters from the 1-based character `start1` on (to the end when
/// `count` is npos or runs past it); "" when start1 is past the end.
QUILLMARK_EXPORT std::string CharMid(std::string_view utf8, std::size_t start1, std::size_t count = std::string::npos);
/// The text without leading and trailing blanks (spaces only, not tabs).
QUILLMARK_EXPORT std::string Trim(std::string_view text);
/// UTF-8 text split into its characters (one code point's bytes each).
QUILLMARK_EXPORT std::vector<std::string> Characters(std::string_view utf8);
/// `text` with every occurrence of `what` replaced by `with`.
QUILLMARK_EXPORT std::string ReplaceAll(std::string text, std::string_view what, std::string_view with);

/// UTF-8 to ISO-8859-1, one byte per character; code points above 255 become
/// '?', and so does each run of bytes that is not valid UTF-8 (DecodeUtf8).
QUILLMARK_EXPORT std::string ToLatin1(std::string_view utf8);
/// ISO-8859-1 bytes to UTF-8.
QUILLMARK_EXPORT std::string FromLatin1(std::string_view latin1);

}  // namespace qm
