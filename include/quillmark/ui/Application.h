#pragma once

#include "quillmark/Export.h"
// Starting Qt on demand.
//
// Every window of the ui library runs inside a QApplication. A caller that has
// its own keeps it; otherwise the first call that needs a window starts one
// (it then lives until the process ends). Without a display (no DISPLAY, no
// WAYLAND_DISPLAY) and without QT_QPA_PLATFORM, such a call raises 9999
// instead of letting Qt abort the process.

namespace qm::ui {

/// Makes sure a QApplication exists, starting one if needed; raises 9999
/// "No user interface is available: ..." when none can be started.
QUILLMARK_EXPORT void EnsureApplication();

/// True when a QApplication exists or one could be started.
QUILLMARK_EXPORT bool CanShowWindows();

}  // namespace qm::ui
