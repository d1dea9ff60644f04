#pragma once

/// @file
/// Pictures in, JPEG files out, over standard types.
///
///     qm::RgbImage chart = qm::ReadPicture("chart.png");
///     qm::WriteJpeg(chart, "chart.jpg", 90);
///     qm::ConvertToJpeg("chart.png", "chart.jpg", 90);
///
/// Loading raises what qm::LoadPicture raises (53, 70, 75 for a file that
/// cannot be read; 481 "Invalid picture: ..." for bytes that are no picture),
/// naming the file: "File not found: 'chart.png'". Writing raises what
/// mdlIntelJPEGLibrary::SaveJPG raises (26001, with the JPEG layer's code),
/// naming the file; a quality outside 1 to 100 is errc::invalid_argument, and
/// a missing folder raises 76 "Path not found: '<folder>'" with
/// errc::not_found, as every typed job does. A file replaced keeps its
/// permissions and gets the time of the write (SaveJPG keeps the old file's
/// times); a failed write leaves it as it was.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/graphics/Canvas.h"

namespace qm {

/// A picture as a value: 24-bit pixels, three bytes each (red, green, blue),
/// rows from the top, `Width * 3` bytes a row without padding.
struct QUILLMARK_EXPORT RgbImage {
  int Width = 0;                     ///< in pixels
  int Height = 0;                    ///< in pixels
  std::vector<std::uint8_t> Pixels;  ///< Width * Height * 3 bytes

  /// The red, green and blue bytes of the pixel at column x, row y (from the
  /// top left; both counted from 0, unchecked).
  const std::uint8_t* At(int x, int y) const {
    return Pixels.data() +
           (static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) + static_cast<std::size_t>(x)) * 3;
  }
  /// The same size and pixels.
  bool operator==(const RgbImage&) const = default;
};

/// Loads a BMP, GIF, JPEG or PNG file.
QUILLMARK_EXPORT RgbImage ReadPicture(const std::filesystem::path& file);

/// Writes the picture as a baseline JPEG file of the given quality (1 to
/// 100). A picture whose pixels do not match its size raises 5.
QUILLMARK_EXPORT void WriteJpeg(const RgbImage& picture, const std::filesystem::path& file, int quality = 75);

/// Writes the canvas as a baseline JPEG file of the given quality (1 to 100),
/// with the same writer and errors as a picture.
QUILLMARK_EXPORT void WriteJpeg(const Canvas& canvas, const std::filesystem::path& file, int quality = 75);

/// Writes a picture file as a JPEG file: the bytes WriteJpeg gives for the
/// picture, with the same errors for the JPEG file. A BMP goes from file to
/// file strip by strip, as its rows are encoded, and is never held whole; the
/// other formats are decoded whole first. An error of the picture (one that
/// cannot be read, bytes that are no picture, a BMP cut short) names its
/// file ("Invalid picture: the file ended before its last row of pixels:
/// scan.bmp") and leaves the JPEG file as it was.
QUILLMARK_EXPORT void ConvertToJpeg(const std::filesystem::path& image, const std::filesystem::path& jpeg,
                                    int quality = 75);

}  // namespace qm
