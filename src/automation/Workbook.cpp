#include "quillmark/automation/Workbook.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "automation/Spreadsheet.h"
#include "frame/FileErrors.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/values/Conversions.h"

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
template <class Cell, class Convert>
void Write(const std::filesystem::path& file, const std::vector<std::vector<Cell>>& rows, Convert convert) {
  spreadsheet::Sheet sheet;
  sheet.Name = file.string();
  sheet.Rows.reserve(rows.size());
  for (const auto& row : rows) {
    std::vector<std::string>& cells = sheet.Rows.emplace_back();
    cells.reserve(row.size());
    for (const Cell& cell : row) cells.push_back(convert(cell));
  }
  try {
    QM_FRAME_TRY { spreadsheet::Workbook(std::move(sheet), kHidden).SaveAs(file.string(), kNormalWorkbook, false); }
    QM_FRAME_CATCH("Workbook", "Public Sub WriteWorkbook", file.string());
  } catch (...) {
    frame::RethrowForTarget(file);
  }
}

}  // namespace

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
