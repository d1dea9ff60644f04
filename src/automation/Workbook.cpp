#include "quillmark/automation/Workbook.h"

#include <algorithm>
#include "frame/FileErrors.h"

#include "automation/Spreadsheet.h"
#include "quillmark/automation/Exporter.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"

namespace qm {
namespace {

// A text cell as the import reads it back as one cell.
Variant TextCell(const std::string& text) {
  if (text.find_first_of("\r\n") != std::string::npos)
    RaiseFrom(ERR_InvalidProcedureCall, frame::DefaultSource("Workbook"),
              DescribeError(ERR_InvalidProcedureCall, "a cell holds a line break"));
  if (text.find('\t') == std::string::npos && !text.starts_with('"')) return Variant(text);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return Variant(std::move(quoted));
}

// The table (column, row) of the rows, then the export.
template <class Cell, class Convert>
void Export(const std::filesystem::path& file, const std::vector<std::vector<Cell>>& rows, Convert convert) {
  std::size_t columns = 0;
  for (const auto& row : rows) columns = std::max(columns, row.size());
  VariantArray table({{0, static_cast<std::int32_t>(columns) - 1}, {0, static_cast<std::int32_t>(rows.size()) - 1}});
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (std::size_t c = 0; c < rows[r].size(); ++c)
      table(static_cast<std::int32_t>(c), static_cast<std::int32_t>(r)) = convert(rows[r][c]);
  Variant data(std::move(table));
  try {
    Exporter().ExportArrayToExcel(file.string(), data);
  } catch (...) {
    frame::RethrowForTarget(file);
  }
}

// Workbooks written from text are not opened in the desktop's spreadsheet
// program.
constexpr bool kHidden = false;

}  // namespace

void WriteWorkbook(const std::filesystem::path& file, const std::vector<std::vector<std::string>>& rows) {
  Export(file, rows, TextCell);
}

void WriteWorkbook(const std::filesystem::path& file, const std::vector<std::vector<double>>& rows) {
  Export(file, rows, [](double value) { return Variant(value); });
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
