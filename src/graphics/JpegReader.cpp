// The JPEG reader on libjpeg-turbo's libjpeg API.
//
// libjpeg reports a fatal error by calling error_exit, which must not return.
// Ours jumps back with longjmp to the setjmp in the step that called into the
// library. Those steps (ReadHeader, ReadPixels) and the callbacks hold only
// trivially destructible locals, so the jump skips no C++ destructor; the
// decompressor itself is released by JpegDecoder's destructor.
//
// Warnings (corrupt data that the library works around, a file cut short in
// its pixel data) are silent: the picture loads with what could be decoded,
// the rest grey, as the library fills it.

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "PictureFormats.h"

namespace qm::picture {
namespace {

// A progressive file can repeat scans over the whole picture; more than this
// many is taken as an attack on the decoder's time.
constexpr int kMaxScans = 100;
// Memory libjpeg may take for itself (the coefficients of a progressive
// picture at the pixel limit need about 400 MB).
constexpr long kMaxDecoderMemory = 1L << 30;

struct ErrorManager {
  jpeg_error_mgr Library;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

ErrorManager& ErrorsOf(j_common_ptr cinfo) { return *reinterpret_cast<ErrorManager*>(cinfo->err); }

[[noreturn]] void ExitWithError(j_common_ptr cinfo) {
  ErrorManager& errors = ErrorsOf(cinfo);
  errors.Library.format_message(cinfo, errors.Message);
  std::longjmp(errors.Jump, 1);
}

void SilenceMessage(j_common_ptr) {}

void LimitScans(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    ErrorManager& errors = ErrorsOf(cinfo);
    std::snprintf(errors.Message, sizeof errors.Message, "more than %d scans", kMaxScans);
    std::longjmp(errors.Jump, 1);
  }
}

// Adobe CMYK as libjpeg delivers it (inverted: 255 is no ink) to blue, green, red.
std::uint8_t Blend(std::uint8_t a, std::uint8_t b) {
  const unsigned t = unsigned{a} * b + 128;
  return static_cast<std::uint8_t>((t + (t >> 8)) >> 8);
}

class JpegDecoder {
 public:
  explicit JpegDecoder(std::span<const std::uint8_t> bytes) {
    info_.err = jpeg_std_error(&errors_.Library);
    errors_.Library.error_exit = ExitWithError;
    errors_.Library.output_message = SilenceMessage;
    errors_.Message[0] = '\0';
    progress_.progress_monitor = LimitScans;
    source_ = bytes;
  }
  ~JpegDecoder() {
    if (created_) jpeg_destroy_decompress(&info_);
  }
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;

  // Reads the markers up to the first scan and chooses the output colours.
  bool ReadHeader() {
    if (setjmp(errors_.Jump)) return false;
    jpeg_create_decompress(&info_);
    created_ = true;
    info_.progress = &progress_;
    info_.mem->max_memory_to_use = kMaxDecoderMemory;
    jpeg_mem_src(&info_, source_.data(), static_cast<unsigned long>(source_.size()));
    jpeg_read_header(&info_, TRUE);
    cmyk_ = info_.jpeg_color_space == JCS_CMYK || info_.jpeg_color_space == JCS_YCCK;
    info_.out_color_space = cmyk_ ? JCS_CMYK : JCS_EXT_BGR;
    return true;
  }

  std::int64_t Width() const { return info_.image_width; }
  std::int64_t Height() const { return info_.image_height; }
  bool Cmyk() const { return cmyk_; }

  // Decodes into `bitmap`, top row first; CMYK rows go through `scratch`
  // (4 bytes a pixel). Both are allocated by the caller.
  bool ReadPixels(Bitmap& bitmap, std::uint8_t* scratch) {
    if (setjmp(errors_.Jump)) return false;
    jpeg_start_decompress(&info_);
    if (static_cast<std::int64_t>(info_.output_width) != bitmap.Width() ||
        static_cast<std::int64_t>(info_.output_height) != bitmap.Height() ||
        info_.output_components != (cmyk_ ? 4 : 3)) {
      std::snprintf(errors_.Message, sizeof errors_.Message, "unexpected JPEG output layout");
      return false;
    }
    while (info_.output_scanline < info_.output_height) {
      const auto y = static_cast<std::int32_t>(info_.output_scanline);
      std::uint8_t* row = bitmap.Row(y);
      JSAMPROW target = cmyk_ ? scratch : row;
      if (jpeg_read_scanlines(&info_, &target, 1) != 1) break;
      if (cmyk_) {
        const std::uint8_t* p = scratch;
        for (std::uint8_t *out = row, *end = row + 3 * static_cast<std::size_t>(bitmap.Width()); out != end;
             out += 3, p += 4) {
          out[0] = Blend(p[2], p[3]);
          out[1] = Blend(p[1], p[3]);
          out[2] = Blend(p[0], p[3]);
        }
      }
    }
    jpeg_finish_decompress(&info_);
    return true;
  }

  const char* Message() const { return errors_.Message; }

 private:
  jpeg_decompress_struct info_{};
  ErrorManager errors_{};
  jpeg_progress_mgr progress_{};
  std::span<const std::uint8_t> source_;
  bool created_ = false;
  bool cmyk_ = false;
};

}  // namespace

std::shared_ptr<Bitmap> DecodeJpeg(std::span<const std::uint8_t> bytes) {
  JpegDecoder decoder(bytes);
  return DecodeWith(decoder, [&](Bitmap& bitmap) {
    std::vector<std::uint8_t> scratch(decoder.Cmyk() ? 4 * static_cast<std::size_t>(decoder.Width()) : 0);
    return decoder.ReadPixels(bitmap, scratch.data());
  });
}

}  // namespace qm::picture
