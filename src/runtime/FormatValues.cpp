// Format over standard types: numbers and calendar dates go to the format
// engine as they are, without a Variant.

#include "quillmark/runtime/FormatValues.h"

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/values/Conversions.h"
#include "runtime/FormatEngine.h"

namespace qm {
namespace {

// The first day of the week, refused when it is no weekday.
std::chrono::weekday FirstDay(std::chrono::weekday day) {
  if (!day.ok())
    RaiseFrom(ERR_InvalidProcedureCall, frame::DefaultSource("Format"),
              DescribeError(ERR_InvalidProcedureCall, "no such weekday"));
  return day;
}

}  // namespace

std::string Format(double value, std::string_view format) {
  return format::FormatNumber(value, format, std::chrono::Sunday);
}

std::string Format(std::chrono::local_seconds when, std::string_view format, std::chrono::weekday firstDay) {
  const auto day = std::chrono::floor<std::chrono::days>(when);
  const std::chrono::year_month_day date(day);
  const std::chrono::hh_mm_ss time(when - day);
  const DateParts parts{static_cast<int>(date.year()),
                        static_cast<int>(static_cast<unsigned>(date.month())),
                        static_cast<int>(static_cast<unsigned>(date.day())),
                        static_cast<int>(time.hours().count()),
                        static_cast<int>(time.minutes().count()),
                        static_cast<int>(time.seconds().count())};
  // The serial is what number formats and the general date text show; the
  // date placeholders read the parts as given.
  const format::DateValue value{MakeDate(parts.Year, parts.Month, parts.Day, parts.Hour, parts.Minute, parts.Second),
                                parts};
  return format::FormatDate(value, format, FirstDay(firstDay));
}

std::string Format(std::chrono::year_month_day date, std::string_view format, std::chrono::weekday firstDay) {
  if (!date.ok())
    RaiseFrom(ERR_InvalidProcedureCall, frame::DefaultSource("Format"),
              DescribeError(ERR_InvalidProcedureCall, "no such date"));
  return Format(std::chrono::local_days(std::chrono::sys_days(date).time_since_epoch()), format, firstDay);
}

}  // namespace qm
