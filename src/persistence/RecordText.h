#pragma once
// Small text helpers shared by QMStream's record readers and writers. Blanks
// are U+0020 only, as the record format indents with blanks.

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "quillmark/persistence/ScalarFields.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Text.h"

namespace qm::detail {

inline std::string_view LTrimView(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

inline std::string_view TrimView(std::string_view text) {
  text = LTrimView(text);
  const auto last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

/// The text after a marker of `length` characters ("" for shorter text).
inline std::string_view After(std::string_view text, std::size_t length) {
  return text.size() > length ? text.substr(length) : std::string_view{};
}

/// True for "true" and "vrai" in any case.
inline bool ReadBoolean(std::string_view text) {
  return EqualsIgnoringCase(text, "true") || EqualsIgnoringCase(text, "vrai");
}

/// An ST_Integer field's text: plain decimal directly, anything else
/// (fractions, exponents, overflow, no number) by the general conversion
/// and its errors (13, 6).
inline std::int32_t ReadIntegerText(std::string_view text) {
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc() && end == text.data() + text.size() && !text.empty()) return value;
  return CLng(Variant(text));
}

/// An ST_String field's text: CR LF is written as the two characters \n.
inline std::string StringToText(const std::string& value) {
  return value.find('\r') == std::string::npos ? value : ReplaceAll(value, "\r\n", "\\n");
}

/// An ST_String field's value from its text: \n back to CR LF.
inline std::string StringFromText(std::string_view text) {
  if (text.find("\\n") == std::string_view::npos) return std::string(text);
  return ReplaceAll(std::string(text), "\\n", "\r\n");
}

/// Field names compare without regard to case; the same bytes need no folding.
inline bool SameFieldName(std::string_view a, std::string_view b) { return a == b || EqualsIgnoringCase(a, b); }

/// The first field named `name`, or null: ScalarFields.ItemName's lookup, for
/// readers that need no reference of their own.
inline ScalarField* FindField(const ScalarFields& fields, std::string_view name) {
  for (const ScalarFieldPtr& field : fields)
    if (SameFieldName(field->Name(), name)) return field.get();
  return nullptr;
}

}  // namespace qm::detail
