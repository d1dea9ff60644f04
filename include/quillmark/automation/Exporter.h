#pragma once
// qm::Exporter: tables to spreadsheet workbooks, grids to tables.
//
// A table is a two-dimensional Variant array indexed (column, row), both
// 0-based. ExportArrayToExcel writes it as tab-separated text to a temporary
// file, imports that the way a spreadsheet imports delimited text (TAB only,
// double-quote qualifier, each TAB a cell, numbers as numbers) and saves the
// workbook under the caller's file name (Office Open XML). With a display and
// a spreadsheet program on the desktop, the workbook is then opened there
// for the user to go on working with it.

#include <memory>
#include <string>

#include "quillmark/Export.h"
#include "quillmark/values/Object.h"
#include "quillmark/values/Variant.h"

namespace qm {

namespace spreadsheet {
class Application;
}

/// Writes tables (Variant arrays indexed column, row) to spreadsheet workbooks
/// and grids to tables; see the file's notes.
class QUILLMARK_EXPORT Exporter : public Object {
 public:
  /// Out of line, so the library always holds the class's type information.
  ~Exporter() override;

  std::string ClassName() const override { return "Exporter"; }

  /// Saves the table `Data` as a workbook named Filename. Raises 58000 ("You
  /// do not appear to have Excel installed. ...") when no workbook can be
  /// produced; other errors (a table that is not two-dimensional, the
  /// temporary file) pass through unchanged, without an element of this
  /// procedure.
  void ExportArrayToExcel(const std::string& Filename, Variant& Data);

  /// The text cells of a grid (`Rows`, `Cols`, `TextMatrix(row, column)`,
  /// reached by name) as a table, header rows and columns included.
  Variant GetGridAsArray(const ObjectPtr& Grid);

 private:
  /// The tab-separated text of a table: each cell followed by a TAB, each row
  /// by CR LF.
  std::string GetArrayAsExcelString(const Variant& Data);
  // The steps after the application has started.
  void Export(spreadsheet::Application& excel, const std::string& Filename, const Variant& Data);
};

/// A shared reference to an Exporter.
using ExporterPtr = std::shared_ptr<Exporter>;

}  // namespace qm
