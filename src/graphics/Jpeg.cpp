#include "quillmark/graphics/Jpeg.h"

#include <array>
#include <cstddef>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "CanvasAccess.h"
#include "JpegStrips.h"
#include "PictureFormats.h"
#include "frame/FileErrors.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/graphics/IJL.h"
#include "quillmark/graphics/Picture.h"

namespace qm {
namespace {

// The JPEG writer's error for a code of the JPEG layer, as SaveJPG raises it,
// with the file named.
[[noreturn]] void RaiseJpegFailure(const std::filesystem::path& file, std::int32_t code, bool inPlace = false) {
  RaiseFrom(mdlIntelJPEGLibrary::ERR_JPEG, frame::DefaultSource("Jpeg"),
            std::string(StandardErrorText(mdlIntelJPEGLibrary::ERR_JPEG)) + " " + std::to_string(code) +
                (inPlace ? " (the new file is in place, but its folder could not be synced)" : "") + ": " +
                frame::Quoted(file.string()));
}

// A quality outside 1 to 100: the JPEG writer's number for it, as a bad argument.
void CheckQuality(const std::filesystem::path& file, int quality) {
  if (quality >= 1 && quality <= 100) return;
  throw Error(mdlIntelJPEGLibrary::ERR_JPEG, errc::invalid_argument, frame::DefaultSource("Jpeg"),
              std::string(StandardErrorText(mdlIntelJPEGLibrary::ERR_JPEG)) + " " +
                  std::to_string(ijl::IJL_INVALID_QUALITY) + ": the quality " + std::to_string(quality) +
                  " is outside 1 to 100: " + frame::Quoted(file.string()));
}

// A bitmap's rows: blue-green-red, stored bottom-up.
ijl::PixelRows BitmapRows(const Bitmap& bitmap) {
  return {bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.BytesPerScanLine(), true, false};
}

// The picture to convert, its rows read as the strips are encoded: a BMP
// file strip by strip from the file (never held whole), any other format
// decoded whole first. Errors name the file.
class Input : public ijl::StripSource {
 public:
  explicit Input(const std::filesystem::path& image) : name_(image), file_(image.string()) {
    std::array<std::uint8_t, picture::kBmpLayoutBytes> head{};
    const std::size_t got = file_.ReadAt(head.data(), head.size(), 0);
    if (got >= 2 && head[0] == 'B' && head[1] == 'M') {
      bmp_.emplace(std::span<const std::uint8_t>(head.data(), got), file_.Size());
      if (bmp_->Offset + bmp_->PixelBytes() > file_.Size())
        picture::RaiseInvalidPicture("the file ended before its last row of pixels");
    } else {
      whole_ = LoadPictureFromMemory(file_.ReadAll())->Handle();
    }
  }
  int Width() const { return bmp_ ? bmp_->Width : whole_->Width(); }
  int Height() const { return bmp_ ? bmp_->Height : whole_->Height(); }

  ijl::PixelRows Rows(int top, int height, std::vector<std::uint8_t>& buffer, int& first) const override {
    if (!bmp_) return ijl::MemoryRows(BitmapRows(*whole_)).Rows(top, height, buffer, first);
    // The strip's rows lie together in the file, bottom row first unless
    // the file stores them from the top.
    const picture::BmpLayout& bmp = *bmp_;
    const std::size_t stored = bmp.RowBytes * static_cast<std::size_t>(height);
    const std::size_t pitch = 3 * static_cast<std::size_t>(bmp.Width);
    const bool direct = bmp.BitCount == 24;  // a stored row is a row to encode
    buffer.resize(stored + (direct ? 0 : pitch * static_cast<std::size_t>(height)));
    try {
      picture::ReadStoredRows(file_.Descriptor(), bmp, bmp.TopDown ? top : bmp.Height - top - height, height,
                              buffer.data());
    } catch (const Error&) {
      frame::RethrowNaming(name_.string());
    }
    first = 0;
    if (direct) return {buffer.data(), bmp.Width, height, static_cast<int>(bmp.RowBytes), !bmp.TopDown};
    std::uint8_t* rows = buffer.data() + stored;
    for (int y = 0; y < height; ++y)
      bmp.Convert(buffer.data() + static_cast<std::size_t>(bmp.TopDown ? y : height - 1 - y) * bmp.RowBytes,
                  rows + static_cast<std::size_t>(y) * pitch);
    return {rows, bmp.Width, height, static_cast<int>(pitch), false};
  }

