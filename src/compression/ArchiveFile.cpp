#include "compression/ArchiveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <string_view>
#include <system_error>

#include "frame/FileErrors.h"
#include "io/Executor.h"
#include "io/System.h"

namespace qm::compression {
namespace {

// The system error behind an exception, EIO when it carries none.
int SystemErrorOf(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::system_error& e) {
    return e.code().value();
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  } catch (...) {
    return EIO;
  }
}

// The file behind FileSource: one descriptor while libzip reads it.
class MemberFile {
 public:
  explicit MemberFile(std::string path) : path_(std::move(path)) { zip_error_init(&error_); }
  ~MemberFile() {
    Close();
    zip_error_fini(&error_);
  }
  MemberFile(const MemberFile&) = delete;
  MemberFile& operator=(const MemberFile&) = delete;

  static zip_int64_t Callback(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    if (command == ZIP_SOURCE_FREE) {
      std::unique_ptr<MemberFile> owned(static_cast<MemberFile*>(self));
      return 0;
    }
    return static_cast<MemberFile*>(self)->Handle(data, length, command);
  }

 private:
  zip_int64_t Fail(int zipError, int systemError) {
    zip_error_set(&error_, zipError, systemError);
    return -1;
  }

  void Close() {
    if (fd_ >= 0) io::sys::Close(fd_);
    fd_ = -1;
  }

  zip_int64_t Handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
    // In a child after fork the file is read by the parent only.
    if (generation_ != io::Executor::Generation() && (command == ZIP_SOURCE_OPEN || command == ZIP_SOURCE_READ))
      return Fail(ZIP_ER_CANCELLED, 0);
    switch (command) {
      case ZIP_SOURCE_SUPPORTS: return ZIP_SOURCE_SUPPORTS_SEEKABLE;
      case ZIP_SOURCE_ERROR: return zip_error_to_data(&error_, data, length);
      case ZIP_SOURCE_STAT: {
        auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error_);
        if (!st) return -1;
        struct stat info {};
        if ((fd_ >= 0 ? io::sys::Fstat(fd_, &info) : io::sys::Stat(path_.c_str(), &info)) != 0)
          return Fail(ZIP_ER_READ, errno);
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        st->size = fd_ >= 0 ? size_ : static_cast<zip_uint64_t>(info.st_size);
        st->mtime = info.st_mtime;
        return sizeof(*st);
      }
      case ZIP_SOURCE_OPEN: {
        Close();
        fd_ = io::sys::Open(path_.c_str(), O_RDONLY);
        if (fd_ < 0) return Fail(ZIP_ER_OPEN, errno);
        struct stat info {};
        if (io::sys::Fstat(fd_, &info) != 0) return Fail(ZIP_ER_READ, errno);
        size_ = static_cast<std::uint64_t>(info.st_size);
        at_ = 0;
        return 0;
      }
      case ZIP_SOURCE_READ: {
        const std::uint64_t wanted = std::min<std::uint64_t>(length, at_ < size_ ? size_ - at_ : 0);
        const ssize_t n = io::sys::PReadFull(fd_, data, wanted, static_cast<off_t>(at_));
        if (n < 0) return Fail(ZIP_ER_READ, errno);
        at_ += static_cast<std::uint64_t>(n);
        return n;
      }
      case ZIP_SOURCE_CLOSE: Close(); return 0;
      case ZIP_SOURCE_SEEK: {
        const std::int64_t at = zip_source_seek_compute_offset(at_, size_, data, length, &error_);
        if (at < 0) return -1;
        at_ = static_cast<std::uint64_t>(at);
        return 0;
      }
      case ZIP_SOURCE_TELL: return static_cast<zip_int64_t>(at_);
      default: return Fail(ZIP_ER_OPNOTSUPP, 0);
    }
  }

  std::string path_;
  zip_error_t error_{};
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::uint64_t at_ = 0;
  const std::uint64_t generation_ = io::Executor::Generation();
};

}  // namespace

