#pragma once
// Shared by the preview tests: a desktop that records message boxes
// (everything else goes to the Qt desktop), stand-in programs on the
// PATH, and a small report on disk.

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/StubDesktop.h"
#include "support/TestEnvironment.h"
#include "ui/QtDesktop.h"
#include "ui/UiTestSupport.h"

namespace qm::test {

struct RecordedMessage {
  std::string Prompt;
  std::int32_t Buttons;
};

/// The Qt desktop, with message boxes recorded instead of shown.
class RecordingDesktop final : public platform::Desktop {
 public:
  std::vector<RecordedMessage> Messages;

  bool HasUserInterface() const override { return qt_.HasUserInterface(); }
  void ShowPreview(const platform::PreviewRequest& request) override { qt_.ShowPreview(request); }
  void PrintDetached(const std::string& htmlFile) override { qt_.PrintDetached(htmlFile); }
  std::int32_t MessageBox(const std::string& prompt, std::int32_t buttons, const std::string&) override {
    Messages.push_back({prompt, buttons});
    return 1;
  }
  void SetMousePointer(platform::MousePointer pointer) override { qt_.SetMousePointer(pointer); }
  double TwipsPerPixelX() const override { return qt_.TwipsPerPixelX(); }
  double TwipsPerPixelY() const override { return qt_.TwipsPerPixelY(); }
  std::int32_t Metric(platform::SystemMetric metric) const override { return qt_.Metric(metric); }
  void DoEvents() override { qt_.DoEvents(); }
  void SetCursorPos(std::int32_t x, std::int32_t y) override { qt_.SetCursorPos(x, y); }
  void GetCursorPos(std::int32_t& x, std::int32_t& y) override { qt_.GetCursorPos(x, y); }
  void SendMouseButton(platform::MouseButtonEvent event) override { qt_.SendMouseButton(event); }
  platform::ScreenRect GetWindowRect(std::int64_t hwnd) override { return qt_.GetWindowRect(hwnd); }
  platform::ScreenRect GetDesktopRect() override { return qt_.GetDesktopRect(); }
  void SetTopMost(std::int64_t hwnd, bool topMost) override { qt_.SetTopMost(hwnd, topMost); }

 private:
  ui::QtDesktop qt_;
};

/// Installs a RecordingDesktop for the test's lifetime, then the Qt desktop again.
using RecordingScope = DesktopScope<RecordingDesktop, ui::QtDesktop>;

/// Puts a folder first on the PATH (or makes it the whole PATH) for the
/// test's lifetime.
class PathScope {
 public:
  PathScope(const std::filesystem::path& folder, bool only) : old_(std::getenv("PATH") ? std::getenv("PATH") : "") {
    const std::string path = only ? folder.string() : folder.string() + ":" + old_;
    ::setenv("PATH", path.c_str(), 1);
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
    auto& dialog = static_cast<QFileDialog&>(w);
    if (name.empty()) return dialog.reject();
    if (auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
      edit->setText(QString::fromStdString(name));
    else
      dialog.selectFile(QString::fromStdString(name));
    static_cast<QDialog&>(dialog).accept();
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
std::string WriteReport(const ScratchDir& dir);

}  // namespace qm::test
