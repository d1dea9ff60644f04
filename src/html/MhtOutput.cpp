#include "html/MhtOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "frame/FileErrors.h"
#include "io/AtomicFile.h"
#include "io/Executor.h"
#include "io/Lane.h"
#include "io/System.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm::mdlHTML2MHT {
namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 20;

// The archive cannot be made or opened: the error names it.
[[noreturn]] void RaiseOpenError(const std::string& path, int error) {
  const std::int32_t number = error == ENOENT || error == ENOTDIR ? ERR_PathNotFound
                              : error == EACCES || error == EPERM || error == EISDIR || error == EROFS
                                  ? ERR_PermissionDenied
                                  : ERR_PathFileAccess;
  Raise(number, ErrcOfErrno(error), DescribeError(number, path));
}

}  // namespace

MhtOutput::MhtOutput(const std::string& path)
    : path_(path), buffer_(kBufferSize), generation_(io::Executor::Generation()) {
  struct stat existing {};
  if (io::sys::Stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode)) {
    device_ = io::sys::Open(path.c_str(), O_WRONLY);
    if (device_ < 0) RaiseOpenError(path, errno);
    fd_ = device_;
    return;
  }
  // An archive that may not be written is not replaced either.
  if (io::sys::Access(path.c_str(), F_OK) == 0 && io::sys::Access(path.c_str(), W_OK) != 0) RaiseOpenError(path, errno);
  try {
    file_ = std::make_unique<io::AtomicFile>(path);
  } catch (const std::filesystem::filesystem_error& e) {
    RaiseOpenError(path, e.code().value());
  }
  fd_ = file_->Descriptor();
}

MhtOutput::~MhtOutput() {
  // In a child after fork the buffered bytes are the parent's: only the
  // child's copy of the descriptor is closed.
  if (device_ >= 0 && !Inherited()) {
    try {
      Flush();
    } catch (...) {  // the reporting path is Publish
    }
  }
  if (device_ >= 0) io::sys::Close(device_);
}

bool MhtOutput::Inherited() const noexcept { return generation_ != io::Executor::Generation(); }

void MhtOutput::RaiseWriteFailure(int error, const std::exception* failure) const {
  Raise(ERR_DeviceIO, ErrcOfErrno(error),
        DescribeError(ERR_DeviceIO, failure ? frame::WriteFailureDetail(path_, *failure) : path_));
}

void MhtOutput::Line(std::string_view text) {
  char* out = Reserve(text.size() + 2);
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\r';
  out[text.size() + 1] = '\n';
  Commit(text.size() + 2);
}

char* MhtOutput::Reserve(std::size_t count) {
  if (buffer_.size() - used_ < count) {
    Flush();
    if (buffer_.size() < count) buffer_.resize(count);
  }
  return buffer_.data() + used_;
}

void MhtOutput::Flush() {
  if (Inherited()) io::RaiseInherited();
  if (file_) {
    // Through the writer, so that a failed write keeps it from publishing.
    const std::size_t count = used_;
    used_ = 0;
    try {
      file_->Write(buffer_.data(), count);
    } catch (const std::filesystem::filesystem_error& e) {
      RaiseWriteFailure(e.code().value(), &e);
    }
    flushed_ += count;
    return;
  }
  std::size_t done = 0;
  while (done < used_) {
    const ssize_t wrote = io::sys::Write(fd_, buffer_.data() + done, used_ - done);
    if (wrote <= 0) {
      used_ = 0;
      RaiseWriteFailure(wrote < 0 ? errno : EIO);
    }
    done += static_cast<std::size_t>(wrote);
  }
  flushed_ += used_;
  used_ = 0;
}

void MhtOutput::Rollback(std::uint64_t mark) {
  if (Inherited()) io::RaiseInherited();
  if (mark >= flushed_) {
    used_ = static_cast<std::size_t>(mark - flushed_);
    return;
  }
  used_ = 0;
  // Bytes already written out are cut off again; a device keeps them.
  if (file_) {
    if (io::sys::Ftruncate(fd_, static_cast<off_t>(mark)) != 0 || ::lseek(fd_, static_cast<off_t>(mark), SEEK_SET) < 0)
      RaiseWriteFailure(errno);
    flushed_ = mark;
  }
}

void MhtOutput::Publish() {
  Flush();  // raises in a child after fork
  if (file_) {
    try {
      file_->Commit();
    } catch (const std::filesystem::filesystem_error& e) {
      RaiseWriteFailure(e.code().value(), &e);
    }
    return;
  }
  const int result = io::sys::Close(device_);
  device_ = -1;
  if (result != 0) RaiseWriteFailure(errno);
}

}  // namespace qm::mdlHTML2MHT
