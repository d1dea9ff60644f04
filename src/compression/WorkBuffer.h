#pragma once
// One-call zlib compression and decompression into a work buffer sized by the
// library's rule, shared by the byte-array, string and file operations.

#include <cstdint>
#include <span>
#include <vector>

namespace qm::compression {

/// The work buffer's capacity for `n` uncompressed bytes: round(n * 1.01 + 12),
/// half to even. Negative for sizes below about -12.
std::int64_t WorkBufferSize(std::int64_t n);

/// The most bytes that `compressedSize` bytes of zlib data can expand to
/// (deflate reaches at most 1032:1).
std::int64_t MaxExpansion(std::int64_t compressedSize);

/// What one zlib call produced: its result code and the bytes zlib wrote.
struct ZlibOutput {
  std::vector<std::uint8_t> Data;
  std::int32_t Result = 0;

  std::span<const std::uint8_t> Bytes() const { return Data; }
};

/// compress2 of `source` at `level` into a buffer of `capacity` bytes.
ZlibOutput DeflateInto(std::span<const std::uint8_t> source, std::int32_t level, std::size_t capacity);

/// The zlib stream `source` inflated into at most `capacity` bytes, with
/// uncompress's results: 0 at the stream's end, -5 when the output would pass
/// `capacity`, -3 for damaged or cut-off data. The output grows as it is
/// written, so a generous capacity costs nothing until the data fills it.
ZlibOutput InflateUpTo(std::span<const std::uint8_t> source, std::size_t capacity);

/// DeflateInto a buffer of WorkBufferSize(source size).
ZlibOutput Deflate(std::span<const std::uint8_t> source, std::int32_t level);

/// InflateUpTo WorkBufferSize(originalSize), capped at MaxExpansion(source
/// size). Raises 9 when the rule gives a negative capacity.
ZlibOutput Inflate(std::span<const std::uint8_t> source, std::int32_t originalSize);

}  // namespace qm::compression
