#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "quillmark/ui/frmError.h"
#include "support/TestEnvironment.h"
#include "ui/UiTestSupport.h"

namespace {

using qm::test::Child;
using qm::test::OnModal;
using qm::ui::frmError;

class ErrorReporterTest : public qm::test::UiTest {};

// The log holds one report: the error, a time, and the trail one element a line.
void ExpectLog(const std::string& error, const std::string& trail) {
  const std::string log = qm::test::ReadFile(frmError::LogFile());
  EXPECT_TRUE(log.starts_with("Error " + error + " at ")) << log;
  EXPECT_TRUE(log.ends_with("\r\nCall Stack : \r\n" + trail)) << log;
}

TEST_F(ErrorReporterTest, ShowsTheTrailAndLogsIt) {
  qm::test::WriteFile(frmError::LogFile(), "an older report\r\n");  // overwritten, not appended
  frmError reporter;
  int shown = 0;
  OnModal("frmError", [&](QWidget& w) {
    ++shown;
    EXPECT_EQ(Child<QLabel>(w, "lblError")->text().toStdString(), "Disk full");
    auto* list = Child<QListWidget>(w, "lstStackDump");
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(0)->text().toStdString(), "QuillmarkLibrary.QMStream");
    EXPECT_EQ(list->item(2)->text().toStdString(), "[QMStream]Public Sub Outer(\"orders\")");
    // A second report while this one is open returns at once.
    reporter.HandleError("other", "Other error");
    QTest::mouseClick(Child<QPushButton>(w, "cmdOK"), Qt::LeftButton);
  });
  reporter.HandleError(
      "QuillmarkLibrary.QMStream|[QMStream]Private Sub Inner(3)|[QMStream]Public Sub Outer(\"orders\")", "Disk full");
  EXPECT_EQ(shown, 1);

  EXPECT_TRUE(frmError::LogFile().ends_with("/Error Log Quillmark Libraries.log"));
  ExpectLog(
      "Disk full",
      "QuillmarkLibrary.QMStream\r\n[QMStream]Private Sub Inner(3)\r\n[QMStream]Public Sub Outer(\"orders\")\r\n");
}

TEST_F(ErrorReporterTest, IgnoreAllSuppressesTheSameErrorOnly) {
  frmError reporter;
  int shown = 0;
  OnModal("frmError", [&](QWidget& w) {
    ++shown;
    QTest::mouseClick(Child<QPushButton>(w, "cmdIgnoreAll"), Qt::LeftButton);
  });
  reporter.HandleError("QuillmarkLibrary", "Locked");
  EXPECT_EQ(shown, 1);
  std::filesystem::remove(frmError::LogFile());

  reporter.HandleError("QuillmarkLibrary", "Locked");  // ignored: no window, no log
  EXPECT_EQ(shown, 1);
  EXPECT_FALSE(std::filesystem::exists(frmError::LogFile()));

  OnModal("frmError", [&](QWidget& w) {
    ++shown;
    QTest::keyClick(&w, Qt::Key_Return);
  });
  reporter.HandleError("QuillmarkLibrary|[Dialog]Public Sub X()", "Locked");  // another trail
  EXPECT_EQ(shown, 2);
  ExpectLog("Locked", "QuillmarkLibrary\r\n[Dialog]Public Sub X()\r\n");
}

}  // namespace
