#pragma once

/// @file
/// Tables to spreadsheet workbooks, over standard types.
///
/// Typed sheets keep what makes them a spreadsheet: numbers with their number
/// format, real date cells, Booleans, column widths, a frozen header row, and
/// several named sheets in one workbook:
///
///     using namespace std::chrono;
///     std::vector<qm::Sheet> book(1);
///     book[0].Name = "Orders";
///     book[0].Rows = {{"day", "amount", "paid"},
///                     {2024y / March / 3, qm::Cell(1234.5, "#,##0.00"), true},
///                     {2024y / March / 4, qm::Cell::Number("-4.0"), false}};
///     book[0].FitColumns = true;
///     book[0].FreezeHeader = true;
///     qm::WriteWorkbook("orders.xlsx", book);
///
/// Tables of strings or numbers go in as the published export writes them:
///
///     qm::WriteWorkbook("prices.xlsx", {{"item", "price"}, {"tea", "2.5"}});
///
/// These fill a worksheet with the cells as given and write it with the writer
/// qm::Exporter::ExportArrayToExcel uses, without its Variant table and text
/// import: text that reads as a number becomes a number cell in the General
/// format, TRUE and FALSE Booleans, and a cell holding a TAB or a double quote
/// stays one cell as it is. General shows a number without the zeros its text
/// had: "-4.0" shows as -4 and "2.50" as 2.5 (a qm::Cell::Number keeps them).
/// Numbers keep 16 significant digits, whatever the locale. They raise the
/// writer's errors (75 for a workbook that cannot be written; 9999 with
/// errc::too_large for a table larger than a worksheet; 76 "Path not found:
/// <folder>", errc::not_found, when its folder is missing). Rows may differ in
/// length: the shorter ones end in empty cells. A cell holding a line break
/// raises 5 "Invalid procedure call or argument: a cell holds a line break"
/// before anything is written, as the published export would split it into
/// rows.

#include <chrono>
#include <concepts>
#include <cstddef>
#include <filesystem>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quillmark/Export.h"

namespace qm {

/// One cell of a qm::Sheet: empty, a text, a number with its number format, a
/// date (with or without a time of day) with its format, or a Boolean.
///
/// A number format is a spreadsheet's format code: "0.0", "#,##0.00", "0%",
/// "yyyy-mm-dd"; "" is General. A date is written as a date cell (the day's
/// serial number under a date format), so the spreadsheet sorts and computes
/// with it. Dates run from 1900-01-01 to 9999-12-31, the range of a workbook;
/// dates before 1900-03-01 get the serial a spreadsheet program gives them
/// (it counts a 29 February 1900).
class QUILLMARK_EXPORT Cell {
 public:
  /// What a cell holds.
  enum class Kind { Empty, Text, Number, Date, Boolean };

  /// The format a date without a time of day gets.
  static constexpr std::string_view kDateFormat = "yyyy-mm-dd";
  /// The format a date with a time of day gets.
  static constexpr std::string_view kDateTimeFormat = "yyyy-mm-dd hh:mm:ss";

  /// An empty cell.
  Cell() = default;
  /// A text cell, whatever the text reads as ("007" stays text). A text may
  /// hold line breaks (the cell wraps); bytes that are no UTF-8 read as
  /// ISO-8859-1. An empty text is an empty cell.
  Cell(std::string text);
  /// A text cell (see above); a null pointer is an empty cell.
  Cell(const char* text);
  /// A number shown under `format` ("" is General). NaN and the infinities
  /// have no number cell: they are written as the text General shows.
  Cell(double number, std::string format = {});
  /// A whole number (a workbook holds it as a double: beyond 2^53 it is rounded).
  template <class Integer>
  requires std::integral<Integer> &&
      (!std::same_as<Integer, bool>)&&(!std::same_as<Integer, char>)&&(!std::same_as<Integer, wchar_t>)&&(
          !std::same_as<Integer, char8_t>)&&(!std::same_as<Integer, char16_t>)&&(!std::same_as<Integer, char32_t>)
          Cell(Integer number, std::string format = {})
      : Cell(static_cast<double>(number), std::move(format)) {}
  /// A Boolean cell (TRUE or FALSE).
  Cell(bool value);
  /// A date, or a date and time, as a date cell under `format` (kDateFormat
  /// for whole days, kDateTimeFormat for a time of day when "" is given). A
  /// time of the system clock is written as its UTC date and time.
  template <class Duration>
  Cell(std::chrono::sys_time<Duration> when, std::string format = {})
      : Cell(DaysSince1970(when.time_since_epoch()), Kind::Date,
             Defaulted(std::move(format), std::same_as<Duration, std::chrono::days>)) {}
  /// A local date and time as a date cell (see above).
  template <class Duration>
  Cell(std::chrono::local_time<Duration> when, std::string format = {})
      : Cell(DaysSince1970(when.time_since_epoch()), Kind::Date,
             Defaulted(std::move(format), std::same_as<Duration, std::chrono::days>)) {}
  /// A calendar date as a date cell (kDateFormat when "" is given). A date
  /// that does not exist (30 February) raises 5 when the workbook is written.
  Cell(std::chrono::year_month_day date, std::string format = {});

