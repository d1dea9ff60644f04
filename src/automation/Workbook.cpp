#include "quillmark/automation/Workbook.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <set>

#include "automation/Spreadsheet.h"
#include "frame/FileErrors.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/runtime/FormatValues.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Text.h"

namespace qm {
namespace {

// Workbooks the typed calls write are not opened in the desktop's spreadsheet
// program: that is the published export's visible application.
constexpr bool kHidden = false;

// The format SaveAs is asked for (every workbook is written as .xlsx).
constexpr std::int32_t kNormalWorkbook = -4143;

// A text cell as the sheet holds it. It goes into the sheet as it is (TABs and
// quotes included); bytes that are no UTF-8 read as ISO-8859-1, as the
// export's text import reads them.
std::string TextCell(const std::string& text) {
  if (text.find_first_of("\r\n") != std::string::npos)
    RaiseFrom(ERR_InvalidProcedureCall, frame::DefaultSource("Workbook"),
              DescribeError(ERR_InvalidProcedureCall, "a cell holds a line break"));
  return spreadsheet::AsUtf8(text);
}

// A number cell as the sheet holds it: the shortest text that reads back as
// the same double, whatever the locale, so the General rule makes it that
// number. Infinities and NaN have no number cell and stay their general text;
// -0 is 0, as the general text has it.
std::string NumberCell(double value) {
  if (!std::isfinite(value)) return FormatGeneral(value);
  if (value == 0) return "0";
  std::array<char, 32> text{};
  const auto written = std::to_chars(text.data(), text.data() + text.size(), value);
  return std::string(text.data(), written.ptr);
}

// The rows as a sheet named after the workbook, then the workbook written
// through the spreadsheet model the export drives.
template <class Value, class Convert>
void Write(const std::filesystem::path& file, const std::vector<std::vector<Value>>& rows, Convert convert) {
  spreadsheet::Sheet sheet;
  sheet.Name = file.string();
  sheet.Rows.reserve(rows.size());
  for (const auto& row : rows) {
    std::vector<std::string>& cells = sheet.Rows.emplace_back();
    cells.reserve(row.size());
    for (const Value& cell : row) cells.push_back(convert(cell));
  }
  try {
    QM_FRAME_TRY { spreadsheet::Workbook(std::move(sheet), kHidden).SaveAs(file.string(), kNormalWorkbook, false); }
    QM_FRAME_CATCH("Workbook", "Public Sub WriteWorkbook", file.string());
  } catch (...) {
    frame::RethrowForTarget(file);
  }
}

constexpr std::size_t kMaxCellText = 32767;  // characters a worksheet cell holds
constexpr std::size_t kMaxFormatText = 255;  // characters of a number format
constexpr std::size_t kMaxSheetName = 31;    // characters of a sheet name
constexpr double kMaxColumnWidth = 255;      // characters
constexpr double kSerialOf1970 = 25569;      // the serial of 1970-01-01: days since 1899-12-30
constexpr double kSerialOf10000 = 2958466;   // the serial of 10000-01-01, the first date past a workbook

// A date as text, for messages.
std::string DateText(std::chrono::year_month_day date) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%04d-%02u-%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  return text.data();
}

// A column's letters, "B" for 1, for messages.
std::string Letters(std::size_t column) {
  std::string letters;
  for (std::size_t c = column + 1; c > 0; c = (c - 1) / 26) letters.insert(letters.begin(), char('A' + (c - 1) % 26));
  return letters;
}

// A cell's place, "Orders!B3", for messages.
std::string Where(const std::string& sheet, std::size_t row, std::size_t column) {
  return sheet + "!" + Letters(column) + std::to_string(row + 1);
}

[[noreturn]] void Refuse(const std::string& what) {
  Raise(ERR_InvalidProcedureCall, errc::invalid_argument, DescribeError(ERR_InvalidProcedureCall, what));
}

// The name of the sheet at `index` (0-based), checked as a spreadsheet
// program checks it; `taken` holds the names before it, case folded.
std::string SheetName(const Sheet& sheet, std::size_t index, std::set<std::string>& taken) {
  const std::string name = sheet.Name.empty() ? "Sheet" + std::to_string(index + 1) : spreadsheet::AsUtf8(sheet.Name);
  const std::string quoted = "the sheet name \"" + name + "\"";
  if (CharLength(name) > kMaxSheetName) Refuse(quoted + " has more than 31 characters");
  if (name.find_first_of(std::string_view("[]:*?/\\\0", 8)) != std::string::npos)
    Refuse(quoted + " holds a character a sheet name may not hold ([]:*?/\\)");
  if (name.front() == '\'' || name.back() == '\'') Refuse(quoted + " begins or ends with an apostrophe");
  if (FoldCase(name) == "history") Refuse(quoted + " is reserved by spreadsheet programs");
  if (!taken.insert(FoldCase(name)).second) Refuse(quoted + " is used by an earlier sheet");
  return name;
}

// A date cell's serial number: days since 1899-12-30, less one before
// 1900-03-01, where spreadsheet programs count a 29 February 1900. None for a
// date that does not exist or lies outside the years 1900 to 9999.
std::optional<double> Serial(const Cell& date) {
  const double serial = date.Value() + kSerialOf1970;
  if (!(serial >= 2 && serial < kSerialOf10000)) return std::nullopt;  // NaN included
  return serial < 61 ? serial - 1 : serial;
}

[[noreturn]] void RefuseDate(const Cell& date, const std::string& where) {
  if (std::isnan(date.Value())) Refuse(where + ": the date " + date.Text() + " does not exist");
  const double days = std::clamp(date.Value(), -1e7, 1e7);
  const std::chrono::year_month_day day{std::chrono::sys_days{std::chrono::days{std::llround(std::floor(days))}}};
  Refuse(where + ": the date " + DateText(day) + " is outside 1900-01-01 to 9999-12-31, the dates of a workbook");
}

// The characters a cell shows under its format, to fit its column: the
// longest line of a text; a number or date formatted by the library's
// format engine (its codes are a spreadsheet's for common formats; for
// others, the format's own length stands in).
std::size_t ShownLength(const Cell& cell) {
  switch (cell.Type()) {
    case Cell::Kind::Empty: return 0;
    case Cell::Kind::Boolean: return 5;  // FALSE
    case Cell::Kind::Text: {
      std::size_t longest = 0;
      std::string_view text = cell.Text();
      for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        longest = std::max(longest, CharLength(text.substr(start, end - start)));
        start = end + 1;
      }
      return longest;
    }
    case Cell::Kind::Number:
      if (cell.Format().empty() || !std::isfinite(cell.Value())) return NumberCell(cell.Value()).size();
      break;
    case Cell::Kind::Date: break;
  }
  try {
    if (cell.Type() == Cell::Kind::Number) return CharLength(qm::Format(cell.Value(), cell.Format()));
    const auto seconds = std::chrono::seconds{std::llround(cell.Value() * 86400)};
    return CharLength(qm::Format(std::chrono::local_seconds{seconds}, cell.Format()));
  } catch (const Error&) {
    return CharLength(cell.Format());
  }
}

