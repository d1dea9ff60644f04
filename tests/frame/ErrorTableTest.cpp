// Errors: the table of numbers and texts (and the page written from it),
// the frames that gather one element per procedure, the log, QMGLobal.

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <vector>

#include "quillmark/frame/Error.h"
#include "quillmark/frame/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/frame/QMGLobal.h"
#include "quillmark/runtime/Collection.h"
#include "quillmark/runtime/Conversions.h"
#include "quillmark/runtime/DispatchTable.h"
#include "quillmark/runtime/Settings.h"
#include "quillmark/runtime/Variant.h"
#include "support/ErrorTrail.h"
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
  for (const auto& row : qm::ErrorRows())
    out << "| " << row.Number << " | `" << qm::ErrcName(row.Code) << "` | " << row.Text << " | `" << row.Name << "` | "
        << row.Notes << " |\n";
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
  for (const fs::path& folder : {root / "src", root / "include"})
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      const auto ext = entry.path().extension();
      if (ext != ".cpp" && ext != ".h") continue;
      ++files;
      const std::string code = qm::test::ReadFile(entry.path().string());
      EXPECT_FALSE(std::regex_search(code, literalRaise)) << entry.path() << " raises a number written in place";
      EXPECT_FALSE(entry.path().filename() != "ErrorNumbers.h" && std::regex_search(code, constant))
          << entry.path() << " defines an error number of its own";
    }
  EXPECT_GT(files, 100);
}

enum class Colour { Red };

void Inner(const std::string& name) {
  QM_FRAME_TRY { qm::Raise(13, "inner failed"); }
  QM_FRAME_CATCH("Utility", "Private Sub Inner", name);
}

std::int32_t Middle(std::int32_t count, bool flag) {
  QM_FRAME_TRY {
    count = -1;  // the element shows the value at the time of the error
    Inner("");
    return count;
  }
  QM_FRAME_CATCH("Utility", "Public Function Middle", count, flag);
}

void Outer(double ratio, const qm::Variant& v, const std::shared_ptr<qm::Collection>& o, Colour c) {
  QM_FRAME_TRY { Middle(5, true); }
  QM_FRAME_CATCH("Utility", "Public Sub Outer", ratio, v, o, c);
}

void ThrowsStandard(int which) {
  QM_FRAME_TRY {
    if (which == 0) throw std::bad_alloc();
    if (which == 1) (void)std::vector<int>().at(3);
    if (which == 2) throw fs::filesystem_error("x", std::make_error_code(std::errc::no_such_file_or_directory));
    if (which == 3) throw fs::filesystem_error("x", std::make_error_code(std::errc::permission_denied));
  }
  QM_FRAME_CATCH("LibMain", "Private Sub ThrowsStandard", which);
}

TEST(Frame, ErrorsGatherOneElementPerProcedureAndStandardExceptionsBecomeRuntimeErrors) {
  EXPECT_EQ(qm::test::Trail([] { Outer(2.5, qm::Variant(1), nullptr, Colour::Red); }),
            "13: inner failed @ QuillmarkLibrary.Utility|[Utility]Private Sub Inner(\"\")|"
            "[Utility]Public Function Middle(-1, True)|[Utility]Public Sub Outer(2.5, ?, ?, ?)");

  // A foreign source, and the help, pass through unchanged.
  const qm::Error foreign = qm::test::RaisedBy([] {
    QM_FRAME_TRY { throw qm::Error(1004, "Client.Order", "client failed", "help.chm", 42); }
    QM_FRAME_CATCH("QMStream", "Public Function ReadObject");
  });
  EXPECT_EQ(std::tuple(foreign.Source(), foreign.HelpFile(), foreign.HelpContext()),
            std::tuple("Client.Order|[QMStream]Public Function ReadObject()", "help.chm", 42));

  using qm::frame::RenderArgument;
  EXPECT_EQ(RenderArgument(std::string("a\"b")) + " " + RenderArgument(std::uint8_t{200}) + " " +
                RenderArgument(std::optional<std::string>()) + " " + RenderArgument(std::optional<qm::Variant>()) +
                " " + RenderArgument(std::optional<std::int32_t>(4)) + " " +
                RenderArgument(std::vector<std::uint8_t>{1}),
            "\"a\"b\" 200 \"\" ? 4 ?");
  // The form's class is not the name of its source (ZipMgr and HTML2MHT are checked in their own tests).
  EXPECT_EQ(qm::frame::DefaultSource("Error"), "QuillmarkLibrary.frmError");

  // Standard exceptions become runtime errors.
  for (const auto& [which, number] : {std::pair{0, 7}, {1, 9}, {2, 53}, {3, 70}})
    EXPECT_EQ(qm::test::Trail([which = which] { ThrowsStandard(which); }),
              std::to_string(number) + ": " + std::string(qm::StandardErrorText(number)) +
                  " @ QuillmarkLibrary|[LibMain]Private Sub ThrowsStandard(" + std::to_string(which) + ")");
}

