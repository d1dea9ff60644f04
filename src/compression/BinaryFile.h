#pragma once
// Binary files for the compression operations, raising the run-time's file
// errors.
//
// In a child process after fork, a file opened before the fork is the
// parent's: reads, writes and Close raise 75 (io::RaiseInherited), and
// release only closes the child's copy of the descriptor; nothing is
// published or removed. The input is read at an offset of its own (pread),
// so no other process sharing the descriptor moves it.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace qm::io {
class AtomicFile;
}

namespace qm::compression {

/// A file open for reading. 53 when it does not exist, 75 when it cannot be
/// read (a folder, say), 6 when it is longer than 2,147,483,647 bytes.
class InputFile {
 public:
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  /// The file's length when it was opened.
  std::size_t Size() const { return size_; }
  /// Reads up to `buffer.size()` bytes from where the last read ended; fewer
  /// only at the end of the file. 57 on failure.
  std::size_t Read(std::span<std::uint8_t> buffer);

 private:
  std::string path_;  // named by its errors
  int fd_ = -1;
  std::size_t size_ = 0;
  std::uint64_t offset_ = 0;      // where the next read starts
  std::uint64_t generation_ = 0;  // the executor's, when opened
};

/// A new file that takes the place of whatever had its name. The bytes go to
/// a hidden file beside it, which Close() publishes in one step, so a crash
/// leaves the old file or the new one, never a part. The old file counts as
/// deleted from the start: when the output fails (or is destroyed without
/// Close) the old file is removed too. 76 when its folder does not exist, 75
/// when it cannot be created, 61 when the disk is full, 57 for other write
/// failures.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path);
  /// Writes into `file` instead, made by the caller with the replacement it
  /// wants; a failure then only drops the temporary, the old file stays.
  explicit OutputFile(std::unique_ptr<io::AtomicFile> file);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void Write(std::span<const std::uint8_t> bytes);
  /// Publishes the file, reporting a failure that shows only then.
  void Close();

 private:
  bool Inherited() const noexcept;

  std::string path_;
  std::unique_ptr<io::AtomicFile> file_;
  std::uint64_t generation_ = 0;  // the executor's, when made
};

/// The whole of a file (see InputFile for its errors).
struct FileBytes {
  std::unique_ptr<std::uint8_t[]> Buffer;
  std::size_t Size = 0;

  std::span<std::uint8_t> Bytes() { return {Buffer.get(), Size}; }
};
FileBytes ReadWholeFile(InputFile& file);

}  // namespace qm::compression
