#pragma once
// Button events for this process's own windows, where the window system
// offers no way to synthesise them (Qt's offscreen platform, Wayland): the
// button enters Qt where the window system's events enter it, for the window
// under Qt's cursor, so Qt treats it as a real one (focus on press, double
// clicks, input blocked by modal windows). Windows of other programs cannot
// be reached this way.

#include <QElapsedTimer>
#include <Qt>

#include "quillmark/platform/Desktop.h"

namespace qm::ui {

class WindowInput {
 public:
  WindowInput();

  /// Delivers the event at Qt's cursor position; false when no window of
  /// this process is there.
  bool Send(platform::MouseButtonEvent event);

 private:
  Qt::MouseButtons held_;
  QElapsedTimer clock_;  // the events' time stamps, which double clicks are measured by
};

}  // namespace qm::ui
