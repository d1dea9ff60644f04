// The picture loader path of Graphics.SaveAsJPG: bytes of an image file
// become a picture, the picture a DIB section. Every input must either load
// or raise qm::Error; nothing may crash, hang or take unbounded memory.

#include <cstddef>
#include <cstdint>
#include <span>

#include "quillmark/errors/Error.h"
#include "quillmark/graphics/DIBSection.h"
#include "quillmark/graphics/Picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const auto picture = qm::LoadPictureFromMemory(std::span<const std::uint8_t>(data, size));
    qm::clsDIBSection dib;
    dib.CreateFromPicture(*picture);
    // Touch the first and last row, so that a wrong size shows up under ASan.
    if (const std::uint8_t* bits = dib.DIBSectionBitsPtr()) {
      volatile std::uint8_t sink = bits[0];
      sink = bits[static_cast<std::size_t>(dib.Height()) * dib.BytesPerScanLine() - 1];
      (void)sink;
    }
  } catch (const qm::Error&) {}
  return 0;
}