bool LooksLikeZipArchive(const std::string& path, int& error) {
  error = 0;
  const int fd = io::sys::Open(path.c_str(), O_RDONLY);
  if (fd < 0) {
    error = errno;
    return false;
  }
  // The end record (22 bytes) follows the directory, with a comment of up to
  // 65,535 bytes after it.
  constexpr std::uint64_t kTail = 22 + 65535;
  std::vector<char> tail;
  struct stat info {};
  ssize_t got = -1;
  if (io::sys::Fstat(fd, &info) == 0) {
    const auto size = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
    tail.resize(std::min(size, kTail));
    got = io::sys::PReadFull(fd, tail.data(), tail.size(), static_cast<off_t>(size - tail.size()));
  }
  if (got < 0) error = errno;
  io::sys::Close(fd);
  if (got < 0) return false;
  tail.resize(static_cast<std::size_t>(got));
  constexpr std::string_view kEndRecord("PK\5\6", 4);
  return tail.empty() || std::string_view(tail.data(), tail.size()).rfind(kEndRecord) != std::string_view::npos;
}

zip_source_t* FileSource(zip_t* archive, const std::string& path) {
  auto file = std::make_unique<MemberFile>(path);
  zip_source_t* source = zip_source_function(archive, &MemberFile::Callback, file.get());
  if (source) static_cast<void>(file.release());  // freed by the source (ZIP_SOURCE_FREE)
  return source;
}

ArchiveFile::ArchiveFile(std::string path) : path_(std::move(path)), generation_(io::Executor::Generation()) {
  zip_error_init(&error_);
}

ArchiveFile::~ArchiveFile() {
  if (input_ >= 0) io::sys::Close(input_);
  zip_error_fini(&error_);
}

zip_source_t* ArchiveFile::Source(zip_error_t* error) { return zip_source_function_create(&Callback, this, error); }

zip_int64_t ArchiveFile::Callback(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  return static_cast<ArchiveFile*>(self)->Handle(data, length, command);
}

zip_int64_t ArchiveFile::Fail(int zipError, int systemError) {
  zip_error_set(&error_, zipError, systemError);
  return -1;
}

zip_int64_t ArchiveFile::Stat(void* data, zip_uint64_t length) {
  auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error_);
  if (!st) return -1;
  struct stat info {};
  // libzip takes (ZIP_ER_READ, ENOENT) for "no archive yet", and creates one.
  if (io::sys::Stat(path_.c_str(), &info) != 0) return Fail(ZIP_ER_READ, errno);
  zip_stat_init(st);
  st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
  st->size = static_cast<zip_uint64_t>(info.st_size);
  st->mtime = info.st_mtime;
  return sizeof(*st);
}

zip_int64_t ArchiveFile::Read(void* data, zip_uint64_t length) {
  const std::uint64_t left = readAt_ < inputSize_ ? inputSize_ - readAt_ : 0;
  auto* bytes = static_cast<char*>(data);
  std::uint64_t done = 0;
  const std::uint64_t wanted = std::min<std::uint64_t>(length, left);
  while (done < wanted) {
    const ssize_t n = io::sys::PRead(input_, bytes + done, wanted - done, static_cast<off_t>(readAt_ + done));
    if (n < 0) return Fail(ZIP_ER_READ, errno);
    if (n == 0) break;
    done += static_cast<std::uint64_t>(n);
  }
  readAt_ += done;
  return static_cast<zip_int64_t>(done);
}

zip_int64_t ArchiveFile::Write(const void* data, zip_uint64_t length) {
  // A write outside the bytes held starts a new run of them.
  if (writeAt_ < bufferStart_ || writeAt_ > bufferStart_ + buffer_.size()) {
    if (!Flush()) return -1;
    bufferStart_ = writeAt_;
  }
  try {
    const std::size_t offset = writeAt_ - bufferStart_;
    if (offset + length > buffer_.size()) buffer_.resize(offset + length);
    std::memcpy(buffer_.data() + offset, data, length);
  } catch (const std::bad_alloc&) {
    return Fail(ZIP_ER_MEMORY, 0);
  }
  writeAt_ += length;
  end_ = std::max(end_, writeAt_);
  if (buffer_.size() >= kBufferSize) {
    if (!Flush()) return -1;
    bufferStart_ = writeAt_;
  }
  return static_cast<zip_int64_t>(length);
}

