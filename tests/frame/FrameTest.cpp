#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "quillmark/frame/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/frame/QMGLobal.h"
#include "quillmark/runtime/Collection.h"
#include "quillmark/runtime/Conversions.h"
#include "quillmark/runtime/DispatchTable.h"
#include "quillmark/runtime/Settings.h"
#include "quillmark/runtime/Variant.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

struct Thing : qm::Object {};
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

void Outer(double ratio, const qm::Variant& v, const std::shared_ptr<Thing>& o, Colour c) {
  QM_FRAME_TRY { Middle(5, true); }
  QM_FRAME_CATCH("Utility", "Public Sub Outer", ratio, v, o, c);
}

TEST(Frame, ErrorsGatherOneElementPerProcedureWithTheParametersRenderedByType) {
  const qm::Error e = qm::test::RaisedBy([] { Outer(2.5, qm::Variant(1), nullptr, Colour::Red); });
  EXPECT_EQ(std::to_string(e.Number()) + " " + e.what(), "13 inner failed");
  EXPECT_EQ(e.Source(),
            "QuillmarkLibrary.Utility|[Utility]Private Sub Inner(\"\")|"
            "[Utility]Public Function Middle(-1, True)|[Utility]Public Sub Outer(2.5, ?, ?, ?)");

  // A foreign source, and the help, pass through unchanged.
  const qm::Error foreign = qm::test::RaisedBy([] {
    QM_FRAME_TRY { throw qm::Error(1004, "Client.Order", "client failed", "help.chm", 42); }
    QM_FRAME_CATCH("QMStream", "Public Function ReadObject");
  });
  EXPECT_EQ(foreign.Source(), "Client.Order|[QMStream]Public Function ReadObject()");
  EXPECT_EQ(foreign.HelpFile(), "help.chm");
  EXPECT_EQ(foreign.HelpContext(), 42);

  using qm::frame::RenderArgument;
  EXPECT_EQ(RenderArgument(std::string("a\"b")), "\"a\"b\"");
  EXPECT_EQ(RenderArgument(std::uint8_t{200}), "200");
  EXPECT_EQ(RenderArgument(std::optional<std::string>()), "\"\"");
  EXPECT_EQ(RenderArgument(std::optional<qm::Variant>()), "?");
  EXPECT_EQ(RenderArgument(std::optional<std::int32_t>(4)), "4");
  EXPECT_EQ(RenderArgument(std::vector<std::uint8_t>{1}), "?");
  // The form's class is not the name of its source (ZipMgr and HTML2MHT are checked in their own tests).
  EXPECT_EQ(qm::frame::DefaultSource("Error"), "QuillmarkLibrary.frmError");
}

void ThrowsStandard(int which) {
  QM_FRAME_TRY {
    if (which == 0) throw std::bad_alloc();
    if (which == 1) (void)std::vector<int>().at(3);
    if (which == 2)
      throw std::filesystem::filesystem_error("x", std::make_error_code(std::errc::no_such_file_or_directory));
    if (which == 3) throw std::filesystem::filesystem_error("x", std::make_error_code(std::errc::permission_denied));
  }
  QM_FRAME_CATCH("LibMain", "Private Sub ThrowsStandard", which);
}

TEST(Frame, StandardExceptionsBecomeRuntimeErrors) {
  const std::pair<int, int> cases[] = {{0, 7}, {1, 9}, {2, 53}, {3, 70}};
  for (auto [which, number] : cases) {
    const qm::Error e = qm::test::RaisedBy([which = which] { ThrowsStandard(which); });
    EXPECT_EQ(e.Number(), number) << which;
    EXPECT_EQ(e.Description(), qm::StandardErrorText(number));
    EXPECT_EQ(e.Source(), "QuillmarkLibrary|[LibMain]Private Sub ThrowsStandard(" + std::to_string(which) + ")");
  }
}

void TracedOperation(const std::string& what) {
  QM_FRAME_TRY { qm::QMWriteLog(what); }
  QM_FRAME_CATCH("ScalarField", "Public Sub SetStreamValue", what);
}

