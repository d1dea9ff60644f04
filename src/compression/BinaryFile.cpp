#include "compression/BinaryFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "quillmark/frame/Error.h"
#include "quillmark/frame/ErrorNumbers.h"

namespace qm::compression {
namespace {

// Owns a POSIX file descriptor.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  /// Closes now, reporting the result (a full disk may show only here).
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

[[noreturn]] void RaiseWriteError(int error) { Raise(error == ENOSPC || error == EDQUOT ? 61 : ERR_DeviceIO); }

}  // namespace

FileBytes ReadWholeFile(const std::string& path) {
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) Raise(errno == ENOENT || errno == ENOTDIR ? ERR_FileNotFound : ERR_PathFileAccess);
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) Raise(ERR_PathFileAccess);
  if (info.st_size > std::numeric_limits<std::int32_t>::max()) Raise(ERR_Overflow);

  FileBytes bytes;
  bytes.Size = static_cast<std::size_t>(info.st_size);
  bytes.Buffer = std::make_unique_for_overwrite<std::uint8_t[]>(bytes.Size + 1);
  std::size_t done = 0;
  while (done < bytes.Size) {
    const ssize_t got = ::read(file.Get(), bytes.Buffer.get() + done, bytes.Size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Raise(ERR_DeviceIO);
    if (got == 0) break;  // the file shrank while being read
    done += static_cast<std::size_t>(got);
  }
  bytes.Size = done;
  return bytes;
}

void WriteWholeFile(const std::string& path, std::initializer_list<std::span<const std::uint8_t>> pieces) {
  Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (file.Get() < 0) Raise(errno == ENOENT || errno == ENOTDIR ? ERR_PathNotFound : ERR_PathFileAccess);
  for (auto piece : pieces) {
    std::size_t done = 0;
    while (done < piece.size()) {
      const ssize_t put = ::write(file.Get(), piece.data() + done, piece.size() - done);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) RaiseWriteError(errno);
      done += static_cast<std::size_t>(put);
    }
  }
  if (file.Close() != 0) RaiseWriteError(errno);
}

}  // namespace qm::compression
