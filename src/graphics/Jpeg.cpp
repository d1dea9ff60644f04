#include "quillmark/graphics/Jpeg.h"

#include "quillmark/graphics/DIBSection.h"
#include "quillmark/graphics/IJL.h"
#include "CanvasAccess.h"

namespace qm {

std::shared_ptr<Picture> ReadPicture(const std::filesystem::path& file) { return LoadPicture(file.string()); }

void WriteJpeg(const Picture& picture, const std::filesystem::path& file, std::int32_t quality) {
  clsDIBSection dib;
  dib.CreateFromPicture(picture);
  mdlIntelJPEGLibrary::SaveJPG(dib, file.string(), quality);
}

void WriteJpeg(const Canvas& canvas, const std::filesystem::path& file, std::int32_t quality) {
  // The DIB section copies the pixels from the picture; the canvas is only read.
  WriteJpeg(Picture(CanvasAccess::Shared(canvas)), file, quality);
}

void ConvertToJpeg(const std::filesystem::path& image, const std::filesystem::path& jpeg, std::int32_t quality) {
  WriteJpeg(*ReadPicture(image), jpeg, quality);
}

}  // namespace qm
