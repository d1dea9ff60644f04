#pragma once
// Pictures loaded from image files: the platform's picture loader.
//
// BMP (both row orders), GIF (first frame), JPEG and PNG files become a
// 24-bit Bitmap; transparency is dropped. The loader is a platform
// service, not a library procedure, so its errors carry no call-frame
// element of their own:
//   53 "File not found", 70 "Permission denied", 75 "Path/File access error"
//      when the file cannot be read;
//   481 "Invalid picture: <reason>" when the bytes are no picture the loader
//      knows, are damaged, or describe more than 64 megapixels (refused
//      from the header, before any pixel memory is taken).

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "quillmark/Export.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/graphics/DeviceContext.h"
#include "quillmark/values/Object.h"

namespace qm {

/// A picture loaded from an image file (or made from a bitmap): a 24-bit
/// Bitmap, or none for an empty picture.
class QUILLMARK_EXPORT Picture : public Object {
 public:
  /// A picture of the given bitmap; null makes an empty picture (size 0 x 0).
  explicit Picture(std::shared_ptr<Bitmap> bitmap) : bitmap_(std::move(bitmap)) {}

  /// The picture's bitmap (what the platform calls its handle).
  const std::shared_ptr<Bitmap>& Handle() const { return bitmap_; }
  ///@{
  /// Size in pixels; 0 for an empty picture.
  std::int32_t Width() const { return bitmap_ ? bitmap_->Width() : 0; }
  std::int32_t Height() const { return bitmap_ ? bitmap_->Height() : 0; }
  ///@}

  std::string ClassName() const override { return "Picture"; }

 private:
  std::shared_ptr<Bitmap> bitmap_;
};

/// Loads an image file as a picture.
QUILLMARK_EXPORT std::shared_ptr<Picture> LoadPicture(const std::string& FileName);

/// Loads a picture from the bytes of an image file.
QUILLMARK_EXPORT std::shared_ptr<Picture> LoadPictureFromMemory(std::span<const std::uint8_t> bytes);

}  // namespace qm
