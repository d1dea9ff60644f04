#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "quillmark/frame/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/runtime/Variant.h"
#include "support/ErrorOf.h"

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
  EXPECT_EQ(e.Number(), 13);
  EXPECT_EQ(e.Description(), "inner failed");
  EXPECT_STREQ(e.what(), "inner failed");
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
    const qm::Error e = qm::test::RaisedBy([which] { ThrowsStandard(which); });
    EXPECT_EQ(e.Number(), number) << which;
    EXPECT_EQ(e.Description(), qm::StandardErrorText(number));
    EXPECT_EQ(e.Source(), "QuillmarkLibrary|[LibMain]Private Sub ThrowsStandard(" + std::to_string(which) + ")");
  }
}

}  // namespace