// Writes the bytes held to their place in the temporary.
bool ArchiveFile::Flush() {
  std::size_t done = 0;
  while (done < buffer_.size()) {
    const ssize_t n = io::sys::PWrite(output_->Descriptor(), buffer_.data() + done, buffer_.size() - done,
                                      static_cast<off_t>(bufferStart_ + done));
    if (n <= 0) {
      Fail(ZIP_ER_WRITE, n < 0 ? errno : ENOSPC);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  buffer_.clear();
  return true;
}

zip_int64_t ArchiveFile::Handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
  // In a child after fork the archive and its temporary are the parent's:
  // nothing is read, written, published or removed here. A rollback only
  // lets the temporary go (the AtomicFile closes the child's copy of it).
  const bool touchesFile = command == ZIP_SOURCE_OPEN || command == ZIP_SOURCE_READ || command == ZIP_SOURCE_STAT ||
                           command == ZIP_SOURCE_BEGIN_WRITE || command == ZIP_SOURCE_WRITE ||
                           command == ZIP_SOURCE_COMMIT_WRITE || command == ZIP_SOURCE_REMOVE;
  if (touchesFile && generation_ != io::Executor::Generation()) return Fail(ZIP_ER_CANCELLED, 0);
  switch (command) {
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                            ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                            ZIP_SOURCE_SUPPORTS, ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_COMMIT_WRITE,
                                            ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_WRITE, ZIP_SOURCE_SEEK_WRITE,
                                            ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE, -1);
    case ZIP_SOURCE_STAT: return Stat(data, length);
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&error_, data, length);
    case ZIP_SOURCE_FREE: return 0;  // the object belongs to the caller

    case ZIP_SOURCE_OPEN: {
      if (input_ < 0) input_ = io::sys::Open(path_.c_str(), O_RDONLY);
      if (input_ < 0) return Fail(ZIP_ER_OPEN, errno);
      struct stat info {};
      if (io::sys::Fstat(input_, &info) != 0) return Fail(ZIP_ER_READ, errno);
      inputSize_ = static_cast<std::uint64_t>(info.st_size);
      readAt_ = 0;
      return 0;
    }
    case ZIP_SOURCE_READ: return Read(data, length);
    case ZIP_SOURCE_CLOSE: return 0;  // kept open: an update copies from it while the new archive is written
    case ZIP_SOURCE_SEEK: {
      const std::int64_t at = zip_source_seek_compute_offset(readAt_, inputSize_, data, length, &error_);
      if (at < 0) return -1;
      readAt_ = static_cast<std::uint64_t>(at);
      return 0;
    }
    case ZIP_SOURCE_TELL: return static_cast<zip_int64_t>(readAt_);

    case ZIP_SOURCE_BEGIN_WRITE: try { output_.emplace(path_, io::AtomicFile::Replace::Contents);
      } catch (...) {
        return Fail(ZIP_ER_TMPOPEN, SystemErrorOf(std::current_exception()));
      }
      buffer_.clear();
      bufferStart_ = writeAt_ = end_ = 0;
      return 0;
    case ZIP_SOURCE_WRITE: return Write(data, length);
    case ZIP_SOURCE_SEEK_WRITE: {
      const std::int64_t at = zip_source_seek_compute_offset(writeAt_, end_, data, length, &error_);
      if (at < 0) return -1;
      writeAt_ = static_cast<std::uint64_t>(at);
      return 0;
    }
    case ZIP_SOURCE_TELL_WRITE: return static_cast<zip_int64_t>(writeAt_);
    case ZIP_SOURCE_COMMIT_WRITE:
      if (!Flush()) return -1;
      try {
        output_->Commit();  // synced, then renamed over the old archive
      } catch (const frame::FolderNotSynced& e) {
        unsyncedFolder_ = e.code().value();
        return Fail(ZIP_ER_WRITE, unsyncedFolder_);
      } catch (...) {
        return Fail(ZIP_ER_WRITE, SystemErrorOf(std::current_exception()));
      }
      output_.reset();
      return 0;
    case ZIP_SOURCE_ROLLBACK_WRITE:
      output_.reset();  // the temporary goes; the old archive stays
      std::vector<std::uint8_t>().swap(buffer_);
      return 0;
    case ZIP_SOURCE_REMOVE:
      // An update that left no entry: libzip removes the archive.
      if (io::sys::Unlink(path_.c_str()) != 0 && errno != ENOENT) return Fail(ZIP_ER_REMOVE, errno);
      return 0;
    default: return Fail(ZIP_ER_OPNOTSUPP, 0);
  }
}

}  // namespace qm::compression
