#pragma once
// The compressing half of the length-prefixed file container: a little-endian
// 32-bit original length, then the zlib stream of the file. Shared by the
// typed CompressFile and Compress::CompressFile, which differ only in what
// they write into and how they report.

#include <cstdint>
#include <optional>
#include <string>

#include "compression/BinaryFile.h"
#include "compression/WorkBuffer.h"
#include "quillmark/runtime/Progress.h"

namespace qm::compression {

/// The bytes of the container's length field.
inline constexpr std::size_t kLengthFieldSize = 4;

/// One file compressed into a container, in two steps: the constructor and
/// Prepare() read the input (nothing is written yet), WriteTo() writes it.
class ContainerPacker {
 public:
  /// Opens `path` (53 missing, 75 unreadable, 6 over 2 GiB; 9 when empty: the
  /// container holds no empty array) to be compressed at zlib `level`.
  ContainerPacker(const std::string& path, std::int32_t level);

  /// The input's length, the container's length field.
  std::int32_t OriginalSize() const { return originalSize_; }
  /// For the levels whose stream depends on the whole input in memory
  /// (level 0 and those zlib refuses), reads and compresses it now; 6 when
  /// the stream is longer than a 32-bit length.
  void Prepare();
  /// The bytes of the zlib stream, once known (after Prepare() for an
  /// in-memory level, after WriteTo() otherwise).
  std::optional<std::int32_t> CompressedSize() const { return compressedSize_; }
  /// Writes the container into `out`, telling `progress` the input bytes
  /// read; the zlib result (0, or -5 when the stream outgrows the work buffer).
  std::int32_t WriteTo(OutputFile& out, const Progress& progress);

 private:
  InputFile input_;
  std::int32_t level_;
  std::int32_t originalSize_ = 0;
  std::optional<ZlibOutput> inMemory_;
  std::optional<std::int32_t> compressedSize_;
};

}  // namespace qm::compression
