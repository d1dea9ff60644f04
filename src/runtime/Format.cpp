// The published Format: checks its arguments and hands the value to the
// format engine by the Variant's type. Numbers and dates take the typed
// engine's entries; text, Empty, Null and Booleans answer through the
// run-time's conversions.

#include "quillmark/runtime/Format.h"

#include <optional>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/values/Conversions.h"
#include "runtime/FormatEngine.h"

namespace qm {
namespace {

// A Variant of a type with no typed entry: text (read as a number or a date
// where the format asks for one), Empty (0, the serial 0 and ""), Null and
// Booleans (-1 and 0, "True" and "False") and Single values (their 7-digit text).
class VariantOperand final : public format::Operand {
 public:
  explicit VariantOperand(const Variant& value) : value_(value) {}

  bool IsNull() const override { return value_.IsNull(); }

  std::optional<double> Number() const override {
    if (value_.IsEmpty()) return 0.0;
    if (value_.IsString()) {
      double number = 0;
      if (TryParseNumber(value_.String(), number)) return number;
      return std::nullopt;
    }
    return CDbl(value_);
  }

  std::optional<format::DateValue> AsDate() const override {
    if (value_.IsEmpty()) return format::DateValue{Date{0}, std::nullopt};
    if (value_.IsString()) {
      Date date;
      if (TryParseDate(value_.String(), date)) return format::DateValue{date, std::nullopt};
      double number = 0;
      if (TryParseNumber(value_.String(), number)) return format::DateValue{Date{number}, std::nullopt};
      return std::nullopt;
    }
    return format::DateValue{Date{CDbl(value_)}, std::nullopt};
  }

  std::string Text() const override {
    if (value_.IsNull() || value_.IsEmpty()) return {};
    return CStr(value_);
  }

 private:
  const Variant& value_;
};

// The number a Variant of a numeric type holds whose general text is that of
// the double (Double, Integer, Long, Byte, Currency); nothing for others.
std::optional<double> TypedNumber(const Variant& value) {
  if (const auto* number = value.GetIf<double>()) return *number;
  if (const auto* number = value.GetIf<std::int32_t>()) return *number;
  if (const auto* number = value.GetIf<std::int16_t>()) return *number;
  if (const auto* number = value.GetIf<std::uint8_t>()) return *number;
  if (const auto* money = value.GetIf<Currency>()) return static_cast<double>(money->Scaled) / 10000.0;
  return std::nullopt;
}

}  // namespace

std::string Format(const Variant& expression, std::string_view format, VbDayOfWeek firstDayOfWeek) {
  if (firstDayOfWeek < vbSunday || firstDayOfWeek > vbSaturday) Raise(ERR_InvalidProcedureCall);
  if (expression.IsObject() || expression.IsArray()) Raise(ERR_TypeMismatch);
  const std::chrono::weekday firstDay(static_cast<unsigned>(firstDayOfWeek - vbSunday));
  if (const auto number = TypedNumber(expression)) return format::FormatNumber(*number, format, firstDay);
  if (const auto* date = expression.GetIf<Date>())
    return format::FormatDate(format::DateValue{*date, std::nullopt}, format, firstDay);
  return format::FormatOperand(VariantOperand(expression), format, firstDay);
}

}  // namespace qm
