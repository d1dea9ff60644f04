// The platform's picture loader: the format is told from the first bytes and
// each goes to its decoder (libjpeg-turbo, libpng, giflib, our BMP reader).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "PictureFormats.h"
#include "frame/FileErrors.h"
#include "io/System.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/graphics/Picture.h"

namespace qm {
namespace picture {

void RaiseInvalidPicture(const std::string& reason) { RaiseWithDetail(ERR_InvalidPicture, reason); }

void CheckPictureSize(std::int64_t width, std::int64_t height) {
  if (width <= 0 || height <= 0) RaiseInvalidPicture("the picture has no pixels");
  if (width * height > kMaxPicturePixels) RaiseInvalidPicture("the picture is larger than 64 megapixels");
}

}  // namespace picture

namespace {

[[noreturn]] void RaiseFileError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: frame::RaiseErrno(ERR_FileNotFound, error);
    case EACCES:
    case EPERM: frame::RaiseErrno(ERR_PermissionDenied, error);
    default: frame::RaiseErrno(ERR_PathFileAccess, error);
  }
}

// Closes the descriptor when the read is over.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) io::sys::Close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads up to `size` bytes at `offset`; returns how many were read.
std::size_t ReadAt(int fd, std::uint8_t* buffer, std::size_t size, off_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = io::sys::PRead(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0) RaiseFileError(errno);
    if (n == 0) break;  // the file ended early
    done += static_cast<std::size_t>(n);
  }
  return done;
}

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view magic) {
  return bytes.size() >= magic.size() && std::memcmp(bytes.data(), magic.data(), magic.size()) == 0;
}

}  // namespace

std::shared_ptr<Picture> LoadPictureFromMemory(std::span<const std::uint8_t> bytes) {
  using namespace picture;
  if (bytes.empty()) RaiseInvalidPicture("the file is empty");
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
    RaiseInvalidPicture("the file is larger than 2 GiB");
  std::shared_ptr<Bitmap> bitmap;
  if (StartsWith(bytes, "BM")) bitmap = DecodeBmp(bytes);
  else if (StartsWith(bytes, "\xFF\xD8\xFF")) bitmap = DecodeJpeg(bytes);
  else if (StartsWith(bytes, "\x89PNG\r\n\x1A\n")) bitmap = DecodePng(bytes);
  else if (StartsWith(bytes, "GIF87a") || StartsWith(bytes, "GIF89a")) bitmap = DecodeGif(bytes);
  else RaiseInvalidPicture("not a BMP, GIF, JPEG or PNG file");
  return std::make_shared<Picture>(std::move(bitmap));
}

std::shared_ptr<Picture> LoadPicture(const std::string& FileName) {
  using namespace picture;
  FileDescriptor file(io::sys::Open(FileName.c_str(), O_RDONLY));
  if (file.get() < 0) RaiseFileError(errno);
  struct stat info {};
  if (io::sys::Fstat(file.get(), &info) != 0) RaiseFileError(errno);
  if (S_ISDIR(info.st_mode)) Raise(ERR_PathFileAccess);
  if (info.st_size > std::numeric_limits<int>::max()) RaiseInvalidPicture("the file is larger than 2 GiB");
  const auto fileSize = static_cast<std::size_t>(info.st_size);

  // A BMP in the bitmap's own layout is read straight into the bitmap.
  std::array<std::uint8_t, kBmpHeadBytes> head{};
  const std::size_t headBytes = ReadAt(file.get(), head.data(), head.size(), 0);
  if (const auto bmp = DirectBmpLayout({head.data(), headBytes}, fileSize)) {
    auto bitmap = std::make_shared<Bitmap>(bmp->Width, bmp->Height);
    if (ReadAt(file.get(), bitmap->Bits(), bitmap->SizeInBytes(), bmp->Offset) != bitmap->SizeInBytes())
      RaiseInvalidPicture("the file ended before its last row of pixels");
    return std::make_shared<Picture>(std::move(bitmap));
  }

  std::vector<std::uint8_t> bytes(fileSize);
  bytes.resize(ReadAt(file.get(), bytes.data(), bytes.size(), 0));
  return LoadPictureFromMemory(bytes);
}

}  // namespace qm
