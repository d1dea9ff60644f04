#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "automation/Spreadsheet.h"
#include "quillmark/automation/Exporter.h"
#include "quillmark/automation/Workbook.h"
#include "quillmark/runtime/FileTable.h"
#include "quillmark/values/DispatchTable.h"
#include "support/ErrorTrail.h"
#include "support/TestEnvironment.h"

namespace {

using qm::Variant;
using qm::VariantArray;
using qm::test::ExplainedTrail;

class FakeGrid : public qm::DispatchTable<FakeGrid> {
 public:
  std::int32_t Rows = 4, Cols = 5;
  static void Describe(Members& m) {
    m.Class("MSFlexGrid")
        .Property("Rows", &FakeGrid::Rows)
        .Property("Cols", &FakeGrid::Cols)
        .Method("TextMatrix", [](FakeGrid&, std::vector<Variant>& a) {
          return Variant("r" + qm::CStr(a.at(0)) + "c" + qm::CStr(a.at(1)));
        });
  }
};

Variant Table(std::int32_t columns, std::int32_t rows, const std::vector<Variant>& cellsByRow) {
  VariantArray table({{0, columns - 1}, {0, rows - 1}});
  for (std::int32_t r = 0; r < rows; ++r)
    for (std::int32_t c = 0; c < columns; ++c) table(c, r) = cellsByRow.at(static_cast<std::size_t>(r) * columns + c);
  return Variant(std::move(table));
}

// The typed workbook: cells keep their number formats, dates are date cells,
// sheets keep their names, widths and frozen header; bad sheets are refused
// before anything is written.
using namespace std::chrono;
using qm::Cell;
using qm::Sheet;

// A list of sheets in place picks the sheets' overload; tables still pick theirs.
static_assert(requires(const std::filesystem::path& file, const Sheet& sheet) {
  qm::WriteWorkbook(file, {{sheet, sheet}});
  qm::WriteWorkbook(file, {{"a"}});
  qm::WriteWorkbook(file, {{1.0}});
});

// Two sheets covering every kind of cell, as the tests below read them back.
std::vector<Sheet> Book() {
  std::vector<Sheet> book(2);
  book[0].Name = "Orders";
  book[0].Rows = {{"day", "amount", "paid", "code", "when"},
                  {2024y / March / 3, Cell(1234.5, "#,##0.00"), true, "007", sys_days{2024y / 3 / 3} + 13h + 30min},
                  {sys_days{1900y / 1 / 1}, Cell::Number("-4.0"), false, Cell::General("-4.0"), Cell::Number("2.50")},
                  {1900y / March / 1, Cell::Number("1.5e3"), Cell(), Cell::General("true"), 42}};
  book[0].ColumnWidths = {20};
  book[0].FitColumns = true;
  book[0].FreezeHeader = true;
  book[1].Rows = {{"two\nlines"}};
  return book;
}

std::string Part(const std::string& book, const std::string& part) {
  return qm::test::Output("unzip -p '" + book + "' " + part);
}

TEST(Workbook, TypedSheetsKeepFormatsDatesWidthsAndTheHeaderAndBadOnesAreRefusedBeforeAnythingIsWritten) {
  qm::test::ScratchDir dir;
  const std::string book = dir / "book.xlsx";
  qm::WriteWorkbook(book, Book());
  const std::vector<std::pair<std::string, std::vector<std::string>>> parts{
      {"xl/workbook.xml", {"<sheet name=\"Orders\" sheetId=\"1\"", "<sheet name=\"Sheet2\" sheetId=\"2\""}},
      {"xl/styles.xml", {"\"yyyy-mm-dd\"", "\"yyyy-mm-dd hh:mm:ss\"", "\"0.0E+00\"", "wrapText=\"1\""}},
      {"xl/worksheets/sheet1.xml",
       {"<pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomLeft\" state=\"frozen\"/>",
        // A given width, then widths fitted to "1,234.50", "FALSE", "FALSE" and the date and time.
        "<col min=\"1\" max=\"1\" width=\"20.7", "<col min=\"2\" max=\"2\" width=\"9.7",
        "<col min=\"3\" max=\"3\" width=\"6.7", "<col min=\"4\" max=\"4\" width=\"6.7",
        "<col min=\"5\" max=\"5\" width=\"20.7",
        // Dates and formatted numbers have a style (s=) of their own; General ones none.
        "<c r=\"A2\" s=\"1\"><v>45354</v>", "<c r=\"B2\" s=\"2\"><v>1234.5</v>", "<c r=\"C2\" t=\"b\"><v>1</v>",
        "<c r=\"D2\" t=\"inlineStr\"><is><t>007</t>", "<c r=\"E2\" s=\"3\"><v>45354.5625</v>",
        "<c r=\"A3\" s=\"1\"><v>1</v>", "<c r=\"B3\" s=\"4\"><v>-4</v>", "<c r=\"D3\"><v>-4</v>",
        "<c r=\"E3\" s=\"5\"><v>2.5</v>", "<c r=\"A4\" s=\"1\"><v>61</v>", "<c r=\"B4\" s=\"6\"><v>1500</v>",
        "<c r=\"D4\" t=\"b\"><v>1</v>", "<c r=\"E4\"><v>42</v>"}},
      {"xl/worksheets/sheet2.xml", {"<c r=\"A1\" s=\"7\" t=\"inlineStr\"><is><t>two\nlines</t>"}}};
  for (const auto& [part, expected] : parts)
    for (const std::string& piece : expected) EXPECT_NE(Part(book, part).find(piece), std::string::npos) << piece;
  EXPECT_EQ(Part(book, "xl/worksheets/sheet1.xml").find("r=\"C4\""), std::string::npos);

  // Bad sheets and cells are refused before anything is written.
  qm::test::WriteFile(book, "old");
  const auto one = [](std::string name, std::vector<std::vector<Cell>> rows = {}, std::vector<double> widths = {}) {
    return std::vector<Sheet>{{.Name = std::move(name), .Rows = std::move(rows), .ColumnWidths = std::move(widths)}};
  };
  const std::string invalid = "5 invalid_argument: Invalid procedure call or argument: ";
  const std::string name = invalid + "the sheet name \"";
  const std::string outside = " is outside 1900-01-01 to 9999-12-31, the dates of a workbook";
  const std::pair<std::vector<Sheet>, std::string> cases[] = {
      {one(std::string(32, 'x')), name + std::string(32, 'x') + "\" has more than 31 characters"},
      {one("a/b"), name + "a/b\" holds a character a sheet name may not hold ([]:*?/\\)"},
      {one("'x"), name + "'x\" begins or ends with an apostrophe"},
      {{Sheet{.Name = "Data"}, Sheet{.Name = "DATA"}}, name + "DATA\" is used by an earlier sheet"},
      {one("W", {}, {8, 0, 300}), invalid + "W!C: the column width 300 is outside 0 to 255"},
      {one("D", {{1, 1899y / 12 / 31}}), invalid + "D!B1: the date 1899-12-31" + outside},
      {one("D", {{}, {sys_days{10000y / 1 / 1}}}), invalid + "D!A2: the date 10000-01-01" + outside},
      {one("D", {{2023y / 2 / 30}}), invalid + "D!A1: the date 2023-02-30 does not exist"},
      {one("F", {{Cell(1.0, std::string(256, '0'))}}),
       invalid + "F!A1: the number format has more than 255 characters"},
      {one("N", {{1, std::string("a\0b", 3)}}),
       invalid + "N!B1: the cell holds a NUL character, which a workbook cannot hold"},
      {one("T", {{std::string(32768, 'x')}}), "9999 too_large: T!A1: the text has more than 32767 characters"},
  };
  const std::string source = " @ QuillmarkLibrary.Workbook|[Workbook]Public Sub WriteWorkbook(\"" + book + "\")";
  for (const auto& [sheets, says] : cases)
    EXPECT_EQ(ExplainedTrail([&, &sheets = sheets] { qm::WriteWorkbook(book, sheets); }), says + source);
  EXPECT_EQ(qm::test::ReadFile(book), "old");
  EXPECT_EQ(qm::test::ErrorOf([] { Cell::Number("4,0"); }), qm::ERR_TypeMismatch);
  EXPECT_EQ(qm::test::ErrorOf([&] { qm::WriteWorkbook(dir / "none/b.xlsx", one("S")); }), qm::ERR_PathNotFound);
  qm::WriteWorkbook(book, std::vector<Sheet>{});  // one empty sheet
  EXPECT_NE(Part(book, "xl/workbook.xml").find("<sheet name=\"Sheet1\""), std::string::npos);
}

// What a spreadsheet program shows, where LibreOffice is installed.
TEST(Workbook, LibreOfficeShowsTheCellsUnderTheirFormats) {
  if (std::system("command -v soffice >/dev/null 2>&1") != 0) GTEST_SKIP() << "LibreOffice is not installed";
  qm::test::ScratchDir dir;
  qm::WriteWorkbook(dir / "book.xlsx", Book());
  // Every sheet, as shown, UTF-8, into book-<sheet>.csv.
  const std::string command = "cd '" + dir.Path().string() + "' && timeout 120 soffice -env:UserInstallation=file://" +
                              dir.Path().string() +
                              "/profile --headless --convert-to "
                              "'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false,false,-1' "
                              "book.xlsx >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(qm::test::ReadFile(dir / "book-Orders.csv"),
            "day,amount,paid,code,when\n"
            "2024-03-03,\"1,234.50\",TRUE,007,2024-03-03 13:30:00\n"
            // LibreOffice counts no 29 February 1900: the serial a spreadsheet
            // program gives 1900-01-01 shows as the day before there.
            "1899-12-31,-4.0,FALSE,-4,2.50\n"
            "1900-03-01,1.5E+03,,TRUE,42\n");
  EXPECT_EQ(qm::test::ReadFile(dir / "book-Sheet2.csv"), "\"two\nlines\"\n");
}

