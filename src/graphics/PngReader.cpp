// The PNG reader on libpng.
//
// libpng reports a fatal error by calling the error function, which must not
// return; ours jumps back with longjmp to the setjmp in the step that called
// into the library. Those steps (ReadHeader, ReadPixels) and the callbacks
// hold only trivially destructible locals, so the jump skips no C++
// destructor; the reader itself is released by PngDecoder's destructor.
//
// Every PNG becomes 8-bit blue-green-red: 16-bit samples keep their high
// byte, grey is repeated into the three channels, palettes are looked up and
// transparency is dropped; no gamma correction. Checksums (chunk CRCs, the
// zlib Adler-32) are not enforced, so a file damaged only there still loads.

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "PictureFormats.h"

namespace qm::picture {
namespace {

// Ancillary chunks (text, profiles) may take this much memory, not more.
constexpr png_alloc_size_t kMaxChunkBytes = 8u << 20;
// libpng's own dimension limit, below the pixel limit checked afterwards.
constexpr png_uint_32 kMaxSide = 1u << 20;

struct ErrorState {
  std::jmp_buf Jump;
  char Message[200];
};

[[noreturn]] void ExitWithError(png_structp png, png_const_charp message) {
  auto* state = static_cast<ErrorState*>(png_get_error_ptr(png));
  std::snprintf(state->Message, sizeof state->Message, "%s", message);
  std::longjmp(state->Jump, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

struct MemorySource {
  std::span<const std::uint8_t> Bytes;
  std::size_t Position = 0;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
  auto* source = static_cast<MemorySource*>(png_get_io_ptr(png));
  if (length > source->Bytes.size() - source->Position) png_error(png, "the file ended early");
  std::memcpy(out, source->Bytes.data() + source->Position, length);
  source->Position += length;
}

class PngDecoder {
 public:
  explicit PngDecoder(std::span<const std::uint8_t> bytes) : source_{bytes} {
    state_.Message[0] = '\0';
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state_, ExitWithError, IgnoreWarning);
    if (png_) info_ = png_create_info_struct(png_);
  }
  ~PngDecoder() {
    if (png_) png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr);
  }
  PngDecoder(const PngDecoder&) = delete;
  PngDecoder& operator=(const PngDecoder&) = delete;

  // Reads the chunks up to the pixel data and sets up the conversion.
  bool ReadHeader() {
    if (!png_ || !info_) {
      std::snprintf(state_.Message, sizeof state_.Message, "out of memory");
      return false;
    }
    if (setjmp(state_.Jump)) return false;
    png_set_read_fn(png_, &source_, ReadFromMemory);
    png_set_user_limits(png_, kMaxSide, kMaxSide);
    png_set_chunk_malloc_max(png_, kMaxChunkBytes);
    png_set_crc_action(png_, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
#ifdef PNG_IGNORE_ADLER32
    png_set_option(png_, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
    png_read_info(png_, info_);
    png_set_strip_16(png_);
    png_set_palette_to_rgb(png_);
    png_set_expand_gray_1_2_4_to_8(png_);
    png_set_gray_to_rgb(png_);
    png_set_strip_alpha(png_);
    png_set_bgr(png_);
    passes_ = png_set_interlace_handling(png_);
    png_read_update_info(png_, info_);
    width_ = png_get_image_width(png_, info_);
    height_ = png_get_image_height(png_, info_);
    rowBytes_ = png_get_rowbytes(png_, info_);
    return true;
  }

  std::int64_t Width() const { return width_; }
  std::int64_t Height() const { return height_; }

  // Decodes into `bitmap`, whose rows the interlaced passes fill in place.
  bool ReadPixels(Bitmap& bitmap) {
    if (rowBytes_ != 3 * static_cast<std::size_t>(bitmap.Width())) {
      std::snprintf(state_.Message, sizeof state_.Message, "unexpected PNG row layout");
      return false;
    }
    if (setjmp(state_.Jump)) return false;
    for (int pass = 0; pass < passes_; ++pass)
      for (std::int32_t y = 0; y < bitmap.Height(); ++y) png_read_row(png_, bitmap.Row(y), nullptr);
    return true;
  }

  const char* Message() const { return state_.Message; }

 private:
  MemorySource source_;
  ErrorState state_{};
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
  int passes_ = 1;
  png_uint_32 width_ = 0, height_ = 0;
  std::size_t rowBytes_ = 0;
};

}  // namespace

std::shared_ptr<Bitmap> DecodePng(std::span<const std::uint8_t> bytes) {
  PngDecoder decoder(bytes);
  return DecodeWith(decoder, [&](Bitmap& bitmap) { return decoder.ReadPixels(bitmap); });
}

}  // namespace qm::picture
