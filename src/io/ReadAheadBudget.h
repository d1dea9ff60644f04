#pragma once
// The one budget of read-ahead memory in the process: at most 64 MiB of
// blocks read ahead of their readers, over every stream together.
//
// "Read-ahead memory" is a block made to be read before its reader asks for
// it, from the moment it is made until it is handed to the reader (or let go
// unread): queued, being read, or read and waiting. The block the reader
// reads now and the blocks whose lines it keeps are not counted: they are
// the reader's own memory, as a block read on its own thread would be.
// Beyond the budget nothing is read ahead: the reader reads on its own
// thread.
//
// In a child process after fork the budget starts empty: the parent's blocks
// are not the child's, and a reader made before the fork never gives back.

#include <cstddef>
#include <cstdint>

namespace qm::io {

class ReadAheadBudget {
 public:
  static constexpr std::size_t kLimit = std::size_t{64} << 20;

  /// Takes `bytes` from the budget; false (nothing taken) when they do not fit.
  static bool Reserve(std::size_t bytes) noexcept;
  /// Gives back bytes taken in this process (see Reservation).
  static void Release(std::size_t bytes) noexcept;
  /// The bytes taken now.
  static std::size_t InUse() noexcept;
};

/// Bytes taken from the budget, given back when the reservation goes (or is
/// reset) in the process that took them; never in a child after fork.
class Reservation {
 public:
  Reservation() = default;
  /// Takes `bytes`; an empty reservation when they do not fit.
  static Reservation Take(std::size_t bytes) noexcept;
  ~Reservation() { Reset(); }
  Reservation(Reservation&& other) noexcept;
  Reservation& operator=(Reservation&& other) noexcept;
  Reservation(const Reservation&) = delete;
  Reservation& operator=(const Reservation&) = delete;

  explicit operator bool() const noexcept { return bytes_ != 0; }
  void Reset() noexcept;

 private:
  std::size_t bytes_ = 0;
  std::uint64_t generation_ = 0;
};

}  // namespace qm::io