// Each line is written only while the setting is "yes" in some case, without
// spaces; a log that cannot be written fails the traced call.
TEST(Log, OffUnlessTheSettingIsYesInAnyCaseAndAnUnwritableLogFailsTheTracedCall) {
  std::filesystem::remove(qm::LogFilePath());
  qm::DeleteSetting("Quillmark Library", "Init");
  qm::QMWriteLog("absent");
  EXPECT_FALSE(std::filesystem::exists(qm::LogFilePath()));
  std::string expected;
  for (const char* value : {"no", " yes", "y", "yes ", "YES", "yEs", "no"}) {
    SCOPED_TRACE(value);
    qm::SaveSetting("Quillmark Library", "Init", "Logging", value);
    qm::QMWriteLog(value);
    if (std::string_view(value).size() == 3 && value[0] != 'n') expected += value + std::string("\r\n");
    EXPECT_EQ(std::filesystem::exists(qm::LogFilePath()), !expected.empty());
    EXPECT_EQ(qm::test::ReadFile(qm::LogFilePath()), expected);
  }

  std::filesystem::remove(qm::LogFilePath());
  qm::SaveSetting("Quillmark Library", "Init", "Logging", "yes");
  std::filesystem::create_directory(qm::LogFilePath());  // a folder where the file should be
  const qm::Error e = qm::test::RaisedBy([] { TracedOperation("line"); });
  EXPECT_EQ(e.Number(), 75);
  EXPECT_EQ(e.Source(),
            "QuillmarkLibrary|[LibMain]Public Sub QMWriteLog(\"line\")|"
            "[ScalarField]Public Sub SetStreamValue(\"line\")");
  std::filesystem::remove(qm::LogFilePath());
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

// Inc adds an Integer 1 by default (the sum's type is Variant's, tested there).
TEST(QMGLobal, IncAddsIsNothingAndListSearches) {
  Variant v(std::int16_t{5});
  QMGLobal::Inc(v);
  EXPECT_EQ(v.TypeName() + " " + qm::CStr(v), "Integer 6");
  QMGLobal::Inc(v, Variant(2.5));
  EXPECT_EQ(qm::CDbl(v), 8.5);

  EXPECT_TRUE(qm::CBool(QMGLobal::IsNothing(nullptr)));
  auto list = std::make_shared<FakeList>();
  EXPECT_FALSE(qm::CBool(QMGLobal::IsNothing(list)));
  EXPECT_EQ(QMGLobal::FindListText(list, "x"), -1);
  list->Texts = {"a", "B", "b", "b"};
  list->Data = {10, 20, 30, 30};
  EXPECT_EQ(QMGLobal::FindListText(list, "b"), 2);
  EXPECT_EQ(QMGLobal::FindListItem(list, 30), 2);
  EXPECT_EQ(QMGLobal::FindListItem(list, 99), -1);
  // A list without the members fails with the late-binding error.
  const qm::Error e = qm::test::RaisedBy([] { QMGLobal::FindListItem(std::make_shared<qm::Collection>(), 3); });
  EXPECT_EQ(e.Number(), 438);
  EXPECT_EQ(e.Source(), "QuillmarkLibrary.QMGLobal|[QMGLobal]Public Function FindListItem(?, 3)");
}

TEST(QMGLobal, AssertRaises11000WithTheMessage) {
  EXPECT_NO_THROW(QMGLobal::Assert(true, "x"));
  for (std::string message : {"x", ""}) {
    const qm::Error e = qm::test::RaisedBy([&] { QMGLobal::Assert(false, message); });
    EXPECT_EQ(e.Number(), qm::ERR_ASSERTION);
    EXPECT_EQ(e.Description(), message);
    EXPECT_EQ(e.Source(), "QuillmarkLibrary.QMGLobal|[QMGLobal]Public Sub Assert(False, \"" + message + "\")");
  }
}

}  // namespace