  /// The cell a text stands for under the General format, as the tables of
  /// strings are written: a decimal number (sign, digits, point, exponent;
  /// blanks around it allowed) becomes a number without format ("-4.0" is
  /// the number -4, shown as -4), TRUE and FALSE in any case Booleans, ""
  /// an empty cell, any other text a text cell.
  static Cell General(std::string_view text);
  /// A number written as text, shown as it was written: with `format` when
  /// one is given, otherwise with the decimals the text has ("-4.0" shows as
  /// -4.0 under "0.0", "2.50" under "0.00", "12" under "0", "1.5e3" under
  /// "0.0E+00"). Raises 13 (Type mismatch) when the text reads as no number.
  static Cell Number(std::string_view text, std::string format = {});

  /// What the cell holds.
  Kind Type() const noexcept { return kind_; }
  /// The text of a text cell, the date as given for a date that does not
  /// exist; "" for the others.
  const std::string& Text() const noexcept { return text_; }
  /// The number of a number cell, 1 or 0 for a Boolean, and for a date its
  /// days since 1970-01-01 (a fraction is the time of day); NaN for a date
  /// that does not exist.
  double Value() const noexcept { return value_; }
  /// The number format of a number or date cell ("" is General).
  const std::string& Format() const noexcept { return format_; }

 private:
  Cell(double value, Kind kind, std::string format);
  template <class Rep, class Period>
  static double DaysSince1970(std::chrono::duration<Rep, Period> since) {
    return std::chrono::duration<double, std::chrono::days::period>(since).count();
  }
  static std::string Defaulted(std::string format, bool wholeDays) {
    if (format.empty()) format = wholeDays ? kDateFormat : kDateTimeFormat;
    return format;
  }

  Kind kind_ = Kind::Empty;
  double value_ = 0;
  std::string text_;  // a text cell's text; for a date that does not exist, the date as given
  std::string format_;
};

/// One worksheet of a workbook.
struct Sheet {
  /// The sheet's name: at most 31 characters, none of `[ ] : * ? / \`, not
  /// beginning or ending with an apostrophe, unique in the workbook
  /// (whatever the case of its letters). "" gives "Sheet1", "Sheet2" ... by
  /// the sheet's place.
  std::string Name{};
  /// The rows, from row 1; each from column A. Rows may differ in length.
  std::vector<std::vector<Cell>> Rows{};
  /// Column widths, from column A, in characters of the default font (0 to
  /// 255). A column without a width here, or given 0, gets the default width,
  /// or, with FitColumns, the width of its widest cell.
  std::vector<double> ColumnWidths{};
  /// Columns without a width of their own fit their widest cell (as shown
  /// under its format, one character to spare).
  bool FitColumns = false;
  /// The first row stays in view as the sheet scrolls.
  bool FreezeHeader = false;
};

/// Writes the sheets, in order, as a workbook named `file` (replaced); no
/// sheets gives a workbook of one empty sheet. Everything is checked before
/// the file is made, and a wrong sheet or cell raises 5 (Invalid procedure
/// call or argument, errc::invalid_argument) naming it ("Orders!B3: ...",
/// "the sheet name "a/b" ..."): a bad sheet name, a width outside 0 to 255, a
/// date outside 1900 to 9999 or that does not exist, a number format of more
/// than 255 characters. A sheet larger than a worksheet (1048576 rows, 16384
/// columns) or a text of more than 32767 characters raises 9999 with
/// errc::too_large. A missing folder raises 76 and a workbook that cannot be
/// written 75, as for the tables below. A list of sheets in place goes in
/// double braces: `qm::WriteWorkbook(file, {{orders, totals}})`.
QUILLMARK_EXPORT void WriteWorkbook(const std::filesystem::path& file, std::span<const Sheet> sheets);

/// Writes the rows of text as a workbook named `file` (replaced).
QUILLMARK_EXPORT void WriteWorkbook(const std::filesystem::path& file,
                                    const std::vector<std::vector<std::string>>& rows);

/// Writes the rows of numbers as a workbook named `file` (replaced).
QUILLMARK_EXPORT void WriteWorkbook(const std::filesystem::path& file, const std::vector<std::vector<double>>& rows);

/// A table written in place, `{{"item", "price"}}` or `{{1.5}}`. These pick the
/// overload by the cells' type; without them a row of two texts would also read
/// as a range of numbers, and a row of one number as a row of texts.
///@{
QUILLMARK_EXPORT void WriteWorkbook(const std::filesystem::path& file,
                                    std::initializer_list<std::initializer_list<std::string>> rows);
QUILLMARK_EXPORT void WriteWorkbook(const std::filesystem::path& file,
                                    std::initializer_list<std::initializer_list<double>> rows);
///@}

/// The size of an imported table: its rows, and the cells of its longest row.
struct TableSize {
  std::size_t Rows = 0;     ///< rows imported
  std::size_t Columns = 0;  ///< cells of the longest row
};

/// Imports the tab-separated text file `text` the way qm::Exporter imports
/// its tables and writes it as a workbook named `file` (replaced). Each line
/// is a row and each TAB-separated field a cell; the double quote is the text
/// qualifier, as in a spreadsheet program: `"a<TAB>b"` is one cell, `""` in a
/// quoted cell is one quote, a line break inside quotes stays in the cell,
/// `"ab"c` reads as `abc` and an unclosed quote runs to the end of the text.
/// Bytes that are not UTF-8 read as ISO-8859-1. Raises 53 "File not found"
/// when `text` cannot be read, 58000 when the workbook cannot be written, and
/// an error naming the limit when the table does not fit a worksheet (more
/// than 1048576 rows or 16384 columns, a cell over 32767 characters).
QUILLMARK_EXPORT TableSize WriteWorkbookFromText(const std::filesystem::path& file, const std::filesystem::path& text);

}  // namespace qm
