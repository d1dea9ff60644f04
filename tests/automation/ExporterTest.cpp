#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "automation/Spreadsheet.h"
#include "quillmark/automation/Exporter.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/runtime/FileTable.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/DispatchTable.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using qm::Variant;
using qm::VariantArray;
using qm::test::RaisedBy;

class FakeGrid : public qm::DispatchTable<FakeGrid> {
 public:
  std::int32_t Rows = 0, Cols = 0;
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
    for (std::int32_t c = 0; c < columns; ++c) table(c, r) = cellsByRow.at(static_cast<std::size_t>(r * columns + c));
  return Variant(std::move(table));
}

class ExporterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No spreadsheet program may open during the tests.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
  }
  qm::Exporter exporter;
};

TEST_F(ExporterTest, IntermediateTextAndTheWorkbookHoldEveryCellAsTextNumberOrBoolean) {
  Variant small = Table(2, 3, {"a", "b", std::int32_t{1}, 2.5, Variant(qm::Null), true});
  EXPECT_EQ(qm::spreadsheet::TabSeparatedText(small), "a\tb\t\r\n1\t2.5\t\r\n\tTrue\t\r\n");

  qm::test::ScratchDir dir;
  const std::string book = dir / "out.xlsx";
  Variant table =
      Table(3, 4,
            {"name", "qty", "ok",  //
             "caf\xE9", "\x01", "", "tea & \"cake\"", std::int32_t{12}, true, "caf\xC3\xA9 <b>", -0.5, false});
  exporter.ExportArrayToExcel(book, table);
  // Every cell as the sheet holds it, read by tools this project did not write.
  const std::string sheet = "unzip -p '" + book + "' xl/worksheets/sheet1.xml";
  ASSERT_EQ(std::system((sheet + " | xmllint --noout - 2>/dev/null").c_str()), 0);
  const std::string cells = qm::test::Output(sheet + " | xmllint --xpath \"//*[local-name()='c']\" - 2>/dev/null");
  auto text = [](std::string r, std::string v) {
    return "<c r=\"" + r + "\" t=\"inlineStr\"><is><t>" + v + "</t></is></c>";
  };
  auto number = [](std::string r, std::string v) { return "<c r=\"" + r + "\"><v>" + v + "</v></c>"; };
  auto boolean = [](std::string r, std::string v) { return "<c r=\"" + r + "\" t=\"b\"><v>" + v + "</v></c>"; };
  for (const std::string& expected :
       {text("A1", "name"), text("B1", "qty"), text("C1", "ok"), text("A2", "caf\xC3\xA9"), text("B2", "_x0001_"),
        text("A3", "tea &amp; \"cake\""), number("B3", "12"), boolean("C3", "1"), text("A4", "caf\xC3\xA9 &lt;b&gt;"),
        number("B4", "-0.5"), boolean("C4", "0")})
    EXPECT_NE(cells.find(expected), std::string::npos) << expected << "\nin: " << cells;
  EXPECT_EQ(cells.find("C2"), std::string::npos);  // empty cells are left out
  // The temporary text file is gone.
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path()))
    EXPECT_NE(entry.path().extension(), ".txt") << entry.path();
}

// 58000 says the spreadsheet application cannot be started; a workbook that
// cannot be saved gets the file error it is.
TEST_F(ExporterTest, AWorkbookThatCannotBeSavedRaisesAFileErrorAndBadTablesPassUnchanged) {
  qm::test::ScratchDir dir;
  Variant table = Table(1, 1, {"x"});
  const qm::Error e = RaisedBy([&] { exporter.ExportArrayToExcel(dir / "missing/out.xlsx", table); });
  EXPECT_EQ(e.Number(), qm::ERR_PathNotFound);
  EXPECT_EQ(e.Description(), "Path not found");
  EXPECT_EQ(e.Source(), "QuillmarkLibrary.Exporter");
  EXPECT_EQ(e.code(), qm::errc::not_found);
  std::filesystem::create_directory(dir.Path() / "folder.xlsx");
  const qm::Error folder = RaisedBy([&] { exporter.ExportArrayToExcel(dir / "folder.xlsx", table); });
  EXPECT_EQ(folder.Number(), qm::ERR_PathFileAccess);
  EXPECT_EQ(folder.Source(), "QuillmarkLibrary.Exporter");
  Variant notATable("text");
  Variant oneDimension(VariantArray::FromVector({"a", "b"}));
  for (Variant* bad : {&notATable, &oneDimension}) {
    const qm::Error refused = RaisedBy([&] { exporter.ExportArrayToExcel(dir / "bad.xlsx", *bad); });
    EXPECT_TRUE(refused.Number() == qm::ERR_TypeMismatch || refused.Number() == qm::ERR_SubscriptOutOfRange)
        << refused.Number();
    EXPECT_EQ(refused.Source(), "QuillmarkLibrary.Exporter|[Exporter]Private Function GetArrayAsExcelString(?)");
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.xlsx"));
  EXPECT_EQ(qm::files::FreeFile(), 1);  // no numbered file left open
}

TEST_F(ExporterTest, GridBecomesAColumnByRowTable) {
  auto grid = std::make_shared<FakeGrid>();
  grid->Rows = 4;
  grid->Cols = 5;
  Variant result = exporter.GetGridAsArray(grid);
  const VariantArray& table = result.Array();
  EXPECT_EQ(table.UBound(1), 4);
  EXPECT_EQ(table.UBound(2), 3);
  EXPECT_EQ(table(0, 0).String(), "r0c0");
  EXPECT_EQ(table(4, 3).String(), "r3c4");
  const qm::Error e = RaisedBy([&] { exporter.GetGridAsArray(std::make_shared<qm::Object>()); });
  EXPECT_EQ(e.Number(), qm::ERR_ObjectDoesntSupport);
  EXPECT_NE(e.Source().find("[Exporter]Public Function GetGridAsArray(?)"), std::string::npos);
}

// The import the export uses reads quoted cells as a spreadsheet program does.
TEST(SpreadsheetImport, QuotedCellsKeepTabsLineEndsAndQuotes) {
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
  EXPECT_EQ(rows("x\t"), (Rows{{"x", ""}}));
  EXPECT_TRUE(rows("").empty());

  settings.ConsecutiveDelimiter = true;
  settings.StartRow = 2;
  EXPECT_EQ(rows("skip\nx\t\t\ty"), (Rows{{"x", "y"}}));
  // Rows end with CR LF, LF or CR; a blank line is a row of one empty cell.
  EXPECT_EQ(rows("a\rb\n\nc\r\n").size(), 3u);
}

TEST(SpreadsheetImport, ReadsAsNumberUnderTheGeneralFormat) {
  double value = 0;
  for (const auto& [text, expected] : std::vector<std::pair<std::string, double>>{
           {"12", 12}, {" -3.5 ", -3.5}, {"+.5", 0.5}, {"1E+20", 1e20}, {"007", 7}, {"2.", 2}}) {
    EXPECT_TRUE(qm::spreadsheet::ReadsAsNumber(text, value)) << text;
    EXPECT_EQ(value, expected) << text;
  }
  for (const std::string text : {"", "-", ".", "1e", "1,5", "12a", "0x10", "inf", "nan", "1e999", "--1"})
    EXPECT_FALSE(qm::spreadsheet::ReadsAsNumber(text, value)) << text;
}

}  // namespace
