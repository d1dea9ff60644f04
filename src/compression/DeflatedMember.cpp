#include "compression/DeflatedMember.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

namespace qm::compression {

Deflater::Deflater(int level) {
  // Raw deflate (negative window bits) with zlib's default memory level.
  if (deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
}

Deflater::~Deflater() { deflateEnd(&stream_); }

bool Deflater::Deflate(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
  if (deflateReset(&stream_) != Z_OK) return false;
  out.resize(deflateBound(&stream_, static_cast<uLong>(size)));
  stream_.next_in = const_cast<Bytef*>(data);  // zlib's interface is not const-correct
  stream_.avail_in = static_cast<uInt>(size);
  stream_.next_out = out.data();
  stream_.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream_, Z_FINISH);
  out.resize(stream_.total_out);
  return result == Z_STREAM_END;
}

DeflatedMember::DeflatedMember(std::string path, const struct stat& info, Deflater& deflater)
    : path_(std::move(path)), info_(info), deflater_(deflater) {
  zip_error_init(&error_);
}

DeflatedMember::~DeflatedMember() { zip_error_fini(&error_); }

zip_source_t* DeflatedMember::Source(zip_t* archive) { return zip_source_function(archive, &Callback, this); }

std::string DeflatedMember::Problem() { return zip_error_strerror(&error_); }

zip_int64_t DeflatedMember::Callback(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  return static_cast<DeflatedMember*>(self)->Handle(data, length, command);
}

zip_int64_t DeflatedMember::Fail(int zipError, int systemError) {
  zip_error_set(&error_, zipError, systemError);
  return -1;
}

bool DeflatedMember::Prepare() {
  if (prepared_) return true;
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Fail(ZIP_ER_OPEN, errno);
    return false;
  }
  // Read at the size the file has now, within the limit that sent it here.
  struct stat now {};
  std::size_t size = 0;
  std::unique_ptr<std::uint8_t[]> bytes;
  bool ok = ::fstat(fd, &now) == 0 && now.st_size <= kMaxSize;
  if (ok) {
    size = static_cast<std::size_t>(now.st_size);
    bytes = std::make_unique_for_overwrite<std::uint8_t[]>(size + 1);
    std::size_t done = 0;
    while (ok && done < size) {
      const ssize_t got = ::read(fd, bytes.get() + done, size - done);
      if (got < 0 && errno == EINTR) continue;
      ok = got > 0;
      if (ok) done += static_cast<std::size_t>(got);
    }
  }
  const int readError = errno;
  ::close(fd);
  if (!ok) {
    Fail(ZIP_ER_READ, readError);
    return false;
  }
  if (!deflater_.Deflate(bytes.get(), size, deflated_)) {
    Fail(ZIP_ER_ZLIB, 0);
    return false;
  }
  size_ = size;
  compressedSize_ = deflated_.size();
  crc_ = static_cast<std::uint32_t>(crc32_z(crc32_z(0, nullptr, 0), bytes.get(), size));
  offset_ = 0;
  prepared_ = true;
  known_ = true;
  return true;
}

zip_int64_t DeflatedMember::Handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
  switch (command) {
    case ZIP_SOURCE_OPEN:
      if (!Prepare()) return -1;
      offset_ = 0;
      return 0;
    case ZIP_SOURCE_READ: {
      const std::size_t n = std::min<std::size_t>(length, deflated_.size() - offset_);
      std::memcpy(data, deflated_.data() + offset_, n);
      offset_ += n;
      return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_CLOSE:
      // Copied into the archive: give the memory back until asked again.
      std::vector<std::uint8_t>().swap(deflated_);
      prepared_ = false;
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error_);
      if (!st) return -1;
      if (!known_ && !Prepare()) return -1;
      zip_stat_init(st);
      st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC | ZIP_STAT_MTIME |
                  ZIP_STAT_ENCRYPTION_METHOD;
      st->size = size_;
      st->comp_size = compressedSize_;
      st->comp_method = ZIP_CM_DEFLATE;
      st->encryption_method = ZIP_EM_NONE;
      st->crc = crc_;
      st->mtime = info_.st_mtime;
      return sizeof(*st);
    }
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&error_, data, length);
    case ZIP_SOURCE_FREE: return 0;  // the object belongs to the caller
    case ZIP_SOURCE_SUPPORTS: return ZIP_SOURCE_SUPPORTS_READABLE;
    default: return Fail(ZIP_ER_OPNOTSUPP, 0);
  }
}

}  // namespace qm::compression
