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

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "quillmark/graphics/IJL.h"

namespace qm::ijl {

/// The picture to encode: `Height` rows of `Width` pixels of three bytes,
/// blue-green-red (red-green-blue when `Rgb`), `Pitch` bytes apart (any
/// padding between rows), the first row in memory being the bottom one when
/// `BottomUp`. Read in place, never copied.
struct PixelRows {
  const std::uint8_t* Pixels = nullptr;
  int Width = 0;
  int Height = 0;
  std::ptrdiff_t Pitch = 0;
  bool BottomUp = false;
  bool Rgb = false;
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
  std::int32_t Encode(const PixelRows& rows, int quality, int top, int height,
                      std::vector<std::uint8_t>& jpeg) noexcept;

  struct State;  // libjpeg's structures (JpegStrips.cpp)

 private:
  std::unique_ptr<State> state_;
};

/// Strip plan: how many MCU rows (16 pixel rows with 4:2:0) each strip
/// holds, from the picture's size alone. Small pictures are one strip; the
/// restart interval (MCUs per strip) stays within the 16 bits a DRI marker
/// holds.
int McuRowsPerStrip(int width, int height);

/// Where the rows of each strip come from, for StreamInStrips. Called by
/// the thread that encodes the strip, by several threads at once.
class StripSource {
 public:
  virtual ~StripSource() = default;
  /// The picture's rows [top, top + height), counted from its top, as rows
  /// to encode from their row `first` on (counted from their top): a view of
  /// the whole picture, or of `buffer`, which the call may fill (the calling
  /// thread's own, kept from one strip to the next). May raise.
  virtual PixelRows Rows(int top, int height, std::vector<std::uint8_t>& buffer, int& first) const = 0;
};

/// Takes the JPEG's bytes in order, piece by piece. Called by one thread at
/// a time. May raise.
class JpegSink {
 public:
  virtual ~JpegSink() = default;
  virtual void Write(std::span<const std::uint8_t> bytes) = 0;
};

/// Encodes a picture of `width` x `height` at `quality` with 4:2:0
/// subsampling, in strips of `mcuRowsPerStrip` MCU rows (see
/// McuRowsPerStrip), as a stream: a strip's rows are taken from `source`
/// when the strip is encoded (here and on helper tasks on the executor),
/// and each strip goes to `sink` as soon as the ones before it have gone,
/// so that only a few strips are held at a time, never the picture. An
/// exception from `source` or `sink` stops the work and is raised here once
/// no helper works any more. Returns IJL_OK, IJL_MEMORY_ERROR or
/// IJL_ENCODER_ERROR.
std::int32_t StreamInStrips(StripEncoder& encoder, int width, int height, int quality, int mcuRowsPerStrip,
                            const StripSource& source, JpegSink& sink);

/// A picture held whole in memory as a strip source: every strip is a view
/// of its rows.
class MemoryRows : public StripSource {
 public:
  explicit MemoryRows(const PixelRows& rows) : rows_(rows) {}
  PixelRows Rows(int top, int, std::vector<std::uint8_t>&, int& first) const override {
    first = top;
    return rows_;
  }

 private:
  PixelRows rows_;
};

/// Encodes the rows in memory into `jpeg`, as StreamInStrips gives them.
std::int32_t EncodeInStrips(StripEncoder& encoder, const PixelRows& rows, int quality, int mcuRowsPerStrip,
                            std::vector<std::uint8_t>& jpeg);

/// How writing a JPEG file ended.
struct FileResult {
  /// IJL_OK, or the code of the failure (IJL_FILE_ERROR for the file).
  std::int32_t Status = IJL_OK;
  /// A file error after the new file took the name: only its folder could not be synced.
  bool InPlace = false;
  /// The file that had the name before, when there was one.
  std::optional<struct stat> Replaced;
};

/// The JPEG writer every caller shares: encodes the `width` x `height`
/// picture of `source` at `quality` as StreamInStrips does, straight into a
/// new file that replaces `file` as a whole through io::AtomicFile (a failure
/// leaves a file there before as it was). The new file keeps the permission
/// bits of the one it replaces. Checks no argument (the callers check theirs).
/// An exception of `source` other than a file or memory failure is raised.
FileResult WriteFile(StripEncoder& encoder, const StripSource& source, int width, int height, int quality,
                     const std::filesystem::path& file);

}  // namespace qm::ijl
