#include "compression/WorkBuffer.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm::compression {
namespace {

// Deflate codes a 258-byte match in as little as two bits; one literal and the
// block headers add a little, which the slack covers.
constexpr std::int64_t kMaxDeflateRatio = 1032;
constexpr std::int64_t kExpansionSlack = 1032;

std::unique_ptr<std::uint8_t[]> AllocateWorkBuffer(std::int64_t capacity) {
  // One byte more than zlib is told about, so that a zero capacity still has
  // a valid address. Left uninitialised: only the bytes zlib writes are used.
  return std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(capacity) + 1);
}

}  // namespace

std::int64_t WorkBufferSize(std::int64_t n) {
  const double exact = static_cast<double>(n) * 1.01 + 12.0;
  const double floor = std::floor(exact);
  const double fraction = exact - floor;
  auto rounded = static_cast<std::int64_t>(floor);
  if (fraction > 0.5 || (fraction == 0.5 && rounded % 2 != 0)) ++rounded;
  return rounded;
}

std::int64_t MaxExpansion(std::int64_t compressedSize) {
  return std::max<std::int64_t>(compressedSize, 0) * kMaxDeflateRatio + kExpansionSlack;
}

ZlibOutput Deflate(std::span<const std::uint8_t> source, std::int32_t level) {
  const std::int64_t capacity = WorkBufferSize(static_cast<std::int64_t>(source.size()));
  ZlibOutput out;
  out.Buffer = AllocateWorkBuffer(capacity);
  uLongf destLen = static_cast<uLongf>(capacity);
  out.Result = compress2(out.Buffer.get(), &destLen, source.data(), static_cast<uLong>(source.size()), level);
  // A stream error (such as an invalid level) comes before any output.
  out.Size = out.Result == Z_STREAM_ERROR ? 0 : std::min<std::size_t>(destLen, static_cast<std::size_t>(capacity));
  return out;
}

ZlibOutput Inflate(std::span<const std::uint8_t> source, std::int32_t originalSize) {
  std::int64_t capacity = WorkBufferSize(originalSize);
  if (capacity < 0) Raise(ERR_SubscriptOutOfRange);
  capacity = std::min(capacity, MaxExpansion(static_cast<std::int64_t>(source.size())));
  ZlibOutput out;
  out.Buffer = AllocateWorkBuffer(capacity);
  uLongf destLen = static_cast<uLongf>(capacity);
  out.Result = uncompress(out.Buffer.get(), &destLen, source.data(), static_cast<uLong>(source.size()));
  out.Size = std::min<std::size_t>(destLen, static_cast<std::size_t>(capacity));
  return out;
}

}  // namespace qm::compression
