#pragma once

/// @file
/// Tables of strings or numbers to spreadsheet workbooks, over standard types.
///
///     qm::WriteWorkbook("prices.xlsx", {{"item", "price"}, {"tea", "2.5"}});
///
/// Fills a worksheet with the cells as given and writes it with the writer
/// qm::Exporter::ExportArrayToExcel uses, without its Variant table and text
/// import: text that reads as a number becomes a number cell, TRUE and FALSE
/// Booleans, and a cell holding a TAB or a double quote stays one cell as it
/// is. Numbers keep 16 significant digits, whatever the locale. It raises the writer's errors (75 for a workbook that cannot
/// be written; 9999 with errc::too_large for a table larger than a worksheet;
/// 76 "Path not found: <folder>", errc::not_found, when its folder is
/// missing). Rows may differ in length: the shorter ones end in empty cells.
/// A cell holding a line break raises 5 "Invalid procedure call or argument:
/// a cell holds a line break" before anything is written, as the published
/// export would split it into rows.

#include <cstddef>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "quillmark/Export.h"

namespace qm {

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
