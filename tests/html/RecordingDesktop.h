#pragma once
// A desktop that records what the library asks of it, installed for the
// lifetime of a `DesktopInstaller`.

#include <string>
#include <vector>

#include "support/StubDesktop.h"

namespace qm::test {

class RecordingDesktop final : public StubDesktop {
 public:
  std::vector<platform::PreviewRequest> Previews;
  std::vector<std::string> Printed;
  std::vector<std::string> Messages;
  std::vector<platform::MousePointer> Pointers;
  platform::MousePointer Pointer = platform::MousePointer::Arrow;

  bool HasUserInterface() const override { return true; }
  void ShowPreview(const platform::PreviewRequest& request) override { Previews.push_back(request); }
  void PrintDetached(const std::string& htmlFile) override { Printed.push_back(htmlFile); }
  std::int32_t MessageBox(const std::string& prompt, std::int32_t, const std::string&) override {
    Messages.push_back(prompt);
    return 1;
  }
  void SetMousePointer(platform::MousePointer pointer) override {
    Pointer = pointer;
    Pointers.push_back(pointer);
  }
  platform::MousePointer GetMousePointer() const override { return Pointer; }
};

/// Installs a RecordingDesktop and puts the headless one back at the end.
using DesktopInstaller = DesktopScope<RecordingDesktop>;

}  // namespace qm::test
