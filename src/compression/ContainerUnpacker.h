#pragma once
// The restoring half of the length-prefixed file container (see
// ContainerPacker.h), shared by the typed DecompressFile and
// Compress::DecompressFile.

#include <cstdint>
#include <string>

#include "compression/BinaryFile.h"
#include "quillmark/runtime/Progress.h"

namespace qm::compression {

/// One container file restored, in two steps: the constructor and Prepare() read
/// and check the length field (nothing is written yet), WriteTo() writes the
/// restored bytes.
class ContainerUnpacker {
 public:
  /// Opens `path` and reads its length field, or as much of it as a short
  /// file has (53 missing, 75 unreadable, 6 over 2 GiB, 9 when empty).
  explicit ContainerUnpacker(const std::string& path);

  /// The length field: the size the data had.
  std::int32_t OriginalSize() const { return originalSize_; }
  /// The container file's length.
  std::int32_t FileSize() const { return static_cast<std::int32_t>(input_.Size()); }
  /// Sizes the work buffer by the length field; 9 when the rule gives a
  /// negative capacity.
  void Prepare();
  /// Writes the restored bytes into `out`, telling `progress` the bytes of
  /// the file read (length field included); the zlib result (-3 for damaged
  /// data, after what came before the damage was written).
  std::int32_t WriteTo(OutputFile& out, const Progress& progress);

 private:
  InputFile input_;
  std::size_t fieldBytes_ = 0;
  std::int32_t originalSize_ = 0;
  std::int64_t capacity_ = -1;
};

}  // namespace qm::compression
