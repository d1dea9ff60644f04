#pragma once
// A file handed to libzip already deflated, so that one zlib stream serves a
// whole archive. libzip's own path sets up (and, with glibc, pages in) a fresh
// deflate state of some 400 KB for every entry, which doubles the time an
// archive of many small files takes.

#include <sys/stat.h>
#include <zip.h>
#include <zlib.h>

#include <cstdint>
#include <string>
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

/// A libzip source for one file: read and deflated when libzip first asks for
/// its size (while writing the archive, one entry at a time), and released
/// when libzip has copied it. The sizes and CRC stay known for libzip's
/// questions after the copy.
class DeflatedMember {
 public:
  /// Files up to this size go through a DeflatedMember; larger ones stream
  /// through libzip's own file source, which holds no whole file in memory.
  static constexpr off_t kMaxSize = 16 << 20;

  DeflatedMember(std::string path, const struct stat& info, Deflater& deflater);
  ~DeflatedMember();
  DeflatedMember(const DeflatedMember&) = delete;
  DeflatedMember& operator=(const DeflatedMember&) = delete;

  /// The source for zip_file_add. The object must outlive the archive handle.
  zip_source_t* Source(zip_t* archive);

  const std::string& Path() const { return path_; }
  /// Whether reading or deflating the file failed, and why (libzip's words).
  bool Failed() const { return zip_error_code_zip(&error_) != ZIP_ER_OK; }
  std::string Problem();

 private:
  static zip_int64_t Callback(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command);
  zip_int64_t Handle(void* data, zip_uint64_t length, zip_source_cmd_t command);
  bool Prepare();
  zip_int64_t Fail(int zipError, int systemError);

  std::string path_;
  struct stat info_;
  Deflater& deflater_;
  bool prepared_ = false;  // deflated_ holds the data
  bool known_ = false;     // sizes and CRC are known
  std::uint64_t size_ = 0;
  std::uint64_t compressedSize_ = 0;
  std::uint32_t crc_ = 0;
  std::vector<std::uint8_t> deflated_;
  std::size_t offset_ = 0;
  zip_error_t error_{};
};

}  // namespace qm::compression
