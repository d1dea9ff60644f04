#pragma once
// The picture loader's decoders, one per format. Each takes the whole file in
// memory and returns a 24-bit Bitmap, or raises 481 "Invalid picture: ..."
// through RaiseInvalidPicture. Sizes are checked against kMaxPicturePixels
// from the header, before any pixel memory is taken. A BMP can also be read
// row by row from its file (PictureFile, BmpLayout, ReadStoredRows), so that
// a converter never holds it whole.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "quillmark/graphics/DeviceContext.h"

namespace qm::picture {

/// Pictures above 64 megapixels are refused.
inline constexpr std::int64_t kMaxPicturePixels = std::int64_t{1} << 26;

[[noreturn]] void RaiseInvalidPicture(const std::string& reason);

/// Refuses a size of no pixels or above kMaxPicturePixels.
void CheckPictureSize(std::int64_t width, std::int64_t height);

/// The steps shared by the libjpeg and libpng decoders: read the header, check
/// the size, then fill a new Bitmap with `readPixels`; a failing step raises
/// the decoder's message.
template <class Decoder, class ReadPixels>
std::shared_ptr<Bitmap> DecodeWith(Decoder& decoder, ReadPixels readPixels) {
  if (!decoder.ReadHeader()) RaiseInvalidPicture(decoder.Message());
  CheckPictureSize(decoder.Width(), decoder.Height());
  auto bitmap =
      std::make_shared<Bitmap>(static_cast<std::int32_t>(decoder.Width()), static_cast<std::int32_t>(decoder.Height()));
  if (!readPixels(*bitmap)) RaiseInvalidPicture(decoder.Message());
  return bitmap;
}

/// Raises the file error for a failed open, look or read (an errno value):
/// 53 for a missing file, 70 for one not to be read, 75 for the rest.
[[noreturn]] void RaiseFileError(int error);

/// A picture file open for reading, closed with the object. Raises the file
/// error when it cannot be opened or looked at, 75 for a folder and 481 for
/// a file of 2 GiB or more.
class PictureFile {
 public:
  explicit PictureFile(const std::string& name);
  ~PictureFile();
  PictureFile(const PictureFile&) = delete;
  PictureFile& operator=(const PictureFile&) = delete;
  int Descriptor() const { return fd_; }
  /// The size when it was opened.
  std::uint64_t Size() const { return size_; }
  /// Reads `size` bytes at `offset`, fewer only at the end of the file; the
  /// bytes read. Raises the file error when a read fails.
  std::size_t ReadAt(std::uint8_t* into, std::size_t size, std::uint64_t offset) const;
  /// The whole file.
  std::vector<std::uint8_t> ReadAll() const;

 private:
  int fd_;
  std::uint64_t size_ = 0;
};

/// A BMP file's layout from its headers: the picture's size, where its rows
/// lie and how a stored row becomes a Bitmap's row. Raises 481 for a file
/// that is no BMP the reader takes.
class BmpLayout {
 public:
  /// Reads the headers from `head`, the first bytes of a file of `fileSize`
  /// bytes: kBmpLayoutBytes of them, or the whole file when it is shorter.
  BmpLayout(std::span<const std::uint8_t> head, std::uint64_t fileSize);
  /// The bytes of the pixel array.
  std::uint64_t PixelBytes() const;
  /// One stored row into 3 * Width bytes of blue, green, red.
  void Convert(const std::uint8_t* in, std::uint8_t* out) const;

  std::int32_t Width = 0;
  std::int32_t Height = 0;
  bool TopDown = false;        // rows stored from the top (a negative height)
  int BitCount = 0;            // 24: a stored row is a Bitmap's row as it is
  std::uint32_t Offset = 0;    // where the pixel array starts
  std::uint64_t RowBytes = 0;  // a stored row, padded to 4 bytes

 private:
  // One colour channel of a masked pixel, widened or narrowed to 8 bits.
  struct Channel {
    std::uint32_t Mask = 0;
    int Shift = 0, Bits = 0;
    static Channel Of(std::uint32_t mask);
    std::uint8_t From(std::uint32_t pixel) const;
  };
  std::array<std::array<std::uint8_t, 3>, 256> palette_{};  // blue, green, red
  std::array<Channel, 3> channels_{};                       // red, green, blue
};

/// Bytes of the file start that hold every BMP header, mask and colour table.
inline constexpr std::size_t kBmpLayoutBytes = 2048;

/// Reads the stored rows [first, first + count) of the pixel array, in the
/// file's order, from the BMP file open as `fd`: raises 481 when the file
/// ends before them (cut short since its size was taken) and a file error
/// when a read fails.
void ReadStoredRows(int fd, const BmpLayout& layout, std::int32_t first, std::int32_t count, std::uint8_t* into);

std::shared_ptr<Bitmap> DecodeBmp(std::span<const std::uint8_t> bytes);
std::shared_ptr<Bitmap> DecodeJpeg(std::span<const std::uint8_t> bytes);
std::shared_ptr<Bitmap> DecodePng(std::span<const std::uint8_t> bytes);
std::shared_ptr<Bitmap> DecodeGif(std::span<const std::uint8_t> bytes);

/// An uncompressed 24-bit bottom-up BMP stores its pixel array exactly as a
/// Bitmap does (blue-green-red, rows padded to 4 bytes, bottom row first), so
/// a file reader can take its pixels over in one piece from Offset.
struct DirectBmp {
  std::int32_t Width, Height;
  std::uint32_t Offset;
};

/// Bytes of the file start that DirectBmpLayout needs.
inline constexpr std::size_t kBmpHeadBytes = 54;

/// The direct layout when `head` starts such a BMP whose pixels all lie
/// within `fileSize` bytes; nothing for any other file.
std::optional<DirectBmp> DirectBmpLayout(std::span<const std::uint8_t> head, std::uint64_t fileSize);

}  // namespace qm::picture
