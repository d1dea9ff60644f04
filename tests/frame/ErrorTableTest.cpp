#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "quillmark/frame/Error.h"
#include "quillmark/frame/ErrorNumbers.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;

TEST(ErrorTable, OneRowPerNumberAndLookupsAgreeWithIt) {
  const auto table = qm::ErrorTable();
  ASSERT_FALSE(table.empty());
  for (std::size_t i = 0; i < table.size(); ++i) {
    EXPECT_FALSE(table[i].Text.empty()) << table[i].Number;
    EXPECT_TRUE(i == 0 || table[i - 1].Number < table[i].Number) << "out of order or repeated: " << table[i].Number;
    EXPECT_EQ(qm::FindErrorText(table[i].Number), table[i].Text);
    EXPECT_EQ(qm::test::Described([&] { qm::Raise(table[i].Number); }),
              std::to_string(table[i].Number) + ": " + std::string(table[i].Text));
  }
  for (const std::int32_t unknown : {INT32_MIN, 0, 1, 10, 12345, INT32_MAX}) {
    EXPECT_EQ(qm::FindErrorText(unknown), std::nullopt) << unknown;
    EXPECT_EQ(qm::StandardErrorText(unknown), "Application-defined or object-defined error");
  }
  EXPECT_EQ(qm::test::Described([] { qm::RaiseWithDetail(qm::ERR_InvalidPicture, "no pixels"); }),
            "481: Invalid picture: no pixels");
}

// The generated part of docs/errors.md: the causes, then one row per number.
std::string GeneratedTables() {
  std::ostringstream out;
  out << "| errc | meaning |\n|---|---|\n";
  for (int value = 1; qm::ErrcName(static_cast<qm::errc>(value)) != "none"; ++value) {
    const auto cause = static_cast<qm::errc>(value);
    out << "| `" << qm::ErrcName(cause) << "` | " << qm::make_error_code(cause).message() << " |\n";
  }
  out << "\n| number | errc | text | name | notes |\n|---|---|---|---|---|\n";
  for (const auto& row : qm::ErrorRows()) {
    out << "| " << row.Number << " | `" << qm::ErrcName(row.Code) << "` | " << row.Text << " | `" << row.Name << "` | "
        << row.Notes << " |\n";
  }
  return out.str();
}

// docs/errors.md is the prose above its marker line and, below it, the tables
// written from qm::ErrorRows(). When the table changes, the test writes the
// page as it should be beside the test program and fails.
TEST(ErrorTable, DocumentationIsWrittenFromTheTable) {
  const fs::path page = qm::test::SourceDir() / "docs" / "errors.md";
  const std::string text = qm::test::ReadFile(page.string());
  const std::string marker =
      "<!-- Written from qm::ErrorRows() by tests/frame/ErrorTableTest.cpp: edit the table, not this page. -->\n";
  const auto at = text.find(marker);
  ASSERT_NE(at, std::string::npos) << "the marker line is missing from " << page;
  const std::string expected = text.substr(0, at + marker.size()) + "\n" + GeneratedTables();
  if (text != expected) {
    const fs::path fresh = fs::absolute("errors.md");
    std::ofstream(fresh, std::ios::binary) << expected;
    FAIL() << page << " does not list the error table as it is; the page as it should be is in " << fresh << " (cp "
           << fresh << " " << page << ")";
  }
}

// Numbers reach the raise sites by name from the one table: no raise with a
// number written in place, and no second definition of an error constant.
TEST(ErrorTable, RaiseSitesTakeNumbersFromTheTable) {
  const std::regex literalRaise(R"(\b(Raise|RaiseFrom|RaiseWithDetail|Error)\(\s*-?[0-9])");
  const std::regex constant(R"(\bERR_[A-Za-z_]+\s*=\s*-?[0-9])");
  const fs::path root = qm::test::SourceDir();
  int files = 0;
  for (const fs::path& folder : {root / "src", root / "include"}) {
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      const auto ext = entry.path().extension();
      if (ext != ".cpp" && ext != ".h") continue;
      ++files;
      const std::string code = qm::test::ReadFile(entry.path().string());
      EXPECT_FALSE(std::regex_search(code, literalRaise)) << entry.path() << " raises a number written in place";
      if (entry.path().filename() != "ErrorNumbers.h") {
        EXPECT_FALSE(std::regex_search(code, constant)) << entry.path() << " defines an error number of its own";
      }
    }
  }
  EXPECT_GT(files, 100);
}

}  // namespace
