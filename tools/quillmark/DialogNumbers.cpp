#include "DialogNumbers.h"

#include <climits>

namespace qm::cli {

Numbers CheckedNumbers(const Invocation& call, const std::string& kind) {
  const auto whole = [&](std::string_view option, std::string_view fallback, std::int64_t low, std::int64_t high) {
    return call.Whole(call.Value(option, fallback), "--" + std::string(option), low, high);
  };
  Numbers n;
  n.Seconds = static_cast<std::int32_t>(whole("seconds", "0", 0, INT32_MAX));
  n.Tick = static_cast<std::int16_t>(whole("tick", "1", INT16_MIN, INT16_MAX));
  n.Index = static_cast<std::int32_t>(whole("index", "1", 0, INT32_MAX));
  if (kind == "slider") {
    n.Low = call.Number(call.Operand(1, "0"), "MIN");
    n.High = call.Number(call.Operand(2, "100"), "MAX");
    n.Default = call.Number(call.Value("default", "0"), "--default");
  } else {
    n.Default = static_cast<double>(whole("default", "0", 0, INT16_MAX));
  }
  if (kind == "color" && call.Operands().size() > 1)
    n.Colour = static_cast<std::int32_t>(call.Whole(call.Operand(1), "DEFAULT", 0, 0xFFFFFF));
  return n;
}

}  // namespace qm::cli
