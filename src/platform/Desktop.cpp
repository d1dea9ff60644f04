#include "quillmark/platform/Desktop.h"

#include <algorithm>
#include <cstdint>
#include <mutex>

#include "platform/HeadlessDesktop.h"
#include "quillmark/errors/Error.h"
#include "quillmark/values/Conversions.h"

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

Desktop& Headless() { return TheInstalled().Headless; }

void Install(std::unique_ptr<Desktop> desktop) {
  Installed& installed = TheInstalled();
  std::lock_guard lock(installed.Lock);
  installed.Current = std::move(desktop);
}

void Desktop::BringToTop(std::int64_t) { RaiseNoUserInterface(); }

std::int32_t Desktop::TextWidth(std::int64_t, const std::string& text) {
  const auto characters = static_cast<std::int64_t>(CharLength(text));
  return static_cast<std::int32_t>(std::min<std::int64_t>(characters * 7, INT32_MAX));
}

void RaiseNoUserInterface() { Raise(ERR_NoUserInterface, errc::unavailable, std::string(kNoUserInterfaceText)); }

}  // namespace qm::platform
