#pragma once
// Shared by the preview tests: a desktop that records message boxes, stand-in
// programs on the PATH, and a small report on disk.

#include <QDialog>
#include <QImage>
#include <QLineEdit>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/StubDesktop.h"
#include "support/TestEnvironment.h"
#include "ui/QtDesktop.h"
#include "ui/UiTestSupport.h"

namespace qm::test {

/// A desktop without a screen that records each message box as its prompt, a
/// blank and its buttons.
class RecordingDesktop final : public StubDesktop {
 public:
  std::vector<std::string> Messages;

  std::int32_t MessageBox(const std::string& prompt, std::int32_t buttons, const std::string&) override {
    Messages.push_back(prompt + " " + std::to_string(buttons));
    return 1;
  }
};

/// Installs a RecordingDesktop for the test's lifetime, then the Qt desktop again.
using RecordingScope = DesktopScope<RecordingDesktop, ui::QtDesktop>;

/// Puts a folder first on the PATH (or makes it the whole PATH) for the
/// test's lifetime.
class PathScope {
 public:
  PathScope(const std::filesystem::path& folder, bool only) : old_(std::getenv("PATH") ? std::getenv("PATH") : "") {
    ::setenv("PATH", (only ? folder.string() : folder.string() + ":" + old_).c_str(), 1);
  }
  ~PathScope() { ::setenv("PATH", old_.c_str(), 1); }
  PathScope(const PathScope&) = delete;
  PathScope& operator=(const PathScope&) = delete;

 private:
  std::string old_;
};

/// Answers the next save dialog with a name, or cancels it with "". A dialog
/// still reading its folder may ignore an accept: it is tried again.
inline void AnswerSaveDialog(const std::string& name, int triesLeft = 100) {
  OnModal("QFileDialog", [name, triesLeft](QWidget& w) {
    auto& dialog = static_cast<QDialog&>(w);
    if (name.empty()) return dialog.reject();
    Child<QLineEdit>(w, "fileNameEdit")->setText(QString::fromStdString(name));
    dialog.accept();
    if (!dialog.isVisible()) return;
    if (triesLeft > 0) return AnswerSaveDialog(name, triesLeft - 1);
    ADD_FAILURE() << "the save dialog does not take " << name;
    dialog.reject();
  });
}

/// Writes an executable shell script.
inline void WriteScript(const std::string& path, const std::string& body) {
  WriteFile(path, "#!/bin/sh\n" + body);
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

/// A report of three pages (two page breaks) with a picture, as the
/// typographer writes it; returns the page's name.
inline std::string WriteReport(const ScratchDir& dir) {
  std::filesystem::create_directories(dir.Path() / "pics");
  QImage chart(120, 60, QImage::Format_RGB32);
  chart.fill(QColor(200, 30, 30));
  chart.save(QString::fromStdString(dir / "pics/Chart.png"), "PNG");
  const std::string page = dir / "report.html";
  WriteFile(page,
            "<HTML>\r\n<HEAD>\r\n<TITLE>Quarterly report</TITLE>\r\n"
            "<STYLE>  H6 { page-break-before: always }</STYLE>\r\n</HEAD><BODY>\r\n\r\n"
            "<H1>\r\nSales by region\r\n</H1>\r\n"
            "<TABLE  border=1 cellPadding=2 width=\"100%\" >\r\n<TR>\r\n<TD valign=top \r\n align=left \r\n>\r\n"
            "North\r\n</TD>\r\n<TD valign=top \r\n align=right \r\n>\r\n1200\r\n</TD>\r\n</TR>\r\n</TABLE>\r\n"
            "<IMG alt=\"\" src=\"PICS\\CHART.PNG\" border=0>\r\n"
            "<IMG alt=\"\" src=\"missing/gone.gif\" border=0>\r\n<H6></H6>\r\nSecond page text\r\n<H6></H6>\r\nThird "
            "page text\r\n</BODY>\r\n\r\n</HTML>\r\n");
  return page;
}

}  // namespace qm::test
