#pragma once
// Raster pictures and the device contexts that draw on them.
//
// A Bitmap is a 24-bit device-independent bitmap: each row holds blue, green
// and red bytes per pixel and is padded to a multiple of 4 bytes; rows are
// stored bottom-up (the first row in memory is the bottom row of the
// picture). A DeviceContext is what block transfers work on: it has one
// bitmap selected into it at a time. Picture surfaces hand out their
// DeviceContext through their `hdc` member; `BitBlt` copies between two.

#include <cstdint>
#include <memory>
#include <string>

#include "quillmark/Export.h"
#include "quillmark/values/Object.h"

namespace qm {

/// Raster operation of BitBlt: copy the source.
inline constexpr std::uint32_t SRCCOPY = 0x00CC0020;

/// A 24-bit device-independent bitmap, rows bottom-up; see the file's notes.
class QUILLMARK_EXPORT Bitmap {
 public:
  /// A black bitmap. Raises 5 for a negative size and 7 (Out of memory) for
  /// more than 1 GiB of pixels.
  Bitmap(std::int32_t width, std::int32_t height);
  ~Bitmap();
  ///@{
  /// Not copyable: a bitmap owns its pixel memory.
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;
  ///@}

  std::int32_t Width() const;   ///< Width in pixels.
  std::int32_t Height() const;  ///< Height in pixels.
  /// Row length in bytes: 3 * width rounded up to a multiple of 4.
  std::int32_t BytesPerScanLine() const;
  /// The row length in bytes of a bitmap `width` pixels wide (width below 2^29).
  static std::int32_t BytesPerScanLine(std::int32_t width) { return (3 * width + 3) & ~3; }

  ///@{
  /// The pixel memory, bottom row first; Height() * BytesPerScanLine() bytes.
  std::uint8_t* Bits();
  const std::uint8_t* Bits() const;
  ///@}
  /// The size of the pixel memory in bytes.
  std::size_t SizeInBytes() const;

  ///@{
  /// The row y counted from the top (0 <= y < Height(), not checked).
  std::uint8_t* Row(std::int32_t y);
  const std::uint8_t* Row(std::int32_t y) const;
  ///@}

  /// Pixels as the platform's colour value 0x00BBGGRR (red in the low byte),
  /// x and y counted from the top left. Outside the bitmap, GetPixel gives
  /// 0xFFFFFFFF and SetPixel does nothing.
  ///@{
  std::uint32_t GetPixel(std::int32_t x, std::int32_t y) const;
  void SetPixel(std::int32_t x, std::int32_t y, std::uint32_t color);
  ///@}

 private:
  // The size and the pixel memory, defined in the library's sources.
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

/// What block transfers work on: a context with at most one bitmap selected.
class QUILLMARK_EXPORT DeviceContext : public Object {
 public:
  /// A memory context with no bitmap selected.
  DeviceContext();
  /// A context that draws on `bitmap`.
  explicit DeviceContext(std::shared_ptr<Bitmap> bitmap);
  ///@{
  /// A copy selects the same bitmap.
  DeviceContext(const DeviceContext& other);
  DeviceContext& operator=(const DeviceContext& other);
  DeviceContext(DeviceContext&& other) noexcept;
  DeviceContext& operator=(DeviceContext&& other) noexcept;
  ///@}
  ~DeviceContext() override;

  /// Selects `bitmap` and returns the one selected before (possibly null).
  std::shared_ptr<Bitmap> SelectObject(std::shared_ptr<Bitmap> bitmap);
  /// The selected bitmap, or null.
  const std::shared_ptr<Bitmap>& SelectedBitmap() const;

  std::string ClassName() const override { return "DeviceContext"; }

 private:
  // The selected bitmap, defined in the library's sources; a context moved
  // from has none.
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

/// Copies the Width x Height block at (XSrc, YSrc) of Src's bitmap to (X, Y)
/// of Dest's bitmap, coordinates from the top left. The block is clipped to
/// both bitmaps; negative positions are allowed. Only SRCCOPY is supported.
/// False (nothing copied) for another raster operation or a context without
/// a bitmap. Source and destination may be the same bitmap.
QUILLMARK_EXPORT bool BitBlt(DeviceContext& Dest, std::int32_t X, std::int32_t Y, std::int32_t Width,
                             std::int32_t Height, const DeviceContext& Src, std::int32_t XSrc, std::int32_t YSrc,
                             std::uint32_t Rop);

}  // namespace qm
