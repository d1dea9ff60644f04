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

void RaiseFileError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: frame::RaiseErrno(ERR_FileNotFound, error);
    case EACCES:
    case EPERM: frame::RaiseErrno(ERR_PermissionDenied, error);
    default: frame::RaiseErrno(ERR_PathFileAccess, error);
  }
}

PictureFile::PictureFile(const std::string& name) : fd_(io::sys::Open(name.c_str(), O_RDONLY)) {
  if (fd_ < 0) RaiseFileError(errno);
  struct stat info {};
  if (io::sys::Fstat(fd_, &info) != 0) {
    const int error = errno;
    io::sys::Close(fd_);
    RaiseFileError(error);
  }
  size_ = static_cast<std::uint64_t>(info.st_size);
  const bool folder = S_ISDIR(info.st_mode);
  if (folder || size_ > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
    io::sys::Close(fd_);
    if (folder) Raise(ERR_PathFileAccess);
    RaiseInvalidPicture("the file is larger than 2 GiB");
  }
}

PictureFile::~PictureFile() { io::sys::Close(fd_); }

std::size_t PictureFile::ReadAt(std::uint8_t* into, std::size_t size, std::uint64_t offset) const {
  const ssize_t got = io::sys::PReadFull(fd_, into, size, static_cast<off_t>(offset));
  if (got < 0) RaiseFileError(errno);
  return static_cast<std::size_t>(got);  // fewer at the end of the file
}

std::vector<std::uint8_t> PictureFile::ReadAll() const {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size_));
  bytes.resize(ReadAt(bytes.data(), bytes.size(), 0));
  return bytes;
}

}  // namespace picture

namespace {

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
  const PictureFile file(FileName);
  // A BMP in the bitmap's own layout is read straight into the bitmap.
  std::array<std::uint8_t, kBmpHeadBytes> head{};
  const std::size_t headBytes = file.ReadAt(head.data(), head.size(), 0);
  if (const auto bmp = DirectBmpLayout({head.data(), headBytes}, file.Size())) {
    auto bitmap = std::make_shared<Bitmap>(bmp->Width, bmp->Height);
    if (file.ReadAt(bitmap->Bits(), bitmap->SizeInBytes(), bmp->Offset) != bitmap->SizeInBytes())
      RaiseInvalidPicture("the file ended before its last row of pixels");
    return std::make_shared<Picture>(std::move(bitmap));
  }
  return LoadPictureFromMemory(file.ReadAll());
}

}  // namespace qm
