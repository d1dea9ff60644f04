#pragma once
// Mouse: moves the cursor, synthesises button presses and releases as if the
// user made them, reads the cursor position and reports a window's screen
// rectangle. Coordinates are screen pixels, origin at the top left corner.
//
// Under X11 the cursor is the server's and buttons go through the XTest
// extension, so any window of the display receives them. On the offscreen
// platform the cursor is Qt's own and buttons raise 9999; on Wayland moving
// the cursor and buttons raise 9999 (a client may not synthesise them there).
// The events are sent at once; nothing waits for a window to react.

#include <cstdint>
#include <memory>

#include "quillmark/Export.h"
#include "quillmark/automation/RectLong.h"
#include "quillmark/values/Object.h"

namespace qm::ui {

/// Moves the cursor, presses and releases buttons as if the user did, reads the
/// cursor position and a window's rectangle; screen pixels from the top left.
class QUILLMARK_EXPORT Mouse {
 public:
  /// Puts the cursor at screen pixel (x, y).
  void Move(std::int32_t x, std::int32_t y);
  /// LeftDown, then LeftUp.
  void Click();
  /// RightDown, then RightUp.
  void RightClick();
  ///@{
  /// Presses or releases a button at the cursor, as the user would; 9999 where
  /// the platform cannot synthesise buttons (the offscreen platform).
  void LeftDown();
  void LeftUp();
  void RightDown();
  void RightUp();
  ///@}
  /// Click twice, with no pause between.
  void DoubleClick();
  ///@{
  /// The cursor's position in screen pixels from the top left.
  std::int32_t GetX();
  std::int32_t GetY();
  ///@}
  /// The outer screen rectangle of the window whose handle is the object's
  /// `hwnd` property (a Qt window id, or under X11 any window of the display);
  /// 9999 "GetWindowExtent failed" for an unknown window.
  std::shared_ptr<RectLong> GetWindowExtent(const ObjectPtr& Object);
};

}  // namespace qm::ui
