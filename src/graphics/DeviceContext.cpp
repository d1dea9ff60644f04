#include "quillmark/graphics/DeviceContext.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

#include "frame/PrivateState.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm {
namespace {
constexpr std::int64_t kMaxBitmapBytes = std::int64_t{1} << 30;
constexpr std::size_t kMappedBytes = std::size_t{1} << 20;  // from here on, pages of its own
constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::int64_t CheckedStride(std::int32_t width, std::int32_t height) {
  if (width < 0 || height < 0) Raise(ERR_InvalidProcedureCall);
  const std::int64_t stride = (std::int64_t{3} * width + 3) & ~std::int64_t{3};
  if (stride * height > kMaxBitmapBytes) Raise(ERR_OutOfMemory);
  return stride;
}

// Zero-filled memory straight from the system: large bitmaps get pages of
// their own (huge pages where the system offers them), so that a picture of
// many megabytes is neither cleared twice nor faulted in page by page.
class PixelMemory {
 public:
  explicit PixelMemory(std::size_t size) : size_(size) {
    if (size >= kMappedBytes) {
      void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p == MAP_FAILED) Raise(ERR_OutOfMemory);
      if (size >= kHugePage) ::madvise(p, size, MADV_HUGEPAGE);  // a hint; ignored where unsupported
      data_ = static_cast<std::uint8_t*>(p);
      mapped_ = true;
    } else {
      data_ = static_cast<std::uint8_t*>(std::calloc(size ? size : 1, 1));
      if (!data_) Raise(ERR_OutOfMemory);
    }
  }
  ~PixelMemory() {
    if (mapped_) ::munmap(data_, size_);
    else std::free(data_);
  }
  PixelMemory(const PixelMemory&) = delete;
  PixelMemory& operator=(const PixelMemory&) = delete;
  std::uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  bool mapped_ = false;
};
}  // namespace

struct Bitmap::Impl {
  Impl(std::int32_t width, std::int32_t height, std::int32_t stride)
      : width(width),
        height(height),
        stride(stride),
        bits(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height)) {}
  std::size_t RowOffset(std::int32_t y) const {
    return static_cast<std::size_t>(height - 1 - y) * static_cast<std::size_t>(stride);
  }
  std::int32_t width;
  std::int32_t height;
  std::int32_t stride;
  PixelMemory bits;
};

Bitmap::Bitmap(std::int32_t width, std::int32_t height)
    : impl_(std::make_unique<Impl>(width, height, static_cast<std::int32_t>(CheckedStride(width, height)))) {}

Bitmap::~Bitmap() = default;

std::int32_t Bitmap::Width() const { return impl_->width; }
std::int32_t Bitmap::Height() const { return impl_->height; }
std::int32_t Bitmap::BytesPerScanLine() const { return impl_->stride; }
std::uint8_t* Bitmap::Bits() { return impl_->bits.Data(); }
const std::uint8_t* Bitmap::Bits() const { return impl_->bits.Data(); }
std::size_t Bitmap::SizeInBytes() const { return impl_->bits.Size(); }
std::uint8_t* Bitmap::Row(std::int32_t y) { return impl_->bits.Data() + impl_->RowOffset(y); }
const std::uint8_t* Bitmap::Row(std::int32_t y) const { return impl_->bits.Data() + impl_->RowOffset(y); }

std::uint32_t Bitmap::GetPixel(std::int32_t x, std::int32_t y) const {
  if (x < 0 || y < 0 || x >= impl_->width || y >= impl_->height) return 0xFFFFFFFFu;
  const std::uint8_t* p = Row(y) + 3 * static_cast<std::size_t>(x);
  return std::uint32_t{p[2]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[0]} << 16;
}

void Bitmap::SetPixel(std::int32_t x, std::int32_t y, std::uint32_t color) {
  if (x < 0 || y < 0 || x >= impl_->width || y >= impl_->height) return;
  std::uint8_t* p = Row(y) + 3 * static_cast<std::size_t>(x);
  p[0] = static_cast<std::uint8_t>(color >> 16);
  p[1] = static_cast<std::uint8_t>(color >> 8);
  p[2] = static_cast<std::uint8_t>(color);
}

struct DeviceContext::Impl {
  std::shared_ptr<Bitmap> bitmap;
};

DeviceContext::DeviceContext() : impl_(std::make_unique<Impl>()) {}
DeviceContext::DeviceContext(std::shared_ptr<Bitmap> bitmap) : impl_(std::make_unique<Impl>(Impl{std::move(bitmap)})) {}
DeviceContext::DeviceContext(const DeviceContext& other)
    : Object(other), impl_(std::make_unique<Impl>(Impl{other.SelectedBitmap()})) {}
DeviceContext& DeviceContext::operator=(const DeviceContext& other) {
  if (this != &other) impl_ = std::make_unique<Impl>(Impl{other.SelectedBitmap()});
  return *this;
}
DeviceContext::DeviceContext(DeviceContext&& other) noexcept = default;
DeviceContext& DeviceContext::operator=(DeviceContext&& other) noexcept = default;
DeviceContext::~DeviceContext() = default;

const std::shared_ptr<Bitmap>& DeviceContext::SelectedBitmap() const { return frame::ReadableState(impl_).bitmap; }

std::shared_ptr<Bitmap> DeviceContext::SelectObject(std::shared_ptr<Bitmap> bitmap) {
  std::swap(frame::WritableState(impl_).bitmap, bitmap);
  return bitmap;
}

bool BitBlt(DeviceContext& Dest, std::int32_t X, std::int32_t Y, std::int32_t Width, std::int32_t Height,
            const DeviceContext& Src, std::int32_t XSrc, std::int32_t YSrc, std::uint32_t Rop) {
  if (Rop != SRCCOPY) return false;
  Bitmap* dest = Dest.SelectedBitmap().get();
  const Bitmap* src = Src.SelectedBitmap().get();
  if (!dest || !src) return false;

  // Clip the block against both bitmaps, in 64 bits so that no sum overflows.
  std::int64_t x = X, y = Y, xs = XSrc, ys = YSrc, w = Width, h = Height;
  auto clipStart = [](std::int64_t& a, std::int64_t& b, std::int64_t& extent) {
    const std::int64_t shift = std::max<std::int64_t>({0, -a, -b});
    a += shift;
    b += shift;
    extent -= shift;
  };
  clipStart(x, xs, w);
  clipStart(y, ys, h);
  w = std::min({w, std::int64_t{dest->Width()} - x, std::int64_t{src->Width()} - xs});
  h = std::min({h, std::int64_t{dest->Height()} - y, std::int64_t{src->Height()} - ys});
  if (w <= 0 || h <= 0) return true;

  const auto bytes = static_cast<std::size_t>(3 * w);
  auto copyRow = [&](std::int64_t row) {
    std::memmove(dest->Row(static_cast<std::int32_t>(y + row)) + 3 * x,
                 src->Row(static_cast<std::int32_t>(ys + row)) + 3 * xs, bytes);
  };
  // Within one bitmap, copy in the order that reads every row before it is overwritten.
  if (dest == src && y > ys) {
    for (std::int64_t row = h - 1; row >= 0; --row) copyRow(row);
  } else {
    for (std::int64_t row = 0; row < h; ++row) copyRow(row);
  }
  return true;
}

}  // namespace qm