 private:
  std::filesystem::path name_;
  picture::PictureFile file_;
  std::optional<picture::BmpLayout> bmp_;
  std::shared_ptr<const Bitmap> whole_;
};

// Writes the rows of `source` as the JPEG file `jpeg`, replaced as a whole,
// through the writer SaveJPG runs too. A file replaced keeps its permission
// bits and gets the time of the write (the published SaveJPG alone carries
// the old file's times over).
void WriteRows(const ijl::StripSource& source, int width, int height, const std::filesystem::path& jpeg, int quality) {
  CheckQuality(jpeg, quality);
  ijl::FileResult result;
  try {
    ijl::StripEncoder encoder;
    result = ijl::WriteFile(encoder, source, width, height, quality, jpeg);
  } catch (const std::bad_alloc&) {
    result.Status = ijl::IJL_MEMORY_ERROR;
  }
  if (result.Status == ijl::IJL_OK) return;
  std::filesystem::path folder;
  if (result.Status == ijl::IJL_FILE_ERROR && frame::FolderIsMissing(jpeg, folder))
    frame::RaisePathNotFound(folder, frame::DefaultSource("Jpeg"));
  RaiseJpegFailure(jpeg, result.Status, result.InPlace);
}

}  // namespace

RgbImage ReadPicture(const std::filesystem::path& file) {
  std::shared_ptr<Picture> picture;
  try {
    picture = LoadPicture(file.string());
  } catch (const Error&) {
    frame::RethrowForInput(file);
  }
  const Bitmap& bitmap = *picture->Handle();
  RgbImage image{bitmap.Width(), bitmap.Height(), {}};
  image.Pixels.resize(static_cast<std::size_t>(image.Width) * static_cast<std::size_t>(image.Height) * 3);
  std::uint8_t* out = image.Pixels.data();
  for (int y = 0; y < image.Height; ++y) {
    const std::uint8_t* row = bitmap.Row(y);  // blue, green, red
    for (int x = 0; x < image.Width; ++x, row += 3, out += 3) {
      out[0] = row[2];
      out[1] = row[1];
      out[2] = row[0];
    }
  }
  return image;
}

void WriteJpeg(const RgbImage& picture, const std::filesystem::path& file, int quality) {
  if (picture.Width < 0 || picture.Height < 0 ||
      picture.Pixels.size() != static_cast<std::size_t>(picture.Width) * static_cast<std::size_t>(picture.Height) * 3)
    RaiseFrom(ERR_InvalidProcedureCall, frame::DefaultSource("Jpeg"),
              DescribeError(ERR_InvalidProcedureCall, "the picture's pixels do not match its size"));
  // The caller's rows are encoded where they are: red-green-blue, top-down, unpadded.
  const ijl::PixelRows rows{
      picture.Pixels.data(), picture.Width, picture.Height, std::ptrdiff_t{picture.Width} * 3, false, true};
  WriteRows(ijl::MemoryRows(rows), picture.Width, picture.Height, file, quality);
}

void WriteJpeg(const Canvas& canvas, const std::filesystem::path& file, int quality) {
  // The canvas's pixels are encoded where they are; the canvas is only read.
  const Bitmap& bitmap = *CanvasAccess::Shared(canvas);
  WriteRows(ijl::MemoryRows(BitmapRows(bitmap)), bitmap.Width(), bitmap.Height(), file, quality);
}

void ConvertToJpeg(const std::filesystem::path& image, const std::filesystem::path& jpeg, int quality) {
  std::unique_ptr<Input> input;
  try {
    input = std::make_unique<Input>(image);
  } catch (const Error&) {
    frame::RethrowForInput(image);
  }
  WriteRows(*input, input->Width(), input->Height(), jpeg, quality);
}

}  // namespace qm