// A workbook's sheet is named after its file; a desktop without a spreadsheet
// program opens nothing. libxlsxwriter opens a sheet's scratch file without
// close-on-exec and holds it while the sheet is filled: the writer sets the
// flag at once.
TEST(Exporter, ExportsCellsAndGridsRaisesFileErrorsAndImportsAsASpreadsheetProgramDoes) {
  // No spreadsheet program may open during the test.
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) unsetenv(name);
  qm::test::ScratchDir dir;
  qm::spreadsheet::BookWriter writer(dir / "b.xlsx");
  const lxw_worksheet* sheet = writer.AddSheet("S");
  ASSERT_NE(sheet->optimize_tmpfile, nullptr);
  EXPECT_NE(::fcntl(::fileno(sheet->optimize_tmpfile), F_GETFD) & FD_CLOEXEC, 0);
  qm::test::WriteFile(dir / "a[1]:b.txt", "x");
  qm::spreadsheet::Application app;
  app.GetWorkbooks().OpenText(dir / "a[1]:b.txt", qm::spreadsheet::TabSeparatedImport());
  app.GetWorkbooks().Item(1).SaveAs(dir / "n.xlsx", 51, false);
  qm::spreadsheet::Workbook(qm::spreadsheet::Sheet{}, false).SaveAs(dir / "e.xlsx", 51, false);
  EXPECT_NE(Part(dir / "n.xlsx", "xl/workbook.xml").find("<sheet name=\"a_1__b\""), std::string::npos);
  EXPECT_NE(Part(dir / "e.xlsx", "xl/workbook.xml").find("<sheet name=\"Sheet1\""), std::string::npos);
  for (const int index : {0, 2}) EXPECT_EQ(qm::test::ErrorOf([&] { app.GetWorkbooks().Item(index); }), 9);
  qm::spreadsheet::Workbook tall({.Name = "", .Rows = std::vector<std::vector<std::string>>(LXW_ROW_MAX + 1)}, false);
  EXPECT_EQ(qm::test::Explained([&] { tall.SaveAs(dir / "t.xlsx", 1, false); }),
            "9999 too_large: The table has more rows than a worksheet holds (1048576)");
  EXPECT_FALSE(std::filesystem::exists(dir / "t.xlsx"));

  const std::string path = std::getenv("PATH");
  setenv("DISPLAY", ":0", 1);
  setenv("PATH", (":" + dir.Path().string()).c_str(), 1);
  EXPECT_FALSE(qm::spreadsheet::OpenInSpreadsheetProgram(dir / "n.xlsx"));
  setenv("PATH", path.c_str(), 1);
  unsetenv("DISPLAY");

  // The import the export uses reads quoted cells as a spreadsheet program does.
  auto settings = qm::spreadsheet::TabSeparatedImport();
  const auto rows = [&](const std::string& text) { return qm::spreadsheet::ImportText(text, settings).Rows; };
  using Rows = std::vector<std::vector<std::string>>;
  EXPECT_EQ(rows("a\t\"b\tc\"\t\"say \"\"hi\"\"\"x\t\r\n\t\t1\r\nlast"),
            (Rows{{"a", "b\tc", "say \"hi\"x", ""}, {"", "", "1"}, {"last"}}));
  // A line end inside quotes stays in the cell; the row goes on after it.
  EXPECT_EQ(rows("\"two\r\nlines\"\tb\r\n\"\"\tlast"), (Rows{{"two\r\nlines", "b"}, {"", "last"}}));
  // Text after the closing quote joins the cell; a quote inside a cell is text.
  EXPECT_EQ(rows("\"ab\"c\td\"e\"\tx \"\""), (Rows{{"abc", "d\"e\"", "x \"\""}}));
  // An unclosed quote runs to the end of the text, line ends and tabs kept.
  EXPECT_EQ(rows("a\t\"open\tcell\nnext\tline\n"), (Rows{{"a", "open\tcell\nnext\tline\n"}}));
  // A tab at the very end opens one more cell; an empty text has no rows.
  EXPECT_EQ(std::pair(rows("x\t"), rows("")), std::pair(Rows{{"x", ""}}, Rows{}));

  settings.ConsecutiveDelimiter = true;
  settings.StartRow = 2;
  EXPECT_EQ(rows("skip\nx\t\t\ty"), (Rows{{"x", "y"}}));
  // Rows end with CR LF, LF or CR; a blank line is a row of one empty cell.
  EXPECT_EQ(rows("a\rb\n\nc\r\n").size(), 3u);

  // Single quotes and every other delimiter; without a qualifier a quote is text, and no other character is none.
  settings = {.TextQualifier = 2, .Tab = false, .Semicolon = true, .Comma = true, .Space = true, .Other = true};
  settings.OtherChar = '|';
  EXPECT_EQ(rows("a;b,c d|'e;''f'\tg"), (Rows{{"a", "b", "c", "d", "e;'f\tg"}}));
  settings.TextQualifier = -4142;
  settings.OtherChar = '\0';
  EXPECT_EQ(rows(std::string("'q'\0x;y", 7)), (Rows{{std::string("'q'\0x", 5), "y"}}));

  // What reads as a number under the General format.
  double value = 0;
  for (const auto& [text, expected] : std::vector<std::pair<std::string, double>>{
           {"12", 12}, {" -3.5 ", -3.5}, {"+.5", 0.5}, {"1E+20", 1e20}, {"007", 7}, {"2.", 2}})
    EXPECT_TRUE(qm::spreadsheet::ReadsAsNumber(text, value) && value == expected) << text;
  for (const std::string text : {"", "-", ".", "1e", "1,5", "12a", "0x10", "inf", "nan", "1e999", "--1"})
    EXPECT_FALSE(qm::spreadsheet::ReadsAsNumber(text, value)) << text;

  qm::Exporter exporter;
  EXPECT_EQ(qm::spreadsheet::TabSeparatedText(Table(2, 3, {"a", "b", std::int32_t{1}, 2.5, Variant(qm::Null), true})),
            "a\tb\t\r\n1\t2.5\t\r\n\tTrue\t\r\n");

  const std::string book = dir / "out.xlsx";
  Variant table =
      Table(3, 4,
            {"name", "qty", "ok",  //
             "caf\xE9", "\x01", "", "tea & \"cake\"", std::int32_t{12}, true, "caf\xC3\xA9 <b>", -0.5, false});
  exporter.ExportArrayToExcel(book, table);
  // Every cell as the sheet holds it, read by tools this project did not write.
  const std::string sheetXml = "unzip -p '" + book + "' xl/worksheets/sheet1.xml";
  ASSERT_EQ(std::system((sheetXml + " | xmllint --noout - 2>/dev/null").c_str()), 0);
  const std::string cells =
      qm::test::Output(sheetXml + " | xmllint --xpath \"//*[local-name()='c']\" - 2>/dev/null | tr -d '\\n'");
  auto text = [](const std::string& r, const std::string& v) {
    return "<c r=\"" + r + "\" t=\"inlineStr\"><is><t>" + v + "</t></is></c>";
  };
  // Empty cells (C2) are left out.
  EXPECT_EQ(cells, text("A1", "name") + text("B1", "qty") + text("C1", "ok") + text("A2", "caf\xC3\xA9") +
                       text("B2", "_x0001_") + text("A3", "tea &amp; \"cake\"") + "<c r=\"B3\"><v>12</v></c>" +
                       "<c r=\"C3\" t=\"b\"><v>1</v></c>" + text("A4", "caf\xC3\xA9 &lt;b&gt;") +
                       "<c r=\"B4\"><v>-0.5</v></c><c r=\"C4\" t=\"b\"><v>0</v></c>");

  // 58000 says the spreadsheet application cannot be started; a workbook that
  // cannot be saved gets the file error it is.
  EXPECT_EQ(ExplainedTrail([&] { exporter.ExportArrayToExcel(dir / "missing/out.xlsx", table); }),
            "76 not_found: Path not found @ QuillmarkLibrary.Exporter");
  std::filesystem::create_directory(dir.Path() / "folder.xlsx");
  EXPECT_EQ(ExplainedTrail([&] { exporter.ExportArrayToExcel(dir / "folder.xlsx", table); }),
            "75 io_error: Path/File access error: " + dir / "folder.xlsx" + " @ QuillmarkLibrary.Exporter");
  const std::string refused = " @ QuillmarkLibrary.Exporter|[Exporter]Private Function GetArrayAsExcelString(?)";
  for (auto [bad, says] :
       {std::pair{Variant("text"), "13 invalid_argument: Type mismatch"},
        std::pair{Variant(VariantArray::FromVector({"a", "b"})), "9 out_of_range: Subscript out of range"}})
    EXPECT_EQ(ExplainedTrail([&, &bad = bad] { exporter.ExportArrayToExcel(dir / "bad.xlsx", bad); }), says + refused);
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.xlsx"));
  EXPECT_EQ(qm::files::FreeFile(), 1);  // no numbered file left open

  // A grid becomes a column-by-row table; another object is refused.
  Variant result = exporter.GetGridAsArray(std::make_shared<FakeGrid>());  // of 4 rows and 5 columns
  const VariantArray& matrix = result.Array();
  EXPECT_EQ(std::pair(matrix.UBound(1), matrix.UBound(2)), std::pair(4, 3));
  EXPECT_EQ(matrix(0, 0).String() + matrix(4, 3).String(), "r0c0r3c4");
  EXPECT_EQ(ExplainedTrail([&] { exporter.GetGridAsArray(std::make_shared<qm::Object>()); }),
            "438 unsupported: Object doesn't support this property or method @ "
            "QuillmarkLibrary.Exporter|[Exporter]Public Function GetGridAsArray(?)");
  // The temporary text file is gone.
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path()))
    EXPECT_NE(entry.path().extension(), ".txt") << entry.path();
}

}  // namespace
