#pragma once
// A desktop without a screen for the tests: every request does nothing, a
// pixel is 15 twips and message boxes answer 1. Tests derive from it and
// override what they watch, and install theirs for a scope.

#include <memory>
#include <type_traits>

#include "quillmark/platform/Desktop.h"

namespace qm::test {

struct StubDesktop : platform::Desktop {
  bool HasUserInterface() const override { return false; }
  void ShowPreview(const platform::PreviewRequest&) override {}
  void PrintDetached(const std::string&) override {}
  std::int32_t MessageBox(const std::string&, std::int32_t, const std::string&) override { return 1; }
  void SetMousePointer(platform::MousePointer) override {}
  double TwipsPerPixelX() const override { return 15; }
  double TwipsPerPixelY() const override { return 15; }
  std::int32_t Metric(platform::SystemMetric) const override { return 0; }
  void DoEvents() override {}
  void SetCursorPos(std::int32_t, std::int32_t) override {}
  void GetCursorPos(std::int32_t& x, std::int32_t& y) override { x = y = 0; }
  void SendMouseButton(platform::MouseButtonEvent) override {}
  platform::ScreenRect GetWindowRect(std::int64_t) override { return {}; }
  platform::ScreenRect GetDesktopRect() override { return {}; }
  void SetTopMost(std::int64_t, bool) override {}
};

/// Installs a new T as the desktop for the scope's lifetime, then a new
/// `After` (the headless desktop when void).
template <class T, class After = void>
class DesktopScope {
 public:
  template <class... Args>
  explicit DesktopScope(Args&&... args) {
    auto desktop = std::make_unique<T>(std::forward<Args>(args)...);
    desktop_ = desktop.get();
    platform::Install(std::move(desktop));
  }
  ~DesktopScope() {
    if constexpr (std::is_void_v<After>) platform::Install(nullptr);
    else platform::Install(std::make_unique<After>());
  }
  DesktopScope(const DesktopScope&) = delete;
  DesktopScope& operator=(const DesktopScope&) = delete;
  T& operator*() const { return *desktop_; }
  T* operator->() const { return desktop_; }

 private:
  T* desktop_;
};

}  // namespace qm::test
