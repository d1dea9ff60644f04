#pragma once
// The file side of a streamed zlib call, on a thread of its own: the input is
// read ahead and the output written behind, so that the thread running zlib
// never waits for the file system while a core is free. Errors of either file
// are raised on the zlib thread, at the next call that meets them, with the
// numbers InputFile and OutputFile give them.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <span>
#include <vector>

#include "compression/BinaryFile.h"
#include "io/HelperThread.h"

namespace qm::compression {

class BackgroundIo {
 public:
  /// Reads the next `inputSize` bytes of `in` in chunks of `chunk` bytes,
  /// and writes what it is given to `out`.
  BackgroundIo(InputFile& in, std::size_t inputSize, OutputFile& out, std::size_t chunk);
  BackgroundIo(const BackgroundIo&) = delete;
  BackgroundIo& operator=(const BackgroundIo&) = delete;

  /// The next chunk of input, valid until the next call; empty once the
  /// input is over (early when the file was cut short).
  std::span<const std::uint8_t> NextInput();
  /// An empty buffer of `chunk` bytes for output.
  std::vector<std::uint8_t> OutputBuffer();
  /// Queues the first `size` bytes of `buffer` for writing.
  void Write(std::vector<std::uint8_t> buffer, std::size_t size);
  /// Waits until everything queued is written.
  void Finish();

 private:
  struct Pending {
    std::vector<std::uint8_t> Bytes;
    std::size_t Size = 0;
  };
  void Run();

  InputFile& in_;
  OutputFile& out_;
  const std::size_t chunk_;
  std::size_t inputLeft_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Pending> read_;                      // filled input chunks, oldest first
  std::deque<Pending> toWrite_;                   // output chunks, oldest first
  std::vector<std::vector<std::uint8_t>> spare_;  // buffers to reuse
  std::vector<std::uint8_t> current_;             // the input chunk handed out last
  bool inputOver_ = false;
  bool writing_ = false;
  std::exception_ptr readFailure_;
  std::exception_ptr writeFailure_;
  // Last: starts when the rest is ready; stopping, it writes what is still
  // queued first (ignoring failures).
  io::HelperThread helper_{mutex_, changed_, [this] { Run(); }};
};

}  // namespace qm::compression
