#pragma once

/// @file
/// Numbers and dates as text under a format, over standard types.
///
///     qm::Format(1234.5, "#,##0.00");                               // "1,234.50"
///     qm::Format(2024y / March / 3, "ww", std::chrono::Monday);     // week number
///
/// The formats are those of qm::Format for Variants (quillmark/runtime/Format.h
/// lists them): named formats such as "Currency" or "Long Date", and custom
/// ones of up to four sections. Decimal point, thousands separator and
/// currency symbol are the C locale's; month and day names are English.
///
/// The number or the date goes to the format engine as it is; qm::Format for
/// Variants hands its numbers and dates to the same engine, so both give the
/// same text and errors.

#include <chrono>
#include <string>
#include <string_view>

#include "quillmark/Export.h"

namespace qm {

/// Formats a number.
QUILLMARK_EXPORT std::string Format(double value, std::string_view format = {});

/// Formats a local date and time (to the second); the time of day is 0 for a
/// date alone. `firstDay` drives the w and ww placeholders; week 1 is the week
/// that holds 1 January. Dates outside the years 100 to 9999 raise 6
/// (Overflow); a date that does not exist (30 February) or a weekday that is
/// none (std::chrono::weekday{9}) raises 5.
QUILLMARK_EXPORT std::string Format(std::chrono::local_seconds when, std::string_view format = {},
                                    std::chrono::weekday firstDay = std::chrono::Sunday);

/// Formats a date, as the local date at midnight.
QUILLMARK_EXPORT std::string Format(std::chrono::year_month_day date, std::string_view format = {},
                                    std::chrono::weekday firstDay = std::chrono::Sunday);

}  // namespace qm
