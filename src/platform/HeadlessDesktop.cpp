#include "platform/HeadlessDesktop.h"

#include <iostream>

namespace qm::platform {

std::int32_t HeadlessDesktop::MessageBox(const std::string& prompt, std::int32_t, const std::string& title) {
  std::cerr << (title.empty() ? std::string("Quillmark Library") : title) << ": " << prompt << '\n';
  return 1;  // OK
}

std::int32_t HeadlessDesktop::Metric(SystemMetric metric) const {
  switch (metric) {
    case SystemMetric::CaptionHeight: return 23;
    case SystemMetric::BorderWidth:
    case SystemMetric::BorderHeight: return 4;
    case SystemMetric::MenuHeight: return 20;
    case SystemMetric::ScreenWidth: return 1024;
    case SystemMetric::ScreenHeight: return 768;
  }
  return 0;
}

}  // namespace qm::platform
