#include "quillmark/platform/Desktop.h"

#include <mutex>

#include "platform/HeadlessDesktop.h"
#include "quillmark/frame/Error.h"

namespace qm::platform {
namespace {

// The installed desktop; the ui library installs its own when it is loaded.
struct Installed {
  std::mutex Lock;
  std::unique_ptr<Desktop> Current;
  HeadlessDesktop Headless;
};

Installed& TheInstalled() {
  static Installed installed;
  return installed;
}

}  // namespace

Desktop& Current() {
  Installed& installed = TheInstalled();
  std::lock_guard lock(installed.Lock);
  if (installed.Current) return *installed.Current;
  return installed.Headless;
}

void Install(std::unique_ptr<Desktop> desktop) {
  Installed& installed = TheInstalled();
  std::lock_guard lock(installed.Lock);
  installed.Current = std::move(desktop);
}

void RaiseNoUserInterface() { Raise(ERR_NoUserInterface, kNoUserInterfaceText); }

}  // namespace qm::platform