// A sheet checked and measured before anything is written.
struct Plan {
  std::string Name;
  std::vector<double> Widths;  // 0: the default width
};

Plan Check(const Sheet& sheet, std::size_t index, std::set<std::string>& taken) {
  Plan plan{SheetName(sheet, index, taken), {}};
  if (sheet.Rows.size() > LXW_ROW_MAX)
    Raise(ERR_General, errc::too_large, "The sheet " + plan.Name + " has more rows than a worksheet holds (1048576)");
  for (std::size_t c = 0; c < sheet.ColumnWidths.size(); ++c) {
    const double width = sheet.ColumnWidths[c];
    if (!(width >= 0 && width <= kMaxColumnWidth))
      Refuse(plan.Name + "!" + Letters(c) + ": the column width " + FormatGeneral(width) + " is outside 0 to 255");
  }
  plan.Widths = sheet.ColumnWidths;
  for (std::size_t r = 0; r < sheet.Rows.size(); ++r) {
    const auto& row = sheet.Rows[r];
    if (row.size() > LXW_COL_MAX)
      Raise(ERR_General, errc::too_large,
            "The sheet " + plan.Name + " has more columns than a worksheet holds (16384) in row " +
                std::to_string(r + 1));
    if (sheet.FitColumns && plan.Widths.size() < row.size()) plan.Widths.resize(row.size(), 0);
    for (std::size_t c = 0; c < row.size(); ++c) {
      const Cell& cell = row[c];
      // A text has no more characters than bytes, once made UTF-8 as well.
      if (cell.Text().size() > kMaxCellText && CharLength(spreadsheet::AsUtf8(cell.Text())) > kMaxCellText)
        Raise(ERR_General, errc::too_large, Where(plan.Name, r, c) + ": the text has more than 32767 characters");
      // A NUL would end the text where libxlsxwriter reads it: refused rather than cut.
      if (cell.Text().find('\0') != std::string::npos || cell.Format().find('\0') != std::string::npos)
        Refuse(Where(plan.Name, r, c) + ": the cell holds a NUL character, which a workbook cannot hold");
      if (CharLength(cell.Format()) > kMaxFormatText)
        Refuse(Where(plan.Name, r, c) + ": the number format has more than 255 characters");
      if (cell.Type() == Cell::Kind::Date && !Serial(cell)) RefuseDate(cell, Where(plan.Name, r, c));
      const bool fitted = sheet.FitColumns && (c >= sheet.ColumnWidths.size() || sheet.ColumnWidths[c] == 0);
      if (fitted && cell.Type() != Cell::Kind::Empty)
        plan.Widths[c] =
            std::max(plan.Widths[c], std::min(kMaxColumnWidth, static_cast<double>(ShownLength(cell) + 1)));
    }
  }
  return plan;
}

