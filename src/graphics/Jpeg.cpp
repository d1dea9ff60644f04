#include "quillmark/graphics/Jpeg.h"

#include "frame/FileErrors.h"
#include "quillmark/graphics/DIBSection.h"
#include "quillmark/graphics/IJL.h"

namespace qm {

std::shared_ptr<Picture> ReadPicture(const std::filesystem::path& file) { return LoadPicture(file.string()); }

void WriteJpeg(const Picture& picture, const std::filesystem::path& file, std::int32_t quality) {
  clsDIBSection dib;
  dib.CreateFromPicture(picture);
  try {
    mdlIntelJPEGLibrary::SaveJPG(dib, file.string(), quality);
  } catch (...) {
    frame::RethrowForTarget(file);
  }
}

void ConvertToJpeg(const std::filesystem::path& image, const std::filesystem::path& jpeg, std::int32_t quality) {
  WriteJpeg(*ReadPicture(image), jpeg, quality);
}

}  // namespace qm
