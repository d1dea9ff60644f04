#include "compression/BinaryFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <limits>

#include "frame/FileErrors.h"
#include "io/AtomicFile.h"
#include "io/Executor.h"
#include "io/Lane.h"
#include "io/System.h"
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

// A file that is there but cannot be read (or made): `number`, naming it.
[[noreturn]] void RaiseReadError(std::int32_t number, int error, const std::string& path) {
  Raise(number, ErrcOfErrno(error), DescribeError(number, path));
}

}  // namespace

InputFile::InputFile(const std::string& path)
    : path_(path), fd_(io::sys::Open(path.c_str(), O_RDONLY)), generation_(io::Executor::Generation()) {
  if (fd_ < 0 && (errno == ENOENT || errno == ENOTDIR)) frame::RaiseErrno(ERR_FileNotFound, errno);
  if (fd_ < 0) RaiseReadError(ERR_PathFileAccess, errno, path);
  struct stat info {};
  const int looked = io::sys::Fstat(fd_, &info) == 0 ? 0 : errno;
  const bool regular = looked == 0 && S_ISREG(info.st_mode);
  if (!regular || info.st_size > std::numeric_limits<std::int32_t>::max()) {
    io::sys::Close(fd_);  // the destructor does not run for a constructor that raises
    if (regular) Raise(ERR_Overflow);
    if (looked != 0) RaiseReadError(ERR_PathFileAccess, looked, path);
    RaiseWithDetail(ERR_PathFileAccess, path);  // a folder or a device
  }
  size_ = static_cast<std::size_t>(info.st_size);
}

InputFile::~InputFile() {
  if (fd_ >= 0) io::sys::Close(fd_);
}

std::size_t InputFile::Read(std::span<std::uint8_t> buffer) {
  if (generation_ != io::Executor::Generation()) io::RaiseInherited();
  const ssize_t got = io::sys::PReadFull(fd_, buffer.data(), buffer.size(), static_cast<off_t>(offset_));
  if (got < 0) RaiseReadError(ERR_DeviceIO, errno, path_);
  offset_ += static_cast<std::uint64_t>(got);
  return static_cast<std::size_t>(got);
}

OutputFile::OutputFile(const std::string& path) : path_(path), generation_(io::Executor::Generation()) {
  try {
    file_ = std::make_unique<io::AtomicFile>(path, io::AtomicFile::Replace::Name);
  } catch (const std::filesystem::filesystem_error& e) {
    io::sys::Unlink(path.c_str());
    const int error = e.code().value();
    if (error == ENOENT || error == ENOTDIR) frame::RaiseErrno(ERR_PathNotFound, error);
    RaiseReadError(ERR_PathFileAccess, error, path);
  }
}

OutputFile::OutputFile(std::unique_ptr<io::AtomicFile> file)
    : file_(std::move(file)), generation_(io::Executor::Generation()) {}

OutputFile::~OutputFile() {
  if (!file_) return;
  if (Inherited()) {
    // The parent's output: its temporary is only let go of here (AtomicFile
    // closes the child's copy of the descriptor), and the old file stays.
    file_.reset();
    return;
  }
  file_->Discard();
  if (!path_.empty()) io::sys::Unlink(path_.c_str());
}

bool OutputFile::Inherited() const noexcept { return generation_ != io::Executor::Generation(); }

void OutputFile::Write(std::span<const std::uint8_t> bytes) {
  if (Inherited()) io::RaiseInherited();
  try {
    file_->Write(bytes.data(), bytes.size());
  } catch (const std::filesystem::filesystem_error& e) {
    RaiseWriteError(e, file_->Target());
  }
}

void OutputFile::Close() {
  if (Inherited()) io::RaiseInherited();
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
