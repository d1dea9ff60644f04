#pragma once
// Reads and deflates the files of an archive ahead of the writer, on every
// core, and hands each one over when the writer reaches it. The writer
// (libzip, one entry at a time) only copies finished bytes, so an archive of
// many files takes about the time of one core's share of the deflating.
//
// The bytes of each member are those one raw deflate stream at the pool's
// level gives for the file alone, whichever thread made them. Memory stays
// bounded: helpers stop reading ahead while the members they have finished
// (or are working on) and the writer has not taken yet add up to the limit.

#include <sys/types.h>
#include <zlib.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::compression {

/// One raw deflate stream (no zlib header, as zip entries hold it), reset for
/// every file.
class Deflater {
 public:
  explicit Deflater(int level);
  ~Deflater();
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  /// Deflates `size` bytes into `out` (replacing its content). False when zlib fails.
  bool Deflate(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out);

 private:
  z_stream stream_{};
};

/// A file read and deflated, or the reason it could not be.
struct DeflatedFile {
  int ZipError = 0;     // a libzip ZIP_ER_ code; 0 when the bytes are there
  int SystemError = 0;  // errno for open and read failures
  std::uint64_t Size = 0;
  std::uint32_t Crc = 0;
  std::vector<std::uint8_t> Deflated;
};

/// Reads `path` (refused when it has grown beyond `maxSize`) and deflates it.
DeflatedFile ReadAndDeflate(const std::string& path, off_t maxSize, Deflater& deflater);

class DeflatePool {
 public:
  /// `helpers` threads besides the writer's; `memoryLimit` bytes of file read
  /// ahead at most (one file is always allowed).
  DeflatePool(int level, off_t maxFileSize, unsigned helpers, std::uint64_t memoryLimit);
  ~DeflatePool();
  DeflatePool(const DeflatePool&) = delete;
  DeflatePool& operator=(const DeflatePool&) = delete;

  /// The helpers for this machine: one per core (the writer mostly waits and
  /// copies), none on a single core, at most 8.
  static unsigned HelpersForThisMachine();

  /// Plans a file (with its expected size) and returns its number. Helpers
  /// take planned files in this order, so plan them in the writer's order.
  std::size_t Plan(std::string path, off_t expectedSize);
  /// Starts the helpers; plan nothing after this.
  void Start();
  /// The file's result, waiting for a helper that is working on it, or doing
  /// the work on this thread when no helper has begun it. A second call for
  /// the same file reads and deflates it again.
  DeflatedFile Take(std::size_t file);
  /// Reads and deflates a file on this thread, outside the plan.
  DeflatedFile Make(const std::string& path);

 private:
  enum class State : std::uint8_t { Planned, Working, Done, Taken };
  struct Entry {
    std::string Path;
    std::uint64_t Weight = 0;  // memory it holds until taken
    State Status = State::Planned;
    DeflatedFile Result;
  };

  void Help();
  bool MayStart(const Entry& entry) const;

  const int level_;
  const off_t maxFileSize_;
  const unsigned helpers_;
  const std::uint64_t memoryLimit_;
  Deflater writerDeflater_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Entry> entries_;
  std::size_t next_ = 0;        // helpers look for work from here
  std::uint64_t inFlight_ = 0;  // weight of the files helpers hold
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace qm::compression
