#pragma once
// The desktop of a process without a user interface.

#include "quillmark/platform/Desktop.h"

namespace qm::platform {

class HeadlessDesktop final : public Desktop {
 public:
  bool HasUserInterface() const override { return false; }
  void ShowPreview(const PreviewRequest&) override { RaiseNoUserInterface(); }
  void PrintDetached(const std::string&) override { RaiseNoUserInterface(); }
  /// Writes the title and prompt to standard error and answers OK.
  std::int32_t MessageBox(const std::string& prompt, std::int32_t buttons, const std::string& title) override;
  /// There is no pointer to change.
  void SetMousePointer(MousePointer) override {}
  MousePointer GetMousePointer() const override { return MousePointer::Default; }
  /// The metrics of a 96 dpi screen.
  double TwipsPerPixelX() const override { return 15.0; }
  double TwipsPerPixelY() const override { return 15.0; }
  std::int32_t Metric(SystemMetric metric) const override;
  /// There are no events to process.
  void DoEvents() override {}
  void SetCursorPos(std::int32_t, std::int32_t) override { RaiseNoUserInterface(); }
  void GetCursorPos(std::int32_t&, std::int32_t&) override { RaiseNoUserInterface(); }
  void SendMouseButton(MouseButtonEvent) override { RaiseNoUserInterface(); }
  ScreenRect GetWindowRect(std::int64_t) override { RaiseNoUserInterface(); }
  ScreenRect GetDesktopRect() override { RaiseNoUserInterface(); }
  void SetTopMost(std::int64_t, bool) override { RaiseNoUserInterface(); }
  void BringToTop(std::int64_t) override { RaiseNoUserInterface(); }
};

}  // namespace qm::platform