void WriteSheet(spreadsheet::BookWriter& book, const Sheet& sheet, const Plan& plan) {
  lxw_worksheet* out = book.AddSheet(plan.Name);
  for (std::size_t c = 0; c < plan.Widths.size(); ++c)
    if (plan.Widths[c] > 0)
      book.Check(
          worksheet_set_column(out, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), plan.Widths[c], nullptr));
  if (sheet.FreezeHeader) worksheet_freeze_panes(out, 1, 0);
  for (std::size_t r = 0; r < sheet.Rows.size(); ++r) {
    const auto& row = sheet.Rows[r];
    const auto rowIndex = static_cast<lxw_row_t>(r);
    for (std::size_t c = 0; c < row.size(); ++c) {
      const Cell& cell = row[c];
      const auto colIndex = static_cast<lxw_col_t>(c);
      switch (cell.Type()) {
        case Cell::Kind::Empty: break;
        case Cell::Kind::Text: {
          const std::string text = spreadsheet::AsUtf8(cell.Text());
          lxw_format* wrap = book.Format({}, text.find('\n') != std::string::npos);
          book.Check(worksheet_write_string(out, rowIndex, colIndex, text.c_str(), wrap));
          break;
        }
        case Cell::Kind::Number:
          if (std::isfinite(cell.Value()))
            book.Check(worksheet_write_number(out, rowIndex, colIndex, cell.Value(), book.Format(cell.Format())));
          else
            book.Check(worksheet_write_string(out, rowIndex, colIndex, FormatGeneral(cell.Value()).c_str(), nullptr));
          break;
        case Cell::Kind::Boolean:
          book.Check(worksheet_write_boolean(out, rowIndex, colIndex, cell.Value() != 0, nullptr));
          break;
        case Cell::Kind::Date:
          book.Check(worksheet_write_number(out, rowIndex, colIndex, *Serial(cell), book.Format(cell.Format())));
          break;
      }
    }
  }
}

// The format that shows a number with the decimals of its text: "0.0" for
// "-4.0", "0.00E+00" for "1.50e3", "0" for "12".
std::string ShownDecimals(std::string_view text) {
  const std::size_t point = text.find('.');
  const std::size_t exponent = text.find_first_of("eE");
  std::size_t decimals = 0;
  if (point != std::string_view::npos)
    while (point + 1 + decimals < text.size() && std::isdigit(static_cast<unsigned char>(text[point + 1 + decimals])))
      ++decimals;
  std::string format = decimals ? "0." + std::string(decimals, '0') : "0";
  if (exponent != std::string_view::npos) format += "E+00";
  return format;
}

}  // namespace

