#pragma once
// qm::Error: the one error type of the library.
//
// An error carries a number, a source and a description. The source is a
// "|"-separated trail: the piece where the error arose, then one element per
// library procedure it passed through, innermost first. Its code (code())
// tells apart the causes one number may stand for.

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "quillmark/Export.h"
#include "quillmark/errors/ErrorCode.h"

namespace qm {

/// The library's error: what every failure of a library call throws, with the
/// run-time's error number, the source trail and a description.
class QUILLMARK_EXPORT Error : public std::exception {
 public:
  /// An error with every field given; the help file and context are kept for
  /// callers that show them, the library sets none.
  Error(std::int32_t number, std::string source, std::string description, std::string helpFile = {},
        std::int32_t helpContext = 0);
  /// An error with the cause `code` (the others take the usual cause of
  /// their number, ErrcOfNumber).
  Error(std::int32_t number, errc code, std::string source, std::string description);
  ///@{
  /// Copies every field; a moved-from error reads as number 0 with empty texts.
  Error(const Error& other);
  Error& operator=(const Error& other);
  Error(Error&& other) noexcept;
  Error& operator=(Error&& other) noexcept;
  ///@}
  ~Error() override;

  /// The error number: the run-time's numbers, and the library's own (9999, 26001 ...).
  std::int32_t Number() const noexcept;
  /// The trail: where the error arose, then "|" and one element per library
  /// procedure it passed through, innermost first.
  const std::string& Source() const noexcept;
  /// The message for a reader.
  const std::string& Description() const noexcept;
  /// A help file named by the raiser; "" when none.
  const std::string& HelpFile() const noexcept;
  /// The topic in HelpFile; 0 when none.
  std::int32_t HelpContext() const noexcept;

  /// The cause, in the library's category: `e.code() == qm::errc::not_found`.
  /// Set where the error was raised; otherwise the usual cause of Number().
  std::error_code code() const noexcept;
  /// The cause as the enumeration.
  errc Errc() const noexcept;
  /// Sets the cause (for a site that knows more than the number says).
  void SetErrc(errc code) noexcept;

  /// The description, as `std::exception` expects it.
  const char* what() const noexcept override;

  /// Appends "|" and a call-frame element to the trail.
  void AppendElement(std::string_view element);
  /// Replaces the whole trail.
  void SetSource(std::string source);

 private:
  // The fields, defined in the library's sources.
  struct Impl;
  const Impl& Fields() const noexcept;
  Impl& Own();
  std::unique_ptr<Impl> impl_;
};

/// Raises `number` with `description` and no source: the first frame the error
/// passes fills in the default source piece of its module.
[[noreturn]] QUILLMARK_EXPORT void Raise(std::int32_t number, std::string description);

/// Raises `number` with the cause `code` and `description`, no source.
[[noreturn]] QUILLMARK_EXPORT void Raise(std::int32_t number, errc code, std::string description);

/// Raises `number` with the run-time's standard text for it.
[[noreturn]] QUILLMARK_EXPORT void Raise(std::int32_t number);

/// Raises `number` with its standard text, ": " and `detail` (what the site
/// knows about the failure), e.g. "Invalid picture: the picture has no pixels".
[[noreturn]] QUILLMARK_EXPORT void RaiseWithDetail(std::int32_t number, std::string_view detail);

/// Raises an error with an explicit source (as platform components and client
/// objects do).
[[noreturn]] QUILLMARK_EXPORT void RaiseFrom(std::int32_t number, std::string source, std::string description);

/// The usual cause of an error number (the error table's errc column):
/// not_found for 53 and 76, invalid_argument for 9999, and so on.
QUILLMARK_EXPORT errc ErrcOfNumber(std::int32_t number) noexcept;

}  // namespace qm
