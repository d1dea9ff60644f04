#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "quillmark/frame/Error.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/ui/Control.h"
#include "quillmark/ui/frmError.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"
#include "ui/UiTestSupport.h"

namespace {

using qm::test::Child;
using qm::test::OnModal;

void Inner(std::int32_t depth) {
  QM_FRAME_TRY {
    qm::Raise(9999, "Disk full");
  } QM_FRAME_CATCH("QMStream", "Private Sub Inner", depth);
}
void Middle() {
  QM_FRAME_TRY {
    Inner(3);
  } QM_FRAME_CATCH("QMStream", "Public Sub Middle");
}
void Outer(const std::string& name) {
  QM_FRAME_TRY {
    Middle();
  } QM_FRAME_CATCH("QMStream", "Public Sub Outer", name);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0, end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, text.size()) << "every line ends in CR LF";
  return lines;
}

class ErrorReporterTest : public qm::test::UiTest {};

TEST_F(ErrorReporterTest, ShowsTheTrailAndLogsIt) {
  const qm::Error e = qm::test::RaisedBy([] { Outer("orders"); });
  qm::ui::frmError reporter;
  int shown = 0;
  OnModal("frmError", [&](QWidget& w) {
    ++shown;
    EXPECT_EQ(w.windowTitle().toStdString(), "Error");
    EXPECT_EQ(Child<QLabel>(w, "lblError")->text().toStdString(), "Disk full");
    auto* list = Child<QListWidget>(w, "lstStackDump");
    ASSERT_EQ(list->count(), 4);
    EXPECT_EQ(list->item(0)->text().toStdString(), "QuillmarkLibrary.QMStream");
    EXPECT_EQ(list->item(1)->text().toStdString(), "[QMStream]Private Sub Inner(3)");
    EXPECT_EQ(list->item(3)->text().toStdString(), "[QMStream]Public Sub Outer(\"orders\")");
    // Collapsed, the list lies below the window's bottom edge; Details shows it.
    EXPECT_LT(w.height(), list->y());
    auto* details = Child<QPushButton>(w, "cmdDetails");
    QTest::mouseClick(details, Qt::LeftButton);
    EXPECT_FALSE(details->isEnabled());
    EXPECT_GE(w.height(), list->y() + list->height());
    // A second report while this one is open returns at once.
    reporter.HandleError("other", "Other error");
    QTest::mouseClick(Child<QPushButton>(w, "cmdOK"), Qt::LeftButton);
  });
  reporter.HandleError(e.Source(), e.Description());
  EXPECT_EQ(shown, 1);

  const auto lines = Lines(qm::test::ReadFile(qm::ui::frmError::LogFile()));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_TRUE(lines[0].starts_with("Error Disk full at ")) << lines[0];
  EXPECT_EQ(lines[1], "Call Stack : ");
  EXPECT_EQ(lines[2], "QuillmarkLibrary.QMStream");
  EXPECT_EQ(lines[5], "[QMStream]Public Sub Outer(\"orders\")");
  EXPECT_TRUE(qm::ui::frmError::LogFile().ends_with("/Error Log Quillmark Libraries.log"));
}

TEST_F(ErrorReporterTest, IgnoreAllSuppressesTheSameErrorOnly) {
  qm::ui::frmError reporter;
  int shown = 0;
  OnModal("frmError", [&](QWidget& w) {
    ++shown;
    EXPECT_EQ(Child<QListWidget>(w, "lstStackDump")->count(), 1);
    QTest::mouseClick(Child<QPushButton>(w, "cmdIgnoreAll"), Qt::LeftButton);
  });
  reporter.HandleError("QuillmarkLibrary", "Locked");
  EXPECT_EQ(shown, 1);
  std::filesystem::remove(qm::ui::frmError::LogFile());

  reporter.HandleError("QuillmarkLibrary", "Locked");  // ignored: no window, no log
  EXPECT_EQ(shown, 1);
  EXPECT_FALSE(std::filesystem::exists(qm::ui::frmError::LogFile()));

  OnModal("frmError", [&](QWidget& w) {
    ++shown;
    EXPECT_EQ(Child<QListWidget>(w, "lstStackDump")->count(), 2);
    QTest::keyClick(&w, Qt::Key_Return);
  });
  reporter.HandleError("QuillmarkLibrary|[Dialog]Public Sub X()", "Locked");  // another trail
  EXPECT_EQ(shown, 2);
  const auto lines = Lines(qm::test::ReadFile(qm::ui::frmError::LogFile()));
  ASSERT_EQ(lines.size(), 4u);  // overwritten, not appended
  EXPECT_EQ(lines[3], "[Dialog]Public Sub X()");
}

}  // namespace
