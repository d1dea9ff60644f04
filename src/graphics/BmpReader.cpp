// The BMP reader: Windows and OS/2 headers, 1, 4, 8, 16, 24 and 32 bits per
// pixel, uncompressed or with colour masks, rows stored bottom-up (positive
// height) or top-down (negative height). Compressed (RLE, embedded JPEG or
// PNG) files are refused. Every offset is checked against the file's size
// before it is read.

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "PictureFormats.h"

namespace qm::picture {
namespace {

std::uint32_t Le(const std::uint8_t* p, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::uint32_t kRgb = 0, kBitfields = 3;

// One colour channel of a masked pixel, widened or narrowed to 8 bits.
struct Channel {
  std::uint32_t Mask = 0;
  int Shift = 0, Bits = 0;

  static Channel Of(std::uint32_t mask) {
    Channel c{mask, std::countr_zero(mask), std::popcount(mask)};
    if (mask == 0 || std::countl_zero(mask) + c.Shift + c.Bits != 32) RaiseInvalidPicture("bad BMP colour masks");
    return c;
  }

  std::uint8_t From(std::uint32_t pixel) const {
    const std::uint32_t v = (pixel & Mask) >> Shift;
    if (Bits >= 8) return static_cast<std::uint8_t>(v >> (Bits - 8));
    // Repeat the bits downwards, so that all ones become 255.
    static constexpr std::array<std::uint32_t, 8> kMultiply{0, 0xff, 0x55, 0x49, 0x11, 0x21, 0x41, 0x81};
    static constexpr std::array<int, 8> kShift{0, 0, 0, 1, 0, 2, 4, 6};
    return static_cast<std::uint8_t>(v * kMultiply[Bits] >> kShift[Bits]);
  }
};

struct BmpHeader {
  std::uint32_t Offset = 0, InfoSize = 0, Compression = kRgb;
  std::int64_t Width = 0, Height = 0;  // Height < 0: rows stored top-down
  int BitCount = 0;
  std::size_t PaletteStart = 0;  // where the colour table or the masks end
  std::uint32_t Masks[3] = {};   // red, green, blue
};

BmpHeader ParseHeader(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kFileHeaderBytes + 4 || bytes[0] != 'B' || bytes[1] != 'M') RaiseInvalidPicture("not a BMP file");
  BmpHeader h;
  h.Offset = Le(&bytes[10], 4);
  h.InfoSize = Le(&bytes[14], 4);
  if (h.InfoSize != 12 && h.InfoSize != 40 && h.InfoSize != 52 && h.InfoSize != 56 && h.InfoSize != 108 &&
      h.InfoSize != 124)
    RaiseInvalidPicture("BMP header of unknown size " + std::to_string(h.InfoSize));
  if (bytes.size() < kFileHeaderBytes + h.InfoSize) RaiseInvalidPicture("the BMP header is cut short");
  const std::uint8_t* info = &bytes[kFileHeaderBytes];
  int planes;
  if (h.InfoSize == 12) {
    h.Width = Le(info + 4, 2);
    h.Height = Le(info + 6, 2);
    planes = static_cast<int>(Le(info + 8, 2));
    h.BitCount = static_cast<int>(Le(info + 10, 2));
  } else {
    h.Width = static_cast<std::int32_t>(Le(info + 4, 4));
    h.Height = static_cast<std::int32_t>(Le(info + 8, 4));
    planes = static_cast<int>(Le(info + 12, 2));
    h.BitCount = static_cast<int>(Le(info + 14, 2));
    h.Compression = Le(info + 16, 4);
  }
  if (planes != 1) RaiseInvalidPicture("bad BMP: " + std::to_string(planes) + " planes");
  if (h.Compression != kRgb && h.Compression != kBitfields)
    RaiseInvalidPicture("BMP compression " + std::to_string(h.Compression) + " is not supported");
  const int bits = h.BitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    RaiseInvalidPicture("BMP with " + std::to_string(bits) + " bits per pixel");
  if (h.Compression == kBitfields && bits != 16 && bits != 32)
    RaiseInvalidPicture("BMP colour masks need 16 or 32 bits per pixel");
  const std::int64_t rows = h.Height < 0 ? -h.Height : h.Height;
  CheckPictureSize(h.Width, rows);

  h.PaletteStart = kFileHeaderBytes + h.InfoSize;
  if (bits == 16) {
    h.Masks[0] = 0x7C00, h.Masks[1] = 0x03E0, h.Masks[2] = 0x001F;
  } else if (bits == 32) {
    h.Masks[0] = 0xFF0000, h.Masks[1] = 0x00FF00, h.Masks[2] = 0x0000FF;
  }
  if (h.Compression == kBitfields) {
    // A 40-byte header is followed by the three masks; larger ones hold them.
    if (h.InfoSize == 40) {
      if (bytes.size() < h.PaletteStart + 12) RaiseInvalidPicture("the BMP colour masks are cut short");
      h.PaletteStart += 12;
    }
    for (int i = 0; i < 3; ++i) h.Masks[i] = Le(info + 40 + 4 * i, 4);
  }
  if (h.Offset < h.PaletteStart || h.Offset > bytes.size()) RaiseInvalidPicture("bad BMP pixel offset");
  return h;
}

std::uint64_t RowBytes(std::int64_t width, int bits) {
  return (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bits) + 31) / 32 * 4;
}

}  // namespace

