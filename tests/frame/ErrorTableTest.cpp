#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

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
    if (i > 0) {
      EXPECT_LT(table[i - 1].Number, table[i].Number) << "out of order or repeated: " << table[i].Number;
    }
    EXPECT_EQ(qm::FindErrorText(table[i].Number), table[i].Text);
    const qm::Error raised = qm::test::RaisedBy([&] { qm::Raise(table[i].Number); });
    EXPECT_EQ(raised.Description(), table[i].Text);
  }
  for (const std::int32_t unknown : {INT32_MIN, 0, 1, 10, 12345, INT32_MAX}) {
    EXPECT_EQ(qm::FindErrorText(unknown), std::nullopt) << unknown;
    EXPECT_EQ(qm::StandardErrorText(unknown), "Application-defined or object-defined error");
  }
  const qm::Error detailed = qm::test::RaisedBy([] { qm::RaiseWithDetail(qm::ERR_InvalidPicture, "no pixels"); });
  EXPECT_EQ(detailed.Number(), 481);
  EXPECT_EQ(detailed.Description(), "Invalid picture: no pixels");
}

// docs/errors.md lists the table row for row: number and text, in order.
TEST(ErrorTable, DocumentationListsEveryRow) {
  std::ifstream doc(qm::test::SourceDir() / "docs" / "errors.md");
  ASSERT_TRUE(doc) << "docs/errors.md";
  const std::regex row(R"(^\| (-?[0-9]+) \| ([^|]+) \|)");
  std::vector<std::pair<std::int32_t, std::string>> listed;
  for (std::string line; std::getline(doc, line);) {
    std::smatch m;
    if (std::regex_search(line, m, row)) listed.emplace_back(std::stoi(m[1]), m[2].str());
  }
  const auto table = qm::ErrorTable();
  ASSERT_EQ(listed.size(), table.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    EXPECT_EQ(listed[i].first, table[i].Number) << "row " << i;
    EXPECT_EQ(listed[i].second, table[i].Text) << table[i].Number;
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
      std::ifstream in(entry.path());
      std::stringstream text;
      text << in.rdbuf();
      const std::string code = text.str();
      EXPECT_FALSE(std::regex_search(code, literalRaise)) << entry.path() << " raises a number written in place";
      if (entry.path().filename() != "ErrorNumbers.h") {
        EXPECT_FALSE(std::regex_search(code, constant)) << entry.path() << " defines an error number of its own";
      }
    }
  }
  EXPECT_GT(files, 100);
}

}  // namespace
