#include "quillmark/frame/Trail.h"

namespace qm {

std::vector<std::string> Trail(std::string_view source) {
  std::vector<std::string> pieces;
  if (source.empty()) return pieces;
  for (;;) {
    const std::size_t bar = source.find('|');
    pieces.emplace_back(source.substr(0, bar));
    if (bar == std::string_view::npos) return pieces;
    source.remove_prefix(bar + 1);
  }
}

std::vector<std::string> Trail(const Error& error) { return Trail(error.Source()); }

}  // namespace qm
