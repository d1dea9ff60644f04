#pragma once
// The spreadsheet application that the export drives, made of the three
// automation objects it relies on: the application (visible), its workbooks
// collection with OpenText, and a workbook with SaveAs. Workbooks are written
// with libxlsxwriter; a visible application opens each saved workbook in the
// desktop's spreadsheet program when there is a display and such a program.

#include <xlsxwriter.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/AtomicFile.h"
#include "quillmark/values/Variant.h"

namespace qm::spreadsheet {

/// The named arguments of OpenText that the import honours.
struct TextImport {
  std::int32_t Origin = 2;            // 2: the 8-bit character set (UTF-8 here)
  std::int32_t StartRow = 1;          // first line imported, 1-based
  std::int32_t DataType = 1;          // 1: delimited
  std::int32_t TextQualifier = 1;     // 1: double quote, 2: single quote, -4142: none
  bool ConsecutiveDelimiter = false;  // true: a run of delimiters is one
  bool Tab = true;
  bool Semicolon = false;
  bool Comma = false;
  bool Space = false;
  bool Other = false;
  char OtherChar = '\0';
};

/// One imported sheet: rows of cell texts, as the import split them.
struct Sheet {
  std::string Name;
  std::vector<std::vector<std::string>> Rows;
};

/// Splits delimited text into rows and cells by the import settings, as a
/// spreadsheet program's text import does. Rows end with CR LF, LF or CR. A
/// cell that starts with the qualifier runs to its closing qualifier, a
/// doubled qualifier standing for one, delimiters and line ends inside it
/// kept; what follows the closing qualifier up to the next delimiter joins
/// the cell ("ab"c reads as abc); an unclosed qualifier runs to the end of the
/// text. A qualifier inside a cell is an ordinary character.
Sheet ImportText(const std::string& text, const TextImport& settings);

/// Text in the 8-bit character set as UTF-8: well-formed UTF-8 characters as
/// they are, any other byte read as ISO-8859-1.
std::string AsUtf8(std::string_view text);

/// The settings the export imports its tab-separated text with: TAB as the
/// only delimiter, the double quote as the text qualifier, from line 1.
TextImport TabSeparatedImport();

/// A workbook being written with libxlsxwriter, in constant-memory mode
/// (rows go out in order, texts inline in the sheet): it writes the hidden
/// temporary beside the target, which Close puts in place. Destroyed without
/// Close, it leaves the target as it was.
class BookWriter {
 public:
  /// Checks the target's folder (76 "Path not found" when missing) and makes
  /// the temporary (75 when it cannot be made).
  explicit BookWriter(std::string file);
  BookWriter(const BookWriter&) = delete;
  BookWriter& operator=(const BookWriter&) = delete;
  ~BookWriter();
  /// A new worksheet named `name` (already valid). Its scratch file is made
  /// close-on-exec at once.
  lxw_worksheet* AddSheet(const std::string& name);
  /// The format of the number format `code` (nullptr for "" without wrap),
  /// made once per workbook; `wrap` wraps text at its line breaks.
  lxw_format* Format(const std::string& code, bool wrap = false);
  /// Raises 75 naming the file, with the writer's words, unless `error` is none.
  void Check(lxw_error error) const;
  /// Finishes the workbook and puts it in place of the target.
  void Close();

 private:
  using Handle = std::unique_ptr<lxw_workbook, lxw_error (*)(lxw_workbook*)>;
  std::string file_;
  std::string tmpdir_;                 // libxlsxwriter's scratch files' folder
  std::optional<io::AtomicFile> out_;  // before book_: the book is closed first
  Handle book_{nullptr, &workbook_close};
  std::map<std::pair<std::string, bool>, lxw_format*> formats_;
  std::vector<std::FILE*> scratch_;  // the sheets' scratch files, watched around fork until the close

  // Closes the book (writing its package), with the fork rules for its files.
  lxw_error CloseBook();
};

class Workbook {
 public:
  explicit Workbook(Sheet sheet, bool visible) : sheet_(std::move(sheet)), visible_(visible) {}
  /// Writes the workbook to Filename. Texts that read as numbers, TRUE or
  /// FALSE become numbers and Booleans, as the import's General format does.
  /// Raises 58000 when no workbook can be written.
  void SaveAs(const std::string& Filename, std::int32_t FileFormat, bool AddToMru);
  const Sheet& Content() const { return sheet_; }

 private:
  Sheet sheet_;
  bool visible_;
};

class Workbooks {
 public:
  explicit Workbooks(const bool& visible) : visible_(visible) {}
  /// Imports a text file as a new workbook.
  void OpenText(const std::string& Filename, const TextImport& settings);
  /// The workbook at a 1-based index; 9 when there is none.
  Workbook& Item(std::int32_t index);
  std::int32_t Count() const { return static_cast<std::int32_t>(open_.size()); }

 private:
  const bool& visible_;
  std::vector<std::unique_ptr<Workbook>> open_;
};

class Application {
 public:
  Application() = default;
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;
  /// Starts the application; raises when there is none.
  static std::unique_ptr<Application> Create();
  void SetVisible(bool visible) { visible_ = visible; }
  bool Visible() const { return visible_; }
  Workbooks& GetWorkbooks() { return workbooks_; }

 private:
  bool visible_ = false;
  Workbooks workbooks_{visible_};
};

/// The tab-separated text of a table (a two-dimensional array indexed
/// column, row): each cell followed by a TAB, each row by CR LF; Null cells
/// join as nothing.
std::string TabSeparatedText(const Variant& table);

/// The number a cell text stands for under the General format, if any.
bool ReadsAsNumber(const std::string& text, double& value);

/// Opens a file in the desktop's spreadsheet program, without waiting: false
/// when there is no display or no such program.
bool OpenInSpreadsheetProgram(const std::string& path);

}  // namespace qm::spreadsheet
