// The platform's picture loader over stb_image. The one copy of the
// stb_image implementation in the library is compiled here, with internal
// linkage so that it never clashes with another copy in the application.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "quillmark/frame/Error.h"
#include "quillmark/frame/ErrorNumbers.h"
#include "quillmark/graphics/Picture.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_NO_STDIO
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#define STBI_FAILURE_USERMSG
#define STBI_MAX_DIMENSIONS 65535
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#endif
#include <stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace qm {
namespace {

// Pictures above 64 megapixels are refused before any pixel memory is taken.
constexpr std::int64_t kMaxPixels = std::int64_t{1} << 26;

[[noreturn]] void RaiseInvalid(const std::string& reason) {
  Raise(ERR_InvalidPicture, "Invalid picture: " + reason);
}

[[noreturn]] void RaiseFileError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      Raise(ERR_FileNotFound);
    case EACCES:
    case EPERM:
      Raise(ERR_PermissionDenied);
    default:
      Raise(ERR_PathFileAccess);
  }
}

// Closes the descriptor when the read is over.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
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
    const ssize_t n = ::pread(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RaiseFileError(errno);
    if (n == 0) break;  // the file ended early
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::uint32_t Le(const std::uint8_t* p, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

// An uncompressed 24-bit bottom-up BMP stores its pixel array exactly as a
// Bitmap does (blue-green-red, rows padded to 4 bytes, bottom row first), so
// its pixels are taken over in one piece; every other file goes to stb_image.
struct DirectBmp {
  std::int32_t Width, Height;
  std::uint32_t Offset;
};

constexpr std::size_t kBmpHeaderBytes = 54;

std::optional<DirectBmp> DirectLayout(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  if (head.size() < kBmpHeaderBytes || head[0] != 'B' || head[1] != 'M') return std::nullopt;
  const std::uint32_t offset = Le(&head[10], 4), infoSize = Le(&head[14], 4);
  const auto width = static_cast<std::int32_t>(Le(&head[18], 4));
  const auto height = static_cast<std::int32_t>(Le(&head[22], 4));
  if (infoSize < 40 || Le(&head[26], 2) != 1 || Le(&head[28], 2) != 24 || Le(&head[30], 4) != 0) return std::nullopt;
  if (width <= 0 || height <= 0 || std::int64_t{width} * height > kMaxPixels) return std::nullopt;
  if (std::uint64_t{offset} < 14 + std::uint64_t{infoSize}) return std::nullopt;
  const std::uint64_t pixelBytes = std::uint64_t{static_cast<std::uint32_t>(Bitmap::BytesPerScanLine(width))} *
                                   static_cast<std::uint32_t>(height);
  if (offset + pixelBytes > fileSize) return std::nullopt;
  return DirectBmp{width, height, offset};
}

struct StbFree {
  void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

}  // namespace

std::shared_ptr<Picture> LoadPictureFromMemory(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) RaiseInvalid("the file is empty");
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
    RaiseInvalid("the file is larger than 2 GiB");
  const int length = static_cast<int>(bytes.size());

  if (const auto bmp = DirectLayout(bytes, bytes.size())) {
    auto bitmap = std::make_shared<Bitmap>(bmp->Width, bmp->Height);
    std::memcpy(bitmap->Bits(), bytes.data() + bmp->Offset, bitmap->SizeInBytes());
    return std::make_shared<Picture>(std::move(bitmap));
  }

  int width = 0, height = 0, channels = 0;
  if (!stbi_info_from_memory(bytes.data(), length, &width, &height, &channels))
    RaiseInvalid(stbi_failure_reason());
  if (width <= 0 || height <= 0) RaiseInvalid("the picture has no pixels");
  if (std::int64_t{width} * height > kMaxPixels) RaiseInvalid("the picture is larger than 64 megapixels");

  std::unique_ptr<stbi_uc, StbFree> rgb(stbi_load_from_memory(bytes.data(), length, &width, &height, &channels, 3));
  if (!rgb) RaiseInvalid(stbi_failure_reason());

  auto bitmap = std::make_shared<Bitmap>(width, height);
  const stbi_uc* source = rgb.get();
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap->Row(y);
    for (std::int32_t x = 0; x < width; ++x, source += 3, row += 3) {
      row[0] = source[2];
      row[1] = source[1];
      row[2] = source[0];
    }
  }
  return std::make_shared<Picture>(std::move(bitmap));
}

std::shared_ptr<Picture> LoadPicture(const std::string& FileName) {
  FileDescriptor file(::open(FileName.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) RaiseFileError(errno);
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) RaiseFileError(errno);
  if (S_ISDIR(info.st_mode)) Raise(ERR_PathFileAccess);
  if (info.st_size > std::numeric_limits<int>::max()) RaiseInvalid("the file is larger than 2 GiB");
  const auto fileSize = static_cast<std::size_t>(info.st_size);

  std::uint8_t head[kBmpHeaderBytes];
  const std::size_t headBytes = ReadAt(file.get(), head, sizeof head, 0);
  if (const auto bmp = DirectLayout({head, headBytes}, fileSize)) {
    auto bitmap = std::make_shared<Bitmap>(bmp->Width, bmp->Height);
    if (ReadAt(file.get(), bitmap->Bits(), bitmap->SizeInBytes(), bmp->Offset) != bitmap->SizeInBytes())
      RaiseInvalid("the file ended before its last row of pixels");
    return std::make_shared<Picture>(std::move(bitmap));
  }

  std::vector<std::uint8_t> bytes(fileSize);
  bytes.resize(ReadAt(file.get(), bytes.data(), bytes.size(), 0));
  return LoadPictureFromMemory(bytes);
}

}  // namespace qm
