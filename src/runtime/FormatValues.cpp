// Format over standard types: each value becomes the Variant it stands for.

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/runtime/Format.h"
#include "quillmark/values/Conversions.h"

namespace qm {

std::string Format(double value, std::string_view format) { return Format(Variant(value), format); }

namespace {

// The published first day of the week (1 Sunday to 7 Saturday); 5 for a
// weekday that is none.
VbDayOfWeek FirstDay(std::chrono::weekday day) {
  if (!day.ok())
    RaiseFrom(ERR_InvalidProcedureCall, frame::DefaultSource("Format"),
              DescribeError(ERR_InvalidProcedureCall, "no such weekday"));
  return static_cast<VbDayOfWeek>(day.c_encoding() + 1);
}

}  // namespace

std::string Format(std::chrono::local_seconds when, std::string_view format, std::chrono::weekday firstDay) {
  const auto day = std::chrono::floor<std::chrono::days>(when);
  const std::chrono::year_month_day date(day);
  const std::chrono::hh_mm_ss time(when - day);
  const Date serial =
      MakeDate(static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
               static_cast<int>(static_cast<unsigned>(date.day())), static_cast<int>(time.hours().count()),
               static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
  return Format(Variant(serial), format, FirstDay(firstDay));
}

std::string Format(std::chrono::year_month_day date, std::string_view format, std::chrono::weekday firstDay) {
  if (!date.ok())
    RaiseFrom(ERR_InvalidProcedureCall, frame::DefaultSource("Format"),
              DescribeError(ERR_InvalidProcedureCall, "no such date"));
  return Format(std::chrono::local_days(std::chrono::sys_days(date).time_since_epoch()), format, firstDay);
}

}  // namespace qm
