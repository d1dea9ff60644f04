#pragma once
// Baseline JPEG encoding in strips. The picture is cut into horizontal strips
// of whole MCU rows; each strip is encoded on its own with libjpeg-turbo's
// libjpeg API and the strips' entropy-coded data are joined with restart
// markers (a DRI interval of one strip), which is exactly the stream a single
// encoder with that restart interval writes: a restart resets the DC
// predictions just as a fresh encoder starts them. Decoders read the result as
// one image.
//
// The strip plan depends on the picture's size only, never on the machine, so
// a picture and a quality give the same bytes on any number of processors.
// The strips are shared between the caller and helper tasks on the library's
// executor (io/Executor.h); without a helper the caller encodes them all.
//
// libjpeg's API reads no environment variable that changes the output
// (TurboJPEG's tj* calls read TJ_OPTIMIZE, TJ_RESTART, TJ_PROGRESSIVE and
// TJ_ARITHMETIC, which made joined strips corrupt or every save fail).

#include <cstdint>
#include <memory>
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

/// One libjpeg compressor, reused strip after strip by one thread at a time.
/// Fatal libjpeg errors come back as result codes (a custom error manager
/// jumps back; nothing is printed and the process never exits).
class StripEncoder {
 public:
  /// Throws std::bad_alloc when libjpeg cannot set up a compressor.
  StripEncoder();
  ~StripEncoder();
  StripEncoder(const StripEncoder&) = delete;
  StripEncoder& operator=(const StripEncoder&) = delete;

  /// Encodes `height` rows of `rows` from the top row `top` (counted from the
  /// top of the picture) as a complete baseline JPEG, 4:2:0, `quality`
  /// through jpeg_set_quality, standard Huffman tables, no restart interval.
  /// IJL_OK, IJL_MEMORY_ERROR or IJL_ENCODER_ERROR.
  std::int32_t Encode(const BgrRows& rows, int quality, int top, int height, std::vector<std::uint8_t>& jpeg) noexcept;

  struct State;  // libjpeg's structures (JpegStrips.cpp)

 private:
  std::unique_ptr<State> state_;
};

/// Strip plan: how many MCU rows (16 pixel rows with 4:2:0) each strip
/// holds, from the picture's size alone. Small pictures are one strip; the
/// restart interval (MCUs per strip) stays within the 16 bits a DRI marker
/// holds.
int McuRowsPerStrip(int width, int height);

/// Encodes the rows at `quality` with 4:2:0 subsampling into `jpeg`, in
/// strips of `mcuRowsPerStrip` MCU rows (see McuRowsPerStrip), using
/// `encoder` on this thread and helper tasks on the executor while they can
/// be had. A strip a helper could not encode is encoded here again. Returns
/// IJL_OK, IJL_MEMORY_ERROR or IJL_ENCODER_ERROR.
std::int32_t EncodeInStrips(StripEncoder& encoder, const BgrRows& rows, int quality, int mcuRowsPerStrip,
                            std::vector<std::uint8_t>& jpeg);

/// Where the rows of each strip come from, for StreamInStrips. Called by
/// the thread that encodes the strip, by several threads at once.
class StripSource {
 public:
  virtual ~StripSource() = default;
  /// The picture's rows [top, top + height), counted from its top, as rows
  /// to encode from their row `first` on (counted from their top): a view of
  /// the whole picture, or of `buffer`, which the call may fill (the calling
  /// thread's own, kept from one strip to the next). May raise.
  virtual BgrRows Rows(int top, int height, std::vector<std::uint8_t>& buffer, int& first) const = 0;
};

/// Takes the JPEG's bytes in order, piece by piece. Called by one thread at
/// a time. May raise.
class JpegSink {
 public:
  virtual ~JpegSink() = default;
  virtual void Write(std::span<const std::uint8_t> bytes) = 0;
};

/// Encodes a picture of `width` x `height` as EncodeInStrips does, into the
/// very bytes it gives, as a stream: a strip's rows are taken from `source`
/// when the strip is encoded (here and on helper tasks on the executor),
/// and each strip goes to `sink` as soon as the ones before it have gone,
/// so that only a few strips are held at a time, never the picture. An
/// exception from `source` or `sink` stops the work and is raised here once
/// no helper works any more. Returns IJL_OK, IJL_MEMORY_ERROR or
/// IJL_ENCODER_ERROR.
std::int32_t StreamInStrips(StripEncoder& encoder, int width, int height, int quality, int mcuRowsPerStrip,
                            const StripSource& source, JpegSink& sink);

/// Joins separately encoded strips (complete JPEG files of `width` ×
/// their own height, all with the same tables) into one JPEG of
/// `height` rows with a restart interval of `interval` MCUs. False when a
/// strip is not a baseline JPEG of the expected shape.
bool JoinStrips(std::span<const std::span<const std::uint8_t>> strips, int height, int interval,
                std::vector<std::uint8_t>& jpeg);

}  // namespace qm::ijl
