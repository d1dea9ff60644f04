#pragma once
// clsDIBSection: a 24-bit device-independent bitmap selected into a memory
// device context, whose pixel memory the JPEG writer reads in place.
//
// Layout: rows of blue, green, red bytes, padded to a multiple of 4 bytes
// (BytesPerScanLine), stored bottom-up. Internal to the library: its one
// client is Graphics.SaveAsJPG.

#include <cstdint>
#include <memory>

#include "quillmark/Export.h"
#include "quillmark/graphics/DeviceContext.h"
#include "quillmark/graphics/Picture.h"
#include "quillmark/values/Variant.h"

namespace qm {

/// The header of a device-independent bitmap, as the DIB section keeps it.
struct QUILLMARK_EXPORT BitmapInfoHeader {
  std::uint32_t biSize = 0;          ///< The header's size in bytes (40 once filled in).
  std::int32_t biWidth = 0;          ///< Width in pixels.
  std::int32_t biHeight = 0;         ///< Height in pixels; positive: rows stored bottom-up.
  std::uint16_t biPlanes = 0;        ///< Colour planes: 1.
  std::uint16_t biBitCount = 0;      ///< Bits per pixel: 24 (blue, green, red bytes).
  std::uint32_t biCompression = 0;   ///< 0 (BI_RGB): the pixels are not compressed.
  std::uint32_t biSizeImage = 0;     ///< Bytes of pixel memory: BytesPerScanLine times the height.
  std::int32_t biXPelsPerMeter = 0;  ///< Horizontal resolution in pixels per metre; 0 when unknown.
  std::int32_t biYPelsPerMeter = 0;  ///< Vertical resolution in pixels per metre; 0 when unknown.
  std::uint32_t biClrUsed = 0;       ///< Palette entries: 0 (no palette at 24 bits).
  std::uint32_t biClrImportant = 0;  ///< Palette entries needed to show the bitmap: 0 (all).
};

/// A 24-bit device-independent bitmap selected into a memory context, whose
/// pixel memory the JPEG writer reads in place; see the file's notes.
class QUILLMARK_EXPORT clsDIBSection {
 public:
  /// An empty section: no bitmap, no context.
  clsDIBSection();
  /// Releases the bitmap and the context, as ClearUp does.
  ~clsDIBSection();
  ///@{
  /// Not copyable: the section owns its pixel memory.
  clsDIBSection(const clsDIBSection&) = delete;
  clsDIBSection& operator=(const clsDIBSection&) = delete;
  ///@}

  /// Releases any previous bitmap, then creates a memory context and a black
  /// DIB of that size selected into it. False when no DIB of that size can be
  /// had (zero or negative sizes, more than 1 GiB of pixels).
  bool Create(std::int32_t Width, std::int32_t Height);

  /// Fills the header for Width x Height and creates the DIB (not yet
  /// selected anywhere) in `hDib`. False when it cannot be created.
  bool CreateDIB(DeviceContext& hDC, std::int32_t Width, std::int32_t Height, std::shared_ptr<Bitmap>& hDib);

  /// Creates the DIB at the picture's size and copies the picture into it.
  /// Stops silently (leaving the DIB empty) when the picture has no bitmap
  /// or no DIB of its size can be had. Returns Empty.
  Variant CreateFromPicture(const Picture& picture);

  /// Block transfer from `hDC` at (SrcLeft, SrcTop) into the DIB at (0, 0);
  /// a negative width or height means the DIB's own.
  void LoadPictureBlt(const DeviceContext& hDC, std::int32_t SrcLeft = 0, std::int32_t SrcTop = 0,
                      std::int32_t SrcWidth = -1, std::int32_t SrcHeight = -1, std::uint32_t Rop = SRCCOPY);

  /// Row length in bytes: (3 * Width + 3) with the two low bits cleared.
  std::int32_t BytesPerScanLine() const;
  ///@{
  /// The header's width and height in pixels (kept after ClearUp).
  std::int32_t Width() const;
  std::int32_t Height() const;
  ///@}
  /// The pixel memory while a DIB exists, else null.
  std::uint8_t* DIBSectionBitsPtr() const;

  /// Releases the DIB and the memory context (the header keeps its size).
  void ClearUp();

  /// The memory context the DIB is selected into (null while empty), for
  /// drawing on the DIB or copying from it.
  const std::shared_ptr<DeviceContext>& hDC() const;
  /// The bitmap's header as filled in by the last Create.
  const BitmapInfoHeader& Header() const;

 private:
  void Release() noexcept;

  // The object's state, defined in the library's sources.
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
