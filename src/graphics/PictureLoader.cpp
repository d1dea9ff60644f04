// The platform's picture loader over stb_image. The one copy of the
// stb_image implementation in the library is compiled here, with internal
// linkage so that it never clashes with another copy in the application.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
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

std::vector<std::uint8_t> ReadWholeFile(const std::string& name) {
  FileDescriptor file(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) RaiseFileError(errno);
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) RaiseFileError(errno);
  if (S_ISDIR(info.st_mode)) Raise(ERR_PathFileAccess);
  if (info.st_size > std::numeric_limits<int>::max()) RaiseInvalid("the file is larger than 2 GiB");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(file.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RaiseFileError(errno);
    if (n == 0) break;  // the file shrank while being read
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  return bytes;
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
  const auto bytes = ReadWholeFile(FileName);
  return LoadPictureFromMemory(bytes);
}

}  // namespace qm
