#pragma once
// Small text helpers shared by QMStream's record readers and writers. Blanks
// are U+0020 only, as the record format indents with blanks.

#include <string>
#include <string_view>

#include "quillmark/persistence/ScalarFields.h"
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
