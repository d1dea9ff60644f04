#pragma once
// The call frame: every library procedure runs inside one.
//
//   std::string ScalarField::GetStreamValue(std::int32_t Version) {
//     QM_FRAME_TRY {
//       ...
//     } QM_FRAME_CATCH("ScalarField", "Public Function GetStreamValue", Version);
//   }
//
// When anything escapes the body, the catch forms the procedure's element
// "[ScalarField]Public Function GetStreamValue(2)" from the parameters' current
// values and rethrows the error with "|" and that element appended to its
// source. Standard exceptions are first mapped to the run-time's numbers.

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "quillmark/Export.h"
#include "quillmark/errors/Error.h"

namespace qm::frame {

/// The general number-to-text form used for Double parameters.
QUILLMARK_EXPORT std::string RenderDouble(double value);

/// Renders one parameter the way the element shows it: strings quoted,
/// integers in decimal, floating point in the general form, Booleans
/// True/False, everything else "?".
template <class T>
std::string RenderArgument(const T& value) {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<U, bool>) {
    return value ? "True" : "False";
  } else if constexpr (std::is_integral_v<U>) {
    return std::to_string(static_cast<long long>(value));
  } else if constexpr (std::is_floating_point_v<U>) {
    return RenderDouble(static_cast<double>(value));
  } else if constexpr (std::is_convertible_v<const U&, std::string_view>) {
    std::string text = "\"";
    text += std::string_view(value);
    text += '"';
    return text;
  } else if constexpr (requires {
                         value.has_value();
                         *value;
                       }) {
    using Inner = std::remove_cvref_t<decltype(*value)>;
    if (value.has_value()) return RenderArgument(*value);
    if constexpr (std::is_convertible_v<const Inner&, std::string_view>) return "\"\"";
    return "?";
  } else {
    return "?";
  }
}

/// Builds "[module]procedure(arg, arg)".
QUILLMARK_EXPORT std::string FormElement(std::string_view module, std::string_view procedure,
                                         std::initializer_list<std::string> renderedArguments);

/// The default source piece of a module: "QuillmarkLibrary" for standard
/// modules, "QuillmarkLibrary.<Class>" for classes and forms.
QUILLMARK_EXPORT std::string DefaultSource(std::string_view module);

/// Turns the exception in flight into a qm::Error (mapping standard
/// exceptions to run-time numbers), appends the element and throws it.
/// Must be called from inside a catch block.
[[noreturn]] QUILLMARK_EXPORT void RethrowWithElement(std::string_view module, std::string element);

/// RethrowWithElement with the element "[module]procedure(args)", each
/// argument rendered as the call frame shows it. Inside a catch block only.
template <class... Args>
[[noreturn]] void Rethrow(std::string_view module, std::string_view procedure, const Args&... args) {
  RethrowWithElement(module, FormElement(module, procedure, {RenderArgument(args)...}));
}

}  // namespace qm::frame

#define QM_FRAME_TRY try
#define QM_FRAME_CATCH(module, procedure, ...)                          \
  catch (...) {                                                         \
    ::qm::frame::Rethrow(module, procedure __VA_OPT__(, ) __VA_ARGS__); \
  }
