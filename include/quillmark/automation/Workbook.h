#pragma once

/// @file
/// Tables of strings or numbers to spreadsheet workbooks, over standard types.
///
///     qm::WriteWorkbook("prices.xlsx", {{"item", "price"}, {"tea", "2.5"}});
///
/// Runs qm::Exporter::ExportArrayToExcel on the table, so the workbook is the
/// one the published export writes (text that reads as a number becomes a
/// number cell) and it raises the same errors (58000 "You do not appear to
/// have Excel installed. ..." when no workbook can be written). Rows may
/// differ in length: the shorter ones end in empty cells. A cell that holds a
/// TAB or starts with a double quote is quoted, so it stays one cell; a cell
/// holding a line break raises 5 "Invalid procedure call or argument: a cell
/// holds a line break", as a workbook row is one line of the import.

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

}  // namespace qm
