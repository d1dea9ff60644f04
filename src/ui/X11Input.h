#pragma once
// A connection of our own to the X server: moves and reads the cursor, sends
// button events through the XTest extension, and reads window rectangles.
// No X11 header leaks out of this file (its macros clash with Qt's names).

#include <cstdint>
#include <memory>

#include "quillmark/platform/Desktop.h"

namespace qm::ui {

class X11Input {
 public:
  /// Connects to $DISPLAY; null when that fails.
  static std::unique_ptr<X11Input> Open();
  struct Connection;
  explicit X11Input(std::unique_ptr<Connection> connection);
  ~X11Input();
  X11Input(const X11Input&) = delete;
  X11Input& operator=(const X11Input&) = delete;

  /// True when the server offers the XTest extension.
  bool HasXTest() const;

  void MoveCursor(std::int32_t x, std::int32_t y);
  void CursorPos(std::int32_t& x, std::int32_t& y);
  /// Presses or releases button 1 (left), 2 (middle) or 3 (right) where the
  /// cursor is; needs XTest.
  void Button(unsigned button, bool press);
  /// The window's outer rectangle in root coordinates (its window-manager
  /// frame included); false for a window that does not exist.
  bool WindowRect(std::int64_t window, platform::ScreenRect& rect);
  /// Asks the window manager to keep the window above others (or not).
  bool KeepAbove(std::int64_t window, bool above);

 private:
  std::unique_ptr<Connection> connection_;
};

}  // namespace qm::ui
