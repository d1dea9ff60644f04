#pragma once
// One-call zlib compression and decompression into a work buffer sized by the
// library's rule, shared by the byte-array, string and file operations.

#include <cstdint>
#include <memory>
#include <span>

namespace qm::compression {

/// The work buffer's capacity for `n` uncompressed bytes: round(n * 1.01 + 12),
/// half to even. Negative for sizes below about -12.
std::int64_t WorkBufferSize(std::int64_t n);

/// The most bytes that `compressedSize` bytes of zlib data can expand to
/// (deflate reaches at most 1032:1).
std::int64_t MaxExpansion(std::int64_t compressedSize);

/// What one zlib call produced: its result code and the first `Size` bytes of
/// the work buffer (the bytes zlib wrote).
struct ZlibOutput {
  std::unique_ptr<std::uint8_t[]> Buffer;
  std::size_t Size = 0;
  std::int32_t Result = 0;

  std::span<const std::uint8_t> Bytes() const { return {Buffer.get(), Size}; }
};

/// compress2 of `source` at `level` into a buffer of WorkBufferSize(source size).
ZlibOutput Deflate(std::span<const std::uint8_t> source, std::int32_t level);

/// uncompress of `source` into a buffer of WorkBufferSize(originalSize),
/// capped at MaxExpansion(source size). Raises 9 when the rule gives a
/// negative capacity.
ZlibOutput Inflate(std::span<const std::uint8_t> source, std::int32_t originalSize);

}  // namespace qm::compression
