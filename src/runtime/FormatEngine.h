#pragma once
// The format engine: named formats, sections and placeholders over a value
// that answers what it is as a number, as a date and as text. The typed
// Format overloads hand it a double or a calendar date and time directly;
// the Variant Format decides by the Variant's type which value it hands over.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "quillmark/values/Conversions.h"

namespace qm::format {

/// A date and time as the date placeholders read it: the serial (what a
/// number format shows of it) and, when the caller has them, its calendar
/// parts, which then are not split from the serial again.
struct DateValue {
  Date Serial;                     ///< days since 1899-12-30, the time as the fraction
  std::optional<DateParts> Parts;  ///< the calendar parts of Serial, when known
};

/// What the engine asks of a value. Each answer is asked for only by the
/// formats that need it, so a value computes nothing it is not asked for.
class Operand {
 public:
  Operand() = default;
  Operand(const Operand&) = delete;
  Operand& operator=(const Operand&) = delete;

  /// Whether the value is Null (the fourth section's case).
  virtual bool IsNull() const = 0;
  /// The value as a number; nothing for text that reads as no number.
  virtual std::optional<double> Number() const = 0;
  /// The value as a date; nothing for text that reads as no date or number.
  virtual std::optional<DateValue> AsDate() const = 0;
  /// The value's general text (an empty format's result).
  virtual std::string Text() const = 0;

 protected:
  ~Operand() = default;
};

/// Formats any value the engine can ask (see Operand). `firstDay` drives the
/// w and ww placeholders; it must be a valid weekday.
std::string FormatOperand(const Operand& value, std::string_view format, std::chrono::weekday firstDay);

/// Formats a number: what a Variant holding the double gives.
std::string FormatNumber(double value, std::string_view format, std::chrono::weekday firstDay);

/// Formats a date and time: what a Variant holding the serial gives.
/// Dates outside the years 100 to 9999 raise 6 where a date format reads them.
std::string FormatDate(const DateValue& value, std::string_view format, std::chrono::weekday firstDay);

}  // namespace qm::format
