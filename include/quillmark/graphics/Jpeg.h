#pragma once

/// @file
/// Pictures in, JPEG files out, over standard types.
///
///     qm::ConvertToJpeg("chart.png", "chart.jpg", 90);
///
/// Loading raises what qm::LoadPicture raises (53, 70, 75 for a file that
/// cannot be read; 481 "Invalid picture: ..." for bytes that are no picture);
/// writing raises what mdlIntelJPEGLibrary::SaveJPG raises (26001, with the
/// JPEG layer's code, for a quality outside 1 to 100 or a file that cannot be
/// written), except that a missing folder raises 76 "Path not found:
/// <folder>" with errc::not_found, as every typed job does. A file replaced
/// keeps its permissions, and a failed write leaves
/// it as it was.

#include <cstdint>
#include <filesystem>
#include <memory>

#include "quillmark/Export.h"
#include "quillmark/graphics/Picture.h"

namespace qm {

/// Loads a BMP, GIF, JPEG or PNG file as a picture.
QUILLMARK_EXPORT std::shared_ptr<Picture> ReadPicture(const std::filesystem::path& file);

/// Writes the picture as a baseline JPEG file of the given quality (1 to 100).
QUILLMARK_EXPORT void WriteJpeg(const Picture& picture, const std::filesystem::path& file, std::int32_t quality = 75);

/// ReadPicture, then WriteJpeg.
QUILLMARK_EXPORT void ConvertToJpeg(const std::filesystem::path& image, const std::filesystem::path& jpeg,
                                    std::int32_t quality = 75);

}  // namespace qm
