#pragma once
// The archive file libzip reads and writes, as a libzip source of our own.
//
// - Reading: the existing archive, if any, through one read-only descriptor
//   (pread), so an update copies its entries from the old file.
// - Writing: a new archive goes to an io::AtomicFile, so it is synced before
//   it is renamed over the old one, and a failure or cancellation leaves the
//   old archive as it was. libzip's own file source renames first and leaves
//   syncing to the caller, and draws its temporary's name from OpenSSL's
//   random generator, whose start-up alone costs more than writing a small
//   archive.
// - libzip writes each entry's local header twice (before the data, then
//   with its sizes and CRC): the bytes collect in a buffer in which seeking
//   back is free, and reach the file in large writes.
// - In a child process after fork, the file of an object made before the
//   fork is the parent's: every command that would read, write, publish or
//   remove it fails (ZIP_ER_CANCELLED), and the child's copy of the
//   temporary is only let go.

#include <sys/types.h>
#include <zip.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "io/AtomicFile.h"

namespace qm::compression {

class ArchiveFile {
 public:
  /// The bytes collected before they are written out.
  static constexpr std::size_t kBufferSize = std::size_t{4} << 20;

  explicit ArchiveFile(std::string path);
  ~ArchiveFile();
  ArchiveFile(const ArchiveFile&) = delete;
  ArchiveFile& operator=(const ArchiveFile&) = delete;

  /// A libzip source over this file (to zip_open_from_source); the object
  /// must outlive the archive handle, which frees only the source.
  zip_source_t* Source(zip_error_t* error);
  /// The errno of a commit that put the new archive in place but could not
  /// sync its folder (libzip was told the commit failed); 0 otherwise.
  int UnsyncedFolder() const noexcept { return unsyncedFolder_; }

 private:
  static zip_int64_t Callback(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command);
  zip_int64_t Handle(void* data, zip_uint64_t length, zip_source_cmd_t command);
  zip_int64_t Fail(int zipError, int systemError);

  zip_int64_t Stat(void* data, zip_uint64_t length);
  zip_int64_t Read(void* data, zip_uint64_t length);
  zip_int64_t Write(const void* data, zip_uint64_t length);
  bool Flush();

  std::string path_;
  std::uint64_t generation_ = 0;  // the executor's, at construction
  zip_error_t error_{};
  // Reading the existing archive.
  int input_ = -1;
  std::uint64_t inputSize_ = 0;
  std::uint64_t readAt_ = 0;
  // Writing the new one.
  std::optional<io::AtomicFile> output_;
  std::vector<std::uint8_t> buffer_;  // the bytes from bufferStart_ on, not yet written
  std::uint64_t bufferStart_ = 0;
  std::uint64_t writeAt_ = 0;
  std::uint64_t end_ = 0;  // the length of the new archive so far
  int unsyncedFolder_ = 0;
};

/// Whether the file at `path` could be a zip archive: empty, or with the end
/// record of a central directory in its last 64 KiB, where libzip looks for
/// it. Cheap (one read) where opening it with libzip reads its whole
/// directory. False with `error` set when it cannot be read.
bool LooksLikeZipArchive(const std::string& path, int& error);

/// A libzip source that reads the file at `path` through io::sys, in place of
/// zip_source_file, whose stdio reads give up when a signal interrupts them.
/// It reads as many bytes as the file had when opened. libzip owns it (it
/// goes with the source); nullptr, with the archive's error set, on failure.
zip_source_t* FileSource(zip_t* archive, const std::string& path);

}  // namespace qm::compression
