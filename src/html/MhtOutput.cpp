#include "html/MhtOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "quillmark/frame/Error.h"
#include "quillmark/frame/ErrorNumbers.h"

namespace qm::mdlHTML2MHT {
namespace {
constexpr std::size_t kBufferSize = std::size_t{1} << 20;
}

MhtOutput::MhtOutput(const std::string& path) : buffer_(kBufferSize) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    if (errno == ENOENT || errno == ENOTDIR) Raise(ERR_PathNotFound);
    if (errno == EACCES || errno == EPERM || errno == EISDIR || errno == EROFS) Raise(ERR_PermissionDenied);
    Raise(ERR_PathFileAccess);
  }
}

MhtOutput::~MhtOutput() {
  if (fd_ < 0) return;
  try {
    Flush();  // a failed conversion keeps what it wrote
  } catch (...) {
  }
  ::close(fd_);
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
  std::size_t done = 0;
  while (done < used_ && !failed_) {
    const ssize_t wrote = ::write(fd_, buffer_.data() + done, used_ - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) failed_ = true;
    else done += static_cast<std::size_t>(wrote);
  }
  used_ = 0;
  if (failed_) Raise(ERR_DeviceIO);
}

void MhtOutput::Close() {
  if (fd_ < 0) return;
  Flush();
  const int result = ::close(fd_);
  fd_ = -1;
  if (result != 0 && errno != EINTR) Raise(ERR_DeviceIO);
}

}  // namespace qm::mdlHTML2MHT
