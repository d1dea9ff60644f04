#pragma once
// The run-time's format function: a value as text under a format.
//
// Named formats (case-insensitive):
//   numbers  "General Number", "Currency", "Fixed", "Standard", "Percent",
//            "Scientific", "Yes/No", "True/False", "On/Off"
//   dates    "General Date", "Long Date", "Medium Date", "Short Date",
//            "Long Time", "Medium Time", "Short Time"
//
// Custom formats have up to four sections separated by ';' (positive, negative,
// zero, Null) and use
//   numbers  0 # . , % E+ E- e+ e-
//   dates    d dd ddd dddd ddddd dddddd w ww m mm mmm mmmm q y yy yyyy
//            h hh n nn s ss ttttt c AM/PM am/pm A/P a/p AMPM / :
//   text     @ & < > !
// and show literally "quoted text", \c, and the characters $ + - ( ) and blank.
//
// Decimal point, thousands separator and currency symbol are the C locale's
// ("." and "," unless the process changed them; "$" when the locale has no
// currency symbol). Month and day names are English. An empty format gives
// the value's general text.

#include <cstdint>
#include <string>
#include <string_view>

#include "quillmark/Export.h"
#include "quillmark/runtime/FormatValues.h"
#include "quillmark/values/Variant.h"

namespace qm {

/// Days of the week as the run-time numbers them (Sunday 1), for the first day of a week.
enum VbDayOfWeek : std::int32_t {
  vbSunday = 1,
  vbMonday = 2,
  vbTuesday = 3,
  vbWednesday = 4,
  vbThursday = 5,
  vbFriday = 6,
  vbSaturday = 7,
};

/// Formats `expression` with `format`. `firstDayOfWeek` drives the w and ww
/// placeholders; week 1 is the week that holds 1 January. Dates outside the
/// years 100 to 9999 raise 6 (Overflow); a first day outside 1 to 7 raises 5.
QUILLMARK_EXPORT std::string Format(const Variant& expression, std::string_view format = {},
                                    VbDayOfWeek firstDayOfWeek = vbSunday);

}  // namespace qm
