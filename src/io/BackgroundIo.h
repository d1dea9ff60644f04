#pragma once
// The file side of a streamed call (the compression's zlib calls), on the
// executor's threads: the input is read ahead and the output written behind,
// so that the thread running the call never waits for the file system while
// a core is free. The files are reached through two callables, so that
// nothing here knows what they are.
//
// - The input is read in order, one chunk at a time, at most 4 chunks ahead,
//   by a task that ends when it has read that far. When the caller asks for
//   a chunk that no read is under way for, it reads it itself: it waits only
//   for a read that has begun, never for a queued task.
// - The output goes through a lane (at most 4 chunks queued).
// - A failure of either side (the callables' exceptions, with the numbers
//   they give, and bad_alloc when a buffer cannot be had on a helper) is
//   raised at the caller's next call that meets it, and at every later one.
// - Without a thread to be had, the caller reads and writes itself.
// - The destructor drops what is not begun and waits for the reads and the
//   write under way.
// - In a child process after fork, an object made before the fork is the
//   parent's: every call raises 75 (io::RaiseInherited) without reading,
//   writing or waiting, and the destructor lets the shared state go without
//   waiting for the parent's helpers (io/AfterFork.h).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "io/Lane.h"

namespace qm::io {

class BackgroundIo {
 public:
  /// Reads up to `buffer.size()` bytes; fewer only at the end of the input.
  using Reader = std::function<std::size_t(std::span<std::uint8_t> buffer)>;
  /// Writes all of `bytes`.
  using Writer = std::function<void(std::span<const std::uint8_t> bytes)>;

  /// Reads the next `inputSize` bytes through `read` in chunks of `chunk`
  /// bytes, and writes what it is given through `write`.
  BackgroundIo(Reader read, std::size_t inputSize, Writer write, std::size_t chunk);
  ~BackgroundIo();
  BackgroundIo(const BackgroundIo&) = delete;
  BackgroundIo& operator=(const BackgroundIo&) = delete;

  /// The next chunk of input, valid until the next call; empty once the
  /// input is over (early when the input was cut short).
  std::span<const std::uint8_t> NextInput();
  /// An empty buffer of `chunk` bytes for output.
  std::vector<std::uint8_t> OutputBuffer();
  /// Queues the first `size` bytes of `buffer` for writing.
  void Write(std::vector<std::uint8_t> buffer, std::size_t size);
  /// Waits until everything queued is written.
  void Finish();

 private:
  struct Input;
  void ReadAhead();  // queues a task reading ahead, when none is queued and room is left
  bool Inherited() const noexcept;
  void CheckOwn() const;  // raises 75 in a child after fork

  const std::uint64_t generation_;     // the executor's, at construction
  std::shared_ptr<Input> input_;       // shared with the task reading ahead
  std::vector<std::uint8_t> current_;  // the input chunk handed out last
  Writer write_;
  Lane writes_;  // last: its running write is waited for before the rest goes
};

}  // namespace qm::io
