#include "quillmark/ui/Application.h"

#include <QApplication>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "quillmark/errors/Error.h"
#include "quillmark/platform/Desktop.h"
#include "ui/QtDesktop.h"
#include "ui/X11Input.h"

namespace qm::ui {
namespace {

bool HasEnv(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// Why no QApplication can be started, or the empty string when one can.
// Qt aborts the process when its platform plugin cannot connect, so the
// display is tried here first.
std::string WhyNoDisplay() {
  if (HasEnv("QT_QPA_PLATFORM")) return {};
  if (HasEnv("WAYLAND_DISPLAY")) return {};
  if (!HasEnv("DISPLAY")) return "no display (set DISPLAY, or QT_QPA_PLATFORM=offscreen)";
  // Trying a display can take a while: the answer is kept per display name.
  static std::mutex lock;
  static std::string probed;
  static bool opens = false;
  const std::string display = std::getenv("DISPLAY");
  std::lock_guard guard(lock);
  if (probed != display) {
    opens = X11Input::Open() != nullptr;
    probed = display;
  }
  if (!opens) return "cannot open display " + display;
  return {};
}

// The one platform installed by loading this library: core's headless desktop
// is replaced as soon as the shared library is in the process.
const bool kQtDesktopInstalled = [] {
  platform::Install(std::make_unique<QtDesktop>());
  return true;
}();

}  // namespace

bool CanShowWindows() {
  if (QCoreApplication::instance()) return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
  return WhyNoDisplay().empty();
}

void EnsureApplication() {
  (void)kQtDesktopInstalled;
  if (QCoreApplication::instance()) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
      Raise(platform::ERR_NoUserInterface, errc::unavailable,
            "No user interface is available: the process runs a QCoreApplication, not a QApplication");
    return;
  }
  if (std::string why = WhyNoDisplay(); !why.empty())
    Raise(platform::ERR_NoUserInterface, errc::unavailable, "No user interface is available: " + why);
  // Started once for the rest of the process and deliberately never deleted:
  // at exit Qt's own globals are already gone, so deleting it then could crash.
  static int argc = 1;
  static char name[] = "quillmark";
  static char* argv[] = {name, nullptr};
  static QApplication* const application = std::make_unique<QApplication>(argc, argv).release();
  (void)application;
}

}  // namespace qm::ui