void TracedOperation(const std::string& what) {
  QM_FRAME_TRY { qm::QMWriteLog(what); }
  QM_FRAME_CATCH("ScalarField", "Public Sub SetStreamValue", what);
}

// Each line is written only while the setting is "yes" in some case, without
// spaces; a log that cannot be written fails the traced call.
TEST(Log, OffUnlessTheSettingIsYesInAnyCaseAndAnUnwritableLogFailsTheTracedCall) {
  fs::remove(qm::LogFilePath());
  qm::DeleteSetting("Quillmark Library", "Init");
  qm::QMWriteLog("absent");
  EXPECT_FALSE(fs::exists(qm::LogFilePath()));
  std::string expected;
  for (const char* value : {"no", " yes", "y", "yes ", "YES", "yEs", "no"}) {
    SCOPED_TRACE(value);
    qm::SaveSetting("Quillmark Library", "Init", "Logging", value);
    qm::QMWriteLog(value);
    if (std::string_view(value).size() == 3 && value[0] != 'n') expected += value + std::string("\r\n");
    EXPECT_EQ(fs::exists(qm::LogFilePath()), !expected.empty());
    EXPECT_EQ(qm::test::ReadFile(qm::LogFilePath()), expected);
  }

  fs::remove(qm::LogFilePath());
  qm::SaveSetting("Quillmark Library", "Init", "Logging", "yes");
  fs::create_directory(qm::LogFilePath());  // a folder where the file should be
  EXPECT_EQ(qm::test::Trail([] { TracedOperation("line"); }),
            "75: Path/File access error @ QuillmarkLibrary|[LibMain]Public Sub QMWriteLog(\"line\")|"
            "[ScalarField]Public Sub SetStreamValue(\"line\")");
  fs::remove(qm::LogFilePath());
}

using qm::QMGLobal;
using qm::Variant;

class FakeList : public qm::DispatchTable<FakeList> {
 public:
  std::vector<std::string> Texts;
  std::vector<std::int32_t> Data;
  static void Describe(Members& m) {
    m.Class("ListBox")
        .Method("ListCount",
                [](FakeList& l, std::vector<Variant>&) { return Variant(static_cast<std::int32_t>(l.Texts.size())); })
        .Method("List", [](FakeList& l, std::vector<Variant>& a) { return Variant(l.Texts.at(qm::CLng(a.at(0)))); })
        .Method("ItemData", [](FakeList& l, std::vector<Variant>& a) { return Variant(l.Data.at(qm::CLng(a.at(0)))); });
  }
};

// Inc adds an Integer 1 by default (the sum's type is Variant's, tested
// there). Assert raises 11000 with the message.
TEST(QMGLobal, IncAddsIsNothingListSearchesAndAssertRaises) {
  Variant v(std::int16_t{5});
  QMGLobal::Inc(v);
  EXPECT_EQ(v.TypeName() + " " + qm::CStr(v), "Integer 6");
  QMGLobal::Inc(v, Variant(2.5));
  EXPECT_EQ(qm::CDbl(v), 8.5);

  auto list = std::make_shared<FakeList>();
  EXPECT_EQ(std::tuple(qm::CBool(QMGLobal::IsNothing(nullptr)), qm::CBool(QMGLobal::IsNothing(list)),
                       QMGLobal::FindListText(list, "x")),
            std::tuple(true, false, -1));
  list->Texts = {"a", "B", "b", "b"};
  list->Data = {10, 20, 30, 30};
  EXPECT_EQ(
      std::tuple(QMGLobal::FindListText(list, "b"), QMGLobal::FindListItem(list, 30), QMGLobal::FindListItem(list, 99)),
      std::tuple(2, 2, -1));
  // A list without the members fails with the late-binding error.
  EXPECT_EQ(qm::test::Trail([] { QMGLobal::FindListItem(std::make_shared<qm::Collection>(), 3); }),
            "438: Object doesn't support this property or method @ QuillmarkLibrary.QMGLobal|[QMGLobal]Public Function "
            "FindListItem(?, 3)");
  EXPECT_NO_THROW(QMGLobal::Assert(true, "x"));
  for (std::string message : {"x", ""})
    EXPECT_EQ(qm::test::Trail([&] { QMGLobal::Assert(false, message); }),
              std::to_string(qm::ERR_ASSERTION) + ": " + message +
                  " @ QuillmarkLibrary.QMGLobal|[QMGLobal]Public Sub Assert(False, \"" + message + "\")");
}

}  // namespace
