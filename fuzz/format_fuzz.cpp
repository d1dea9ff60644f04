// Format with any format text on values of every kind: a clear qm::Error or a
// result, never a crash, hang or leak. The first byte picks the value; the
// rest, up to the first NUL, is the value's text, and what follows is the format.
// The same texts go through Like (both compare methods) and the letter-case helpers.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "quillmark/errors/Error.h"
#include "quillmark/runtime/Format.h"
#include "quillmark/runtime/Like.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const auto nul = rest.find('\0');
  const std::string text = nul == std::string::npos ? rest : rest.substr(0, nul);
  const std::string format = nul == std::string::npos ? rest : rest.substr(nul + 1);
  qm::Variant value;
  double number = 0;
  std::memcpy(&number, text.data(), std::min(text.size(), sizeof number));
  switch (data[0] % 8) {
    case 0: value = qm::Variant(text); break;
    case 1: value = qm::Variant(qm::Val(text)); break;
    case 2: value = qm::Variant(number); break;
    case 3: value = qm::Variant(qm::Date{qm::Val(text)}); break;
    case 4:
      value = qm::Variant(static_cast<std::int32_t>(qm::Val(text) > 2e9    ? 0
                                                    : qm::Val(text) < -2e9 ? 0
                                                                           : qm::Val(text)));
      break;
    case 5: value = qm::Variant(qm::Null); break;
    case 6: value = qm::Variant(text.size() % 2 == 0); break;
    default: break;  // Empty
  }
  try {
    const std::string out = qm::Format(value, format, static_cast<qm::VbDayOfWeek>(1 + data[0] / 8 % 7));
    (void)out;
  } catch (const qm::Error&) {}
  // The typed entries: a double as it is, and a date and time whose calendar
  // parts are given rather than split from a serial (about 12,000 years either
  // side of 1970, any weekday number).
  try {
    (void)qm::Format(number, format);
  } catch (const qm::Error&) {}
  try {
    std::int64_t seconds = 0;
    std::memcpy(&seconds, text.data(), std::min(text.size(), sizeof seconds));
    const std::chrono::local_seconds when{std::chrono::seconds(seconds % 400'000'000'000)};
    (void)qm::Format(when, format, std::chrono::weekday(data[0] % 8));
  } catch (const qm::Error&) {}
  try {
    (void)qm::Like(text, format);
  } catch (const qm::Error&) {}
  try {
    (void)qm::Like(text, format, qm::TextCompare);
  } catch (const qm::Error&) {}
  // Letter case: any bytes decode and encode back to themselves, and map
  // without failing.
  std::string again;
  for (std::size_t at = 0; at < text.size();) qm::AppendCodePoint(again, qm::NextCodePoint(text, at));
  if (again != text || !qm::EqualsIgnoringCase(text, text)) __builtin_trap();
  (void)qm::CompareIgnoringCase(qm::UCase(text), qm::LCase(format));
  (void)qm::FoldCase(text);
  return 0;
}
