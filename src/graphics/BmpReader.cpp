// The BMP reader: Windows and OS/2 headers, 1, 4, 8, 16, 24 and 32 bits per
// pixel, uncompressed or with colour masks, rows stored bottom-up (positive
// height) or top-down (negative height). Compressed (RLE, embedded JPEG or
// PNG) files are refused. Every offset is checked against the file's size
// before it is read.

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>

#include "PictureFormats.h"
#include "io/System.h"

namespace qm::picture {
namespace {

std::uint32_t Le(const std::uint8_t* p, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::uint32_t kRgb = 0, kBitfields = 3;

std::uint64_t StoredRowBytes(std::int64_t width, int bits) {
  return (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bits) + 31) / 32 * 4;
}

}  // namespace

BmpLayout::Channel BmpLayout::Channel::Of(std::uint32_t mask) {
  Channel c{mask, std::countr_zero(mask), std::popcount(mask)};
  if (mask == 0 || std::countl_zero(mask) + c.Shift + c.Bits != 32) RaiseInvalidPicture("bad BMP colour masks");
  return c;
}

std::uint8_t BmpLayout::Channel::From(std::uint32_t pixel) const {
  const std::uint32_t v = (pixel & Mask) >> Shift;
  if (Bits >= 8) return static_cast<std::uint8_t>(v >> (Bits - 8));
  // Repeat the bits downwards, so that all ones become 255.
  static constexpr std::array<std::uint32_t, 8> kMultiply{0, 0xff, 0x55, 0x49, 0x11, 0x21, 0x41, 0x81};
  static constexpr std::array<int, 8> kShift{0, 0, 0, 1, 0, 2, 4, 6};
  return static_cast<std::uint8_t>(v * kMultiply[Bits] >> kShift[Bits]);
}

// The header, masks and colour table come from `head`; only the pixel offset
// is checked against the whole file's size.
BmpLayout::BmpLayout(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  if (head.size() < kFileHeaderBytes + 4 || head[0] != 'B' || head[1] != 'M') RaiseInvalidPicture("not a BMP file");
  Offset = Le(&head[10], 4);
  const std::uint32_t infoSize = Le(&head[14], 4);
  if (infoSize != 12 && infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 && infoSize != 124)
    RaiseInvalidPicture("BMP header of unknown size " + std::to_string(infoSize));
  if (head.size() < kFileHeaderBytes + infoSize) RaiseInvalidPicture("the BMP header is cut short");
  const std::uint8_t* info = &head[kFileHeaderBytes];
  std::int64_t width = 0, height = 0;
  int planes = 0;
  std::uint32_t compression = kRgb;
  if (infoSize == 12) {
    width = Le(info + 4, 2);
    height = Le(info + 6, 2);
    planes = static_cast<int>(Le(info + 8, 2));
    BitCount = static_cast<int>(Le(info + 10, 2));
  } else {
    width = static_cast<std::int32_t>(Le(info + 4, 4));
    height = static_cast<std::int32_t>(Le(info + 8, 4));
    planes = static_cast<int>(Le(info + 12, 2));
    BitCount = static_cast<int>(Le(info + 14, 2));
    compression = Le(info + 16, 4);
  }
  if (planes != 1) RaiseInvalidPicture("bad BMP: " + std::to_string(planes) + " planes");
  if (compression != kRgb && compression != kBitfields)
    RaiseInvalidPicture("BMP compression " + std::to_string(compression) + " is not supported");
  const int bits = BitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    RaiseInvalidPicture("BMP with " + std::to_string(bits) + " bits per pixel");
  if (compression == kBitfields && bits != 16 && bits != 32)
    RaiseInvalidPicture("BMP colour masks need 16 or 32 bits per pixel");
  const std::int64_t rows = height < 0 ? -height : height;
  CheckPictureSize(width, rows);
  Width = static_cast<std::int32_t>(width);
  Height = static_cast<std::int32_t>(rows);
  TopDown = height < 0;
  RowBytes = StoredRowBytes(width, bits);

  std::size_t paletteStart = kFileHeaderBytes + infoSize;  // where the colour table or the masks end
  std::uint32_t masks[3] = {};                             // red, green, blue
  if (bits == 16) {
    masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  } else if (bits == 32) {
    masks[0] = 0xFF0000, masks[1] = 0x00FF00, masks[2] = 0x0000FF;
  }
  if (compression == kBitfields) {
    // A 40-byte header is followed by the three masks; larger ones hold them.
    if (infoSize == 40) {
      if (head.size() < paletteStart + 12) RaiseInvalidPicture("the BMP colour masks are cut short");
      paletteStart += 12;
    }
    for (int i = 0; i < 3; ++i) masks[i] = Le(info + 40 + 4 * i, 4);
  }
  if (Offset < paletteStart || Offset > fileSize) RaiseInvalidPicture("bad BMP pixel offset");

  // The colour table lies between the header (or its masks) and the pixels;
  // indices beyond it are black.
  if (bits <= 8) {
    const std::size_t entryBytes = infoSize == 12 ? 3 : 4;
    const std::size_t entries = std::min<std::size_t>((Offset - paletteStart) / entryBytes, std::size_t{1} << bits);
    if (entries == 0) RaiseInvalidPicture("the BMP colour table is missing");
    if (head.size() < paletteStart + entries * entryBytes) RaiseInvalidPicture("the BMP colour table is cut short");
    for (std::size_t i = 0; i < entries; ++i)
      std::memcpy(palette_[i].data(), &head[paletteStart + i * entryBytes], 3);  // blue, green, red
  } else if (bits != 24) {
    for (int i = 0; i < 3; ++i) channels_[i] = Channel::Of(masks[i]);
  }
}

std::uint64_t BmpLayout::PixelBytes() const { return RowBytes * static_cast<std::uint64_t>(Height); }

void BmpLayout::Convert(const std::uint8_t* in, std::uint8_t* out) const {
  switch (BitCount) {
    case 1:
    case 4:
    case 8: {
      const int perByte = 8 / BitCount, mask = (1 << BitCount) - 1;
      for (std::int32_t x = 0; x < Width; ++x, out += 3) {
        const int shift = 8 - BitCount * (x % perByte + 1);
        std::memcpy(out, palette_[in[x / perByte] >> shift & mask].data(), 3);
      }
      break;
    }
    case 24: std::memcpy(out, in, 3 * static_cast<std::size_t>(Width)); break;
    default:
      for (std::int32_t x = 0; x < Width; ++x, out += 3) {
        const std::uint32_t pixel = BitCount == 16 ? Le(in + 2 * x, 2) : Le(in + 4 * x, 4);
        out[0] = channels_[2].From(pixel);
        out[1] = channels_[1].From(pixel);
        out[2] = channels_[0].From(pixel);
      }
  }
}

std::optional<DirectBmp> DirectBmpLayout(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  if (head.size() < kBmpHeadBytes || head[0] != 'B' || head[1] != 'M') return std::nullopt;
  const std::uint32_t offset = Le(&head[10], 4), infoSize = Le(&head[14], 4);
  const auto width = static_cast<std::int32_t>(Le(&head[18], 4));
  const auto height = static_cast<std::int32_t>(Le(&head[22], 4));
  if (infoSize < 40 || Le(&head[26], 2) != 1 || Le(&head[28], 2) != 24 || Le(&head[30], 4) != kRgb) return std::nullopt;
  if (width <= 0 || height <= 0 || std::int64_t{width} * height > kMaxPicturePixels) return std::nullopt;
  if (std::uint64_t{offset} < kFileHeaderBytes + std::uint64_t{infoSize}) return std::nullopt;
  if (offset + StoredRowBytes(width, 24) * static_cast<std::uint64_t>(height) > fileSize) return std::nullopt;
  return DirectBmp{width, height, offset};
}

void ReadStoredRows(int fd, const BmpLayout& layout, std::int32_t first, std::int32_t count, std::uint8_t* into) {
  const std::size_t bytes = layout.RowBytes * static_cast<std::size_t>(count);
  const auto at = static_cast<off_t>(layout.Offset + layout.RowBytes * static_cast<std::uint64_t>(first));
  const ssize_t got = io::sys::PReadFull(fd, into, bytes, at);
  if (got < 0) RaiseFileError(errno);
  if (static_cast<std::size_t>(got) != bytes) RaiseInvalidPicture("the file ended before its last row of pixels");
}

std::shared_ptr<Bitmap> DecodeBmp(std::span<const std::uint8_t> bytes) {
  const BmpLayout layout(bytes, bytes.size());
  if (layout.Offset + layout.PixelBytes() > bytes.size())
    RaiseInvalidPicture("the file ended before its last row of pixels");
  auto bitmap = std::make_shared<Bitmap>(layout.Width, layout.Height);
  for (std::int32_t row = 0; row < layout.Height; ++row)
    layout.Convert(&bytes[layout.Offset + row * layout.RowBytes],
                   bitmap->Row(layout.TopDown ? row : layout.Height - 1 - row));
  return bitmap;
}

}  // namespace qm::picture