Cell::Cell(std::string text) : kind_(text.empty() ? Kind::Empty : Kind::Text), text_(std::move(text)) {}

Cell::Cell(const char* text) : Cell(text ? std::string(text) : std::string()) {}

Cell::Cell(double number, std::string format) : kind_(Kind::Number), value_(number), format_(std::move(format)) {}

Cell::Cell(bool value) : kind_(Kind::Boolean), value_(value ? 1 : 0) {}

Cell::Cell(double value, Kind kind, std::string format) : kind_(kind), value_(value), format_(std::move(format)) {}

Cell::Cell(std::chrono::year_month_day date, std::string format)
    : Cell(date.ok() ? DaysSince1970(std::chrono::sys_days{date}.time_since_epoch())
                     : std::numeric_limits<double>::quiet_NaN(),
           Kind::Date, Defaulted(std::move(format), true)) {
  if (!date.ok()) text_ = DateText(date);
}

Cell Cell::General(std::string_view text) {
  const std::string cell(text);
  double number = 0;
  if (cell.empty()) return {};
  if (spreadsheet::ReadsAsNumber(cell, number)) return Cell(number);
  if (EqualsIgnoringCase(cell, "TRUE") || EqualsIgnoringCase(cell, "FALSE"))
    return Cell(EqualsIgnoringCase(cell, "TRUE"));
  return Cell(cell);
}

Cell Cell::Number(std::string_view text, std::string format) {
  double number = 0;
  if (!spreadsheet::ReadsAsNumber(std::string(text), number))
    Raise(ERR_TypeMismatch, errc::invalid_argument,
          DescribeError(ERR_TypeMismatch, "\"" + spreadsheet::AsUtf8(text) + "\" reads as no number"));
  return Cell(number, format.empty() ? ShownDecimals(text) : std::move(format));
}

void WriteWorkbook(const std::filesystem::path& file, std::span<const Sheet> sheets) {
  try {
    QM_FRAME_TRY {
      const std::vector<Sheet> one(sheets.empty() ? 1 : 0);  // a workbook holds at least one sheet
      if (sheets.empty()) sheets = one;
      std::set<std::string> taken;
      std::vector<Plan> plans;
      plans.reserve(sheets.size());
      for (std::size_t i = 0; i < sheets.size(); ++i) plans.push_back(Check(sheets[i], i, taken));
      spreadsheet::BookWriter book(file.string());
      for (std::size_t i = 0; i < sheets.size(); ++i) WriteSheet(book, sheets[i], plans[i]);
      book.Close();
    }
    QM_FRAME_CATCH("Workbook", "Public Sub WriteWorkbook", file.string());
  } catch (...) {
    frame::RethrowForTarget(file);
  }
}

void WriteWorkbook(const std::filesystem::path& file, const std::vector<std::vector<std::string>>& rows) {
  Write(file, rows, TextCell);
}

void WriteWorkbook(const std::filesystem::path& file, const std::vector<std::vector<double>>& rows) {
  Write(file, rows, NumberCell);
}

void WriteWorkbook(const std::filesystem::path& file, std::initializer_list<std::initializer_list<std::string>> rows) {
  WriteWorkbook(file, std::vector<std::vector<std::string>>(rows.begin(), rows.end()));
}

void WriteWorkbook(const std::filesystem::path& file, std::initializer_list<std::initializer_list<double>> rows) {
  WriteWorkbook(file, std::vector<std::vector<double>>(rows.begin(), rows.end()));
}

TableSize WriteWorkbookFromText(const std::filesystem::path& file, const std::filesystem::path& text) {
  QM_FRAME_TRY {
    spreadsheet::Workbooks books(kHidden);
    books.OpenText(text.string(), spreadsheet::TabSeparatedImport());
    spreadsheet::Workbook& book = books.Item(1);
    TableSize size{book.Content().Rows.size(), 0};
    for (const auto& row : book.Content().Rows) size.Columns = std::max(size.Columns, row.size());
    book.SaveAs(file.string(), 0, false);
    return size;
  }
  QM_FRAME_CATCH("Workbook", "Public Function WriteWorkbookFromText", file.string(), text.string());
}

}  // namespace qm
