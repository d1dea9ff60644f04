#pragma once
// Compress's file operations, also reached by the typed layer with a
// progress callback: the same steps, call-frame elements and results.

#include <cstdint>
#include <string>

#include "compression/FileStream.h"
#include "quillmark/compression/Compress.h"

namespace qm::compression {

/// Where an operation leaves the sizes it handled (Compress's
/// ValueDecompressedSize and its compressed counterpart).
struct FileSizes {
  std::int32_t& Decompressed;
  std::int32_t& Compressed;
};

/// Compress::CompressFile, telling `progress` how far it got.
std::int32_t CompressFileWith(const std::string& FilePathIn, const std::string& FilePathOut,
                              CompressionLevelConstants CompressionLevel, FileSizes sizes,
                              const StreamProgress& progress);

/// Compress::DecompressFile, telling `progress` how far it got.
std::int32_t DecompressFileWith(const std::string& FilePathIn, const std::string& FilePathOut, FileSizes sizes,
                                const StreamProgress& progress);

}  // namespace qm::compression
