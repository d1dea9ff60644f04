// The GIF reader on giflib: the first frame of the file, drawn on a canvas of
// the file's screen size. Transparent pixels of the frame and indices beyond
// the colour table are black; pixels the frame does not draw take the
// background colour of the global colour table (black without one or when
// the background index is 0). A file that ends inside the frame's pixel data
// keeps the rows decoded so far; any other damage is refused.

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "PictureFormats.h"

namespace qm::picture {
namespace {

struct MemorySource {
  std::span<const std::uint8_t> Bytes;
  std::size_t Position = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int length) {
  auto* source = static_cast<MemorySource*>(gif->UserData);
  const std::size_t n =
      std::min(static_cast<std::size_t>(std::max(length, 0)), source->Bytes.size() - source->Position);
  std::memcpy(out, source->Bytes.data() + source->Position, n);
  source->Position += n;
  return static_cast<int>(n);
}

struct GifCloser {
  void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};

[[noreturn]] void RaiseGifError(int code) {
  const char* text = GifErrorString(code);
  RaiseInvalidPicture(text ? text : "damaged GIF file");
}

// The transparent index of a graphic control extension, or -1.
int TransparentIndex(const GifByteType* block) {
  if (block[0] >= 4 && (block[1] & 0x01)) return block[4];
  return -1;
}

// Interlaced frames store rows 0, 8, 16, ... then 4, 12, ..., then 2, 6, ...,
// then 1, 3, ...; the n-th stored row lands here.
std::int32_t InterlacedRow(std::int32_t n, std::int32_t height) {
  static constexpr std::int32_t kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    const std::int32_t rows = kStart[pass] < height ? (height - kStart[pass] + kStep[pass] - 1) / kStep[pass] : 0;
    if (n < rows) return kStart[pass] + n * kStep[pass];
    n -= rows;
  }
  return n;  // not reached for n < height
}

}  // namespace

std::shared_ptr<Bitmap> DecodeGif(std::span<const std::uint8_t> bytes) {
  MemorySource source{bytes};
  int error = D_GIF_SUCCEEDED;
  std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&source, ReadFromMemory, &error));
  if (!gif) RaiseGifError(error);
  CheckPictureSize(gif->SWidth, gif->SHeight);

  int transparent = -1;
  for (;;) {
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) RaiseGifError(gif->Error);
    if (record == TERMINATE_RECORD_TYPE) RaiseInvalidPicture("the GIF file holds no image");
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) RaiseGifError(gif->Error);
      if (code == GRAPHICS_EXT_FUNC_CODE && block) transparent = TransparentIndex(block);
      while (block)
        if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) RaiseGifError(gif->Error);
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) RaiseInvalidPicture("damaged GIF file");
    break;
  }
  if (DGifGetImageDesc(gif.get()) == GIF_ERROR) RaiseGifError(gif->Error);
  const GifImageDesc& frame = gif->Image;
  if (frame.Left < 0 || frame.Top < 0 || frame.Width < 0 || frame.Height < 0 ||
      frame.Left + frame.Width > gif->SWidth || frame.Top + frame.Height > gif->SHeight)
    RaiseInvalidPicture("the GIF frame lies outside the picture");
  const ColorMapObject* colours = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
  if (!colours) RaiseInvalidPicture("the GIF file has no colour table");

  // Pixels the frame does not draw (outside it, or after its data ended)
  // take the background colour; the bitmap starts black, so a black
  // background needs no work. One row is filled and copied to the others.
  auto bitmap = std::make_shared<Bitmap>(gif->SWidth, gif->SHeight);
  const ColorMapObject* global = gif->SColorMap;
  const int background = gif->SBackGroundColor;
  if (global && background > 0 && background < global->ColorCount) {
    const GifColorType c = global->Colors[background];
    std::uint8_t* first = bitmap->Row(0);
    for (std::int32_t x = 0; x < bitmap->Width(); ++x)
      first[3 * x] = c.Blue, first[3 * x + 1] = c.Green, first[3 * x + 2] = c.Red;
    for (std::int32_t y = 1; y < bitmap->Height(); ++y)
      std::memcpy(bitmap->Row(y), first, 3 * static_cast<std::size_t>(bitmap->Width()));
  }

  // Blue, green, red of each index: transparent and missing entries black.
  std::array<std::array<std::uint8_t, 3>, 256> bgr{};
  for (int i = 0; i < std::min(colours->ColorCount, 256); ++i)
    if (i != transparent) bgr[i] = {colours->Colors[i].Blue, colours->Colors[i].Green, colours->Colors[i].Red};

  std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
  for (std::int32_t n = 0; n < frame.Height && frame.Width > 0; ++n) {
    if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) {
      // The data ends early: keep the rows read so far.
      if (gif->Error == D_GIF_ERR_READ_FAILED || gif->Error == D_GIF_ERR_EOF_TOO_SOON) break;
      RaiseGifError(gif->Error);
    }
    const std::int32_t y = frame.Top + (frame.Interlace ? InterlacedRow(n, frame.Height) : n);
    std::uint8_t* out = bitmap->Row(y) + 3 * static_cast<std::size_t>(frame.Left);
    for (const GifPixelType index : line) out = std::copy_n(bgr[index].data(), 3, out);
  }
  return bitmap;
}

}  // namespace qm::picture
