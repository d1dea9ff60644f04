#pragma once
// The Qt desktop: what qm::platform::Desktop offers, on Qt 6 Widgets and,
// under X11, on the X server directly for the mouse.

#include <memory>

#include "quillmark/platform/Desktop.h"

namespace qm::ui {

class WindowInput;
class X11Input;

class QtDesktop final : public platform::Desktop {
 public:
  QtDesktop();
  ~QtDesktop() override;

  bool HasUserInterface() const override;
  /// The preview window, modal; printing through the detached helper.
  void ShowPreview(const platform::PreviewRequest& request) override;
  void PrintDetached(const std::string& htmlFile) override;
  /// A QMessageBox built from the run-time's MsgBox style flags.
  std::int32_t MessageBox(const std::string& prompt, std::int32_t buttons, const std::string& title) override;
  /// The application's override cursor.
  void SetMousePointer(platform::MousePointer pointer) override;
  /// 1440 / the primary screen's logical dots per inch (15 at 96 dpi); the
  /// headless values when no window can be shown.
  double TwipsPerPixelX() const override;
  double TwipsPerPixelY() const override;
  /// Caption and frame from the style, menu height from a menu bar's size.
  std::int32_t Metric(platform::SystemMetric metric) const override;
  void DoEvents() override;
  /// X11: the server's pointer (XTest for buttons). Offscreen: Qt's own
  /// cursor, and buttons go to this program's window under it. Wayland:
  /// moving raises; buttons go to this program's window under the pointer.
  void SetCursorPos(std::int32_t x, std::int32_t y) override;
  void GetCursorPos(std::int32_t& x, std::int32_t& y) override;
  void SendMouseButton(platform::MouseButtonEvent event) override;
  /// A window of this process by its Qt window id, else (X11) any window of
  /// the display; 9999 "GetWindowExtent failed" for an unknown handle.
  platform::ScreenRect GetWindowRect(std::int64_t hwnd) override;
  platform::ScreenRect GetDesktopRect() override;
  void SetTopMost(std::int64_t hwnd, bool topMost) override;

 private:
  /// The X server connection, when Qt runs on xcb; null otherwise.
  X11Input* X11();
  std::unique_ptr<X11Input> x11_;
  bool x11Tried_ = false;
  std::unique_ptr<WindowInput> windowInput_;
};

}  // namespace qm::ui
