#include "quillmark/graphics/Jpeg.h"

#include <memory>

#include "CanvasAccess.h"
#include "frame/FileErrors.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/graphics/DIBSection.h"
#include "quillmark/graphics/IJL.h"
#include "quillmark/graphics/Picture.h"

namespace qm {
namespace {

void Save(const Picture& picture, const std::filesystem::path& file, int quality) {
  clsDIBSection dib;
  dib.CreateFromPicture(picture);
  try {
    try {
      mdlIntelJPEGLibrary::SaveJPG(dib, file.string(), quality);
    } catch (...) {
      frame::RethrowForTarget(file);
    }
  } catch (const Error& e) {
    // The JPEG writer's error ("Failed to save to JPG -8") names no file.
    if (e.Number() != mdlIntelJPEGLibrary::ERR_JPEG) throw;
    throw Error(e.Number(), e.Errc(), e.Source(), e.Description() + ": " + file.string());
  }
}

}  // namespace

RgbImage ReadPicture(const std::filesystem::path& file) {
  const auto picture = LoadPicture(file.string());
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
  auto bitmap = std::make_shared<Bitmap>(picture.Width, picture.Height);
  const std::uint8_t* in = picture.Pixels.data();
  for (int y = 0; y < picture.Height; ++y) {
    std::uint8_t* row = bitmap->Row(y);
    for (int x = 0; x < picture.Width; ++x, row += 3, in += 3) {
      row[0] = in[2];
      row[1] = in[1];
      row[2] = in[0];
    }
  }
  Save(Picture(std::move(bitmap)), file, quality);
}

void WriteJpeg(const Canvas& canvas, const std::filesystem::path& file, int quality) {
  // The DIB section copies the pixels from the picture; the canvas is only read.
  Save(Picture(CanvasAccess::Shared(canvas)), file, quality);
}

void ConvertToJpeg(const std::filesystem::path& image, const std::filesystem::path& jpeg, int quality) {
  Save(*LoadPicture(image.string()), jpeg, quality);
}

}  // namespace qm
