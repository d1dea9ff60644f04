#pragma once
// Baseline JPEG encoding on every core. The picture is cut into horizontal
// strips of whole MCU rows; each strip is encoded on its own by libturbojpeg
// and the strips' entropy-coded data are joined with restart markers (a DRI
// interval of one strip), which is exactly the stream a single encoder with
// that restart interval writes: a restart resets the DC predictions just as a
// fresh encoder starts them. Decoders read the result as one image.

#include <cstdint>
#include <span>
#include <vector>

namespace qm::ijl {

/// The picture to encode: `height` rows of `width` blue-green-red triples,
/// `pitch` bytes apart, the first row in memory being the bottom one when
/// `bottomUp`.
struct BgrRows {
  const std::uint8_t* Pixels = nullptr;
  int Width = 0;
  int Height = 0;
  int Pitch = 0;
  bool BottomUp = false;
};

/// Strip plan: how many MCU rows (16 pixel rows with 4:2:0) each strip
/// holds, for `workers` threads. The restart interval (MCUs per strip) stays
/// within the 16 bits a DRI marker holds.
int McuRowsPerStrip(int width, int height, unsigned workers);

/// Encodes the rows at `quality` with 4:2:0 subsampling into `jpeg`, in
/// strips of `mcuRowsPerStrip` MCU rows (see McuRowsPerStrip), using `encoder`
/// (a tjhandle) on this thread and up to `workers - 1` helpers. Returns
/// IJL_OK, IJL_MEMORY_ERROR or IJL_ENCODER_ERROR.
std::int32_t EncodeInStrips(void* encoder, const BgrRows& rows, int quality, unsigned workers, int mcuRowsPerStrip,
                            std::vector<std::uint8_t>& jpeg);

/// Joins separately encoded strips (complete JPEG files of `width` ×
/// their own height, all with the same tables) into one JPEG of
/// `height` rows with a restart interval of `interval` MCUs. False when a
/// strip is not a baseline JPEG of the expected shape.
bool JoinStrips(std::span<const std::span<const std::uint8_t>> strips, int height, int interval,
                std::vector<std::uint8_t>& jpeg);

}  // namespace qm::ijl
