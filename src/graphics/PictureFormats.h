#pragma once
// The picture loader's decoders, one per format. Each takes the whole file in
// memory and returns a 24-bit Bitmap, or raises 481 "Invalid picture: ..."
// through RaiseInvalidPicture. Sizes are checked against kMaxPicturePixels
// from the header, before any pixel memory is taken.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

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
