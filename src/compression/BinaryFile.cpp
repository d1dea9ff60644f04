#include "compression/BinaryFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <limits>

#include "frame/FileErrors.h"
#include "io/AtomicFile.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm::compression {
namespace {

// 61 or 57, naming the file written.
[[noreturn]] void RaiseWriteError(const std::filesystem::filesystem_error& failure, const std::filesystem::path& file) {
  const int error = failure.code().value();
  const std::int32_t number = error == ENOSPC || error == EDQUOT ? ERR_DiskFull : ERR_DeviceIO;
  Raise(number, ErrcOfErrno(error), DescribeError(number, frame::WriteFailureDetail(file, failure)));
}

}  // namespace

InputFile::InputFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
  if (fd_ < 0) frame::RaiseErrno(errno == ENOENT || errno == ENOTDIR ? ERR_FileNotFound : ERR_PathFileAccess, errno);
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) Raise(ERR_PathFileAccess);
  if (info.st_size > std::numeric_limits<std::int32_t>::max()) Raise(ERR_Overflow);
  size_ = static_cast<std::size_t>(info.st_size);
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t InputFile::Read(std::span<std::uint8_t> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t got = ::read(fd_, buffer.data() + done, buffer.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Raise(ERR_DeviceIO);
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

OutputFile::OutputFile(const std::string& path) : path_(path) {
  try {
    file_ = std::make_unique<io::AtomicFile>(path, io::AtomicFile::Replace::Name);
  } catch (const std::filesystem::filesystem_error& e) {
    ::unlink(path.c_str());
    const int error = e.code().value();
    frame::RaiseErrno(error == ENOENT || error == ENOTDIR ? ERR_PathNotFound : ERR_PathFileAccess, error);
  }
}

OutputFile::OutputFile(std::unique_ptr<io::AtomicFile> file) : file_(std::move(file)) {}

OutputFile::~OutputFile() {
  if (!file_) return;
  file_->Discard();
  if (!path_.empty()) ::unlink(path_.c_str());
}

void OutputFile::Write(std::span<const std::uint8_t> bytes) {
  try {
    file_->Write(bytes.data(), bytes.size());
  } catch (const std::filesystem::filesystem_error& e) {
    RaiseWriteError(e, file_->Target());
  }
}

void OutputFile::Close() {
  try {
    file_->Commit();
    file_.reset();
  } catch (const std::filesystem::filesystem_error& e) {
    RaiseWriteError(e, file_->Target());
  }
}

FileBytes ReadWholeFile(InputFile& file) {
  FileBytes bytes;
  bytes.Buffer = std::make_unique_for_overwrite<std::uint8_t[]>(file.Size() + 1);
  bytes.Size = file.Read({bytes.Buffer.get(), file.Size()});  // shorter if the file shrank meanwhile
  return bytes;
}

}  // namespace qm::compression
