#include "compression/WorkBuffer.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm::compression {
namespace {

// Deflate codes a 258-byte match in as little as two bits; one literal and the
// block headers add a little, which the slack covers.
constexpr std::int64_t kMaxDeflateRatio = 1032;
constexpr std::int64_t kExpansionSlack = 1032;

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

ZlibOutput DeflateInto(std::span<const std::uint8_t> source, std::int32_t level, std::size_t capacity) {
  ZlibOutput out;
  out.Data.resize(capacity);
  // One byte more than zlib is told about would be needed for a zero capacity
  // to have an address: an empty vector's data() may be null.
  std::uint8_t spare = 0;
  uLongf destLen = static_cast<uLongf>(capacity);
  out.Result =
      compress2(capacity ? out.Data.data() : &spare, &destLen, source.data(), static_cast<uLong>(source.size()), level);
  // A stream error (such as an invalid level) comes before any output.
  out.Data.resize(out.Result == Z_STREAM_ERROR ? 0 : std::min<std::size_t>(destLen, capacity));
  return out;
}

ZlibOutput InflateUpTo(std::span<const std::uint8_t> source, std::size_t capacity) {
  constexpr std::size_t kMaxChunk = std::numeric_limits<uInt>::max();
  constexpr std::size_t kFirstChunk = 64 * 1024;
  ZlibOutput out;
  z_stream stream{};
  out.Result = inflateInit(&stream);
  if (out.Result != Z_OK) return out;
  const std::unique_ptr<z_stream, int (*)(z_stream*)> end(&stream, inflateEnd);

  // As zlib's uncompress: without room, output goes to a spare byte, so that
  // data that would fill it still tells itself apart from a cut-off stream.
  std::uint8_t spare = 0;
  std::size_t left = capacity == 0 ? 1 : capacity;  // room not yet handed to zlib
  std::size_t sourceLeft = source.size();
  stream.next_in = const_cast<Bytef*>(source.data());
  int err = Z_OK;
  do {
    if (stream.avail_out == 0) {
      if (capacity == 0) {
        stream.next_out = &spare;
        stream.avail_out = static_cast<uInt>(left);
        left = 0;
      } else {
        // The buffer doubles as it fills, so that a large capacity is only
        // taken when the data needs it.
        const std::size_t old = out.Data.size();
        const std::size_t grow = std::min({left, std::max(old, kFirstChunk), kMaxChunk});
        out.Data.resize(old + grow);
        stream.next_out = out.Data.data() + old;
        stream.avail_out = static_cast<uInt>(grow);
        left -= grow;
      }
    }
    if (stream.avail_in == 0) {
      stream.avail_in = static_cast<uInt>(std::min(sourceLeft, kMaxChunk));
      sourceLeft -= stream.avail_in;
    }
    err = inflate(&stream, Z_NO_FLUSH);
  } while (err == Z_OK);

  if (capacity == 0) {
    if (stream.total_out && err == Z_BUF_ERROR) left = 1;
    out.Data.clear();
  } else {
    out.Data.resize(static_cast<std::size_t>(stream.total_out));
  }
  out.Result = err == Z_STREAM_END                                  ? Z_OK
               : err == Z_NEED_DICT                                 ? Z_DATA_ERROR
               : err == Z_BUF_ERROR && left + stream.avail_out != 0 ? Z_DATA_ERROR
                                                                    : err;
  return out;
}

ZlibOutput Deflate(std::span<const std::uint8_t> source, std::int32_t level) {
  return DeflateInto(source, level, static_cast<std::size_t>(WorkBufferSize(static_cast<std::int64_t>(source.size()))));
}

ZlibOutput Inflate(std::span<const std::uint8_t> source, std::int32_t originalSize) {
  std::int64_t capacity = WorkBufferSize(originalSize);
  if (capacity < 0) Raise(ERR_SubscriptOutOfRange);
  capacity = std::min(capacity, MaxExpansion(static_cast<std::int64_t>(source.size())));
  return InflateUpTo(source, static_cast<std::size_t>(capacity));
}

}  // namespace qm::compression