std::optional<DirectBmp> DirectBmpLayout(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  if (head.size() < kBmpHeadBytes || head[0] != 'B' || head[1] != 'M') return std::nullopt;
  const std::uint32_t offset = Le(&head[10], 4), infoSize = Le(&head[14], 4);
  const auto width = static_cast<std::int32_t>(Le(&head[18], 4));
  const auto height = static_cast<std::int32_t>(Le(&head[22], 4));
  if (infoSize < 40 || Le(&head[26], 2) != 1 || Le(&head[28], 2) != 24 || Le(&head[30], 4) != kRgb) return std::nullopt;
  if (width <= 0 || height <= 0 || std::int64_t{width} * height > kMaxPicturePixels) return std::nullopt;
  if (std::uint64_t{offset} < kFileHeaderBytes + std::uint64_t{infoSize}) return std::nullopt;
  if (offset + RowBytes(width, 24) * static_cast<std::uint64_t>(height) > fileSize) return std::nullopt;
  return DirectBmp{width, height, offset};
}

std::shared_ptr<Bitmap> DecodeBmp(std::span<const std::uint8_t> bytes) {
  const BmpHeader h = ParseHeader(bytes);
  const auto width = static_cast<std::int32_t>(h.Width);
  const auto height = static_cast<std::int32_t>(h.Height < 0 ? -h.Height : h.Height);
  const std::uint64_t rowBytes = RowBytes(width, h.BitCount);
  if (h.Offset + rowBytes * static_cast<std::uint64_t>(height) > bytes.size())
    RaiseInvalidPicture("the file ended before its last row of pixels");

  // The colour table lies between the header (or its masks) and the pixels;
  // indices beyond it are black.
  std::array<std::array<std::uint8_t, 3>, 256> palette{};
  if (h.BitCount <= 8) {
    const std::size_t entryBytes = h.InfoSize == 12 ? 3 : 4;
    const std::size_t entries =
        std::min<std::size_t>((h.Offset - h.PaletteStart) / entryBytes, std::size_t{1} << h.BitCount);
    if (entries == 0) RaiseInvalidPicture("the BMP colour table is missing");
    for (std::size_t i = 0; i < entries; ++i)
      std::memcpy(palette[i].data(), &bytes[h.PaletteStart + i * entryBytes], 3);  // blue, green, red
  }
  const bool masked = h.BitCount == 16 || h.BitCount == 32;
  const Channel red = masked ? Channel::Of(h.Masks[0]) : Channel{};
  const Channel green = masked ? Channel::Of(h.Masks[1]) : Channel{};
  const Channel blue = masked ? Channel::Of(h.Masks[2]) : Channel{};

  auto bitmap = std::make_shared<Bitmap>(width, height);
  for (std::int32_t row = 0; row < height; ++row) {
    const std::uint8_t* in = &bytes[h.Offset + row * rowBytes];
    std::uint8_t* out = bitmap->Row(h.Height < 0 ? row : height - 1 - row);
    switch (h.BitCount) {
      case 1:
      case 4:
      case 8: {
        const int perByte = 8 / h.BitCount, mask = (1 << h.BitCount) - 1;
        for (std::int32_t x = 0; x < width; ++x, out += 3) {
          const int shift = 8 - h.BitCount * (x % perByte + 1);
          std::memcpy(out, palette[in[x / perByte] >> shift & mask].data(), 3);
        }
        break;
      }
      case 24: std::memcpy(out, in, 3 * static_cast<std::size_t>(width)); break;
      default:
        for (std::int32_t x = 0; x < width; ++x, out += 3) {
          const std::uint32_t pixel = h.BitCount == 16 ? Le(in + 2 * x, 2) : Le(in + 4 * x, 4);
          out[0] = blue.From(pixel);
          out[1] = green.From(pixel);
          out[2] = red.From(pixel);
        }
    }
  }
  return bitmap;
}

}  // namespace qm::picture
