#pragma once
// The numbered-file table: files opened, printed to and closed by number, as
// the run-time's `Open ... As #n` does. One table per process.

#include <cstdint>
#include <string>
#include <string_view>

#include "quillmark/Export.h"
#include "quillmark/runtime/TextStream.h"

namespace qm::files {

/// How Open opens a file: read lines, write anew, add at the end, or bytes.
enum class OpenMode { Input, Output, Append, Binary };

/// The lowest file number (1 to 255) neither in use nor reserved; 67 (Too
/// many files) when there is none.
QUILLMARK_EXPORT std::int32_t FreeFile();

/// A file number kept for its holder: FreeFile and other reservations pass
/// it over until a file is opened under it (which ends the reservation) or
/// the reservation is released (on destruction, or by Release).
class QUILLMARK_EXPORT Reservation {
 public:
  Reservation() = default;
  /// Reserves the lowest free number; 67 when there is none.
  static Reservation Take();
  ~Reservation() { Release(); }
  ///@{
  /// Moves the reservation; the one moved from holds none (number 0).
  Reservation(Reservation&& other) noexcept;
  Reservation& operator=(Reservation&& other) noexcept;
  ///@}
  Reservation(const Reservation&) = delete;
  Reservation& operator=(const Reservation&) = delete;

  /// The number reserved; 0 for none.
  std::int32_t Number() const { return number_; }
  /// Ends the reservation if it still holds its number. The number itself
  /// stays readable.
  void Release() noexcept;

 private:
  std::int32_t number_ = 0;
  std::uint64_t ticket_ = 0;  // tells this reservation from a later one of the same number
};

/// Opens `path` under `number`: 52 for a bad number, 55 when the number is in
/// use. Opening ends a reservation of the number.
QUILLMARK_EXPORT void Open(std::int32_t number, const std::string& path, OpenMode mode);
/// Writes text and CR LF to an open file.
QUILLMARK_EXPORT void PrintLine(std::int32_t number, std::string_view text);
/// Writes bytes unchanged.
QUILLMARK_EXPORT void Put(std::int32_t number, std::string_view bytes);
/// Reads one line of a file opened for input.
QUILLMARK_EXPORT std::string LineInput(std::int32_t number);
/// True when a file opened for input has no more to read; 52 for a number not open.
QUILLMARK_EXPORT bool Eof(std::int32_t number);
/// Closes the file and frees its number; 52 for a number not open.
QUILLMARK_EXPORT void Close(std::int32_t number);
/// Closes every open file.
QUILLMARK_EXPORT void Reset();
/// True when a file is open under the number.
QUILLMARK_EXPORT bool IsOpen(std::int32_t number);

}  // namespace qm::files
