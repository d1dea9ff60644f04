#include "compression/FileStream.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace qm::compression {
namespace {

constexpr std::size_t kChunk = 256 * 1024;

// A z_stream ended however the call leaves (a write may raise).
class Stream {
 public:
  explicit Stream(bool deflating) : deflating_(deflating) {}
  ~Stream() {
    if (!initialised_) return;
    if (deflating_) deflateEnd(&z_);
    else inflateEnd(&z_);
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  int Init(int level) {
    const int result = deflating_ ? deflateInit(&z_, level) : inflateInit(&z_);
    initialised_ = result == Z_OK;
    return result;
  }
  z_stream* operator->() { return &z_; }
  z_stream* get() { return &z_; }

 private:
  z_stream z_{};
  bool deflating_;
  bool initialised_ = false;
};

// Feeds input chunks to the stream and takes its output to the file, with
// the output limited to `capacity` bytes in all.
class Pump {
 public:
  Pump(InputFile& in, std::size_t size, std::size_t zeros, OutputFile& out, std::int64_t capacity)
      : in_(in), inputLeft_(size), zerosLeft_(zeros), out_(out), capacity_(static_cast<std::uint64_t>(capacity)),
        input_(kChunk), output_(kChunk) {}

  bool InputLeft() const { return inputLeft_ + zerosLeft_ > 0; }

  // Tops up the stream's input and output before a zlib call.
  void Prepare(z_stream& z) {
    if (z.avail_in == 0 && InputLeft()) {
      std::size_t n = 0;
      if (inputLeft_ > 0) {
        n = in_.Read({input_.data(), std::min(kChunk, inputLeft_)});
        inputLeft_ = n == 0 ? 0 : inputLeft_ - n;  // a file cut short ends here
      } else {
        n = std::min(kChunk, zerosLeft_);
        std::memset(input_.data(), 0, n);
        zerosLeft_ -= n;
      }
      z.next_in = input_.data();
      z.avail_in = static_cast<uInt>(n);
    }
    if (z.avail_out == 0) {
      Flush(z);
      z.next_out = output_.data();
      z.avail_out = static_cast<uInt>(std::min<std::uint64_t>(kChunk, capacity_ - z.total_out));
    }
  }

  // Writes what the stream has produced since the last flush.
  void Flush(z_stream& z) {
    if (z.next_out != nullptr) {
      const auto produced = static_cast<std::size_t>(z.next_out - output_.data());
      if (produced > 0) out_.Write({output_.data(), produced});
    }
    z.next_out = output_.data();
  }

 private:
  InputFile& in_;
  std::size_t inputLeft_;
  std::size_t zerosLeft_;
  OutputFile& out_;
  std::uint64_t capacity_;
  std::vector<std::uint8_t> input_;
  std::vector<std::uint8_t> output_;
};

}  // namespace

bool StreamsLikeOneCall(std::int32_t level) { return level == Z_DEFAULT_COMPRESSION || (level >= 1 && level <= 9); }

StreamOutcome DeflateFile(InputFile& in, std::size_t size, OutputFile& out, std::int64_t capacity, std::int32_t level) {
  Stream z(true);
  StreamOutcome outcome;
  outcome.Result = z.Init(level);
  if (outcome.Result != Z_OK) return outcome;
  Pump pump(in, size, 0, out, capacity);
  int result = Z_OK;
  do {
    pump.Prepare(*z.get());
    // Like compress2: finish once the last input is in the stream. With no
    // room left zlib reports Z_BUF_ERROR, compress2's answer for a full buffer.
    result = deflate(z.get(), pump.InputLeft() ? Z_NO_FLUSH : Z_FINISH);
  } while (result == Z_OK);
  pump.Flush(*z.get());
  outcome.Written = z->total_out;
  outcome.Result = result == Z_STREAM_END ? Z_OK : result;
  return outcome;
}

StreamOutcome InflateFile(InputFile& in, std::size_t size, std::size_t zeros, OutputFile& out, std::int64_t capacity) {
  Stream z(false);
  StreamOutcome outcome;
  outcome.Result = z.Init(0);
  if (outcome.Result != Z_OK) return outcome;
  Pump pump(in, size, zeros, out, capacity);
  const auto capacityLeft = [&] { return z->total_out < static_cast<uLong>(capacity); };
  int result = Z_OK;
  for (;;) {
    pump.Prepare(*z.get());
    result = inflate(z.get(), Z_NO_FLUSH);
    if (result == Z_OK) continue;
    // No progress: go on only when more input or more room can be given.
    if (result == Z_BUF_ERROR && ((z->avail_in == 0 && pump.InputLeft()) || (z->avail_out == 0 && capacityLeft())))
      continue;
    break;
  }
  pump.Flush(*z.get());
  outcome.Written = z->total_out;
  // uncompress's mapping: a stream that ends early with room to spare is corrupt.
  if (result == Z_STREAM_END) outcome.Result = Z_OK;
  else if (result == Z_NEED_DICT) outcome.Result = Z_DATA_ERROR;
  else if (result == Z_BUF_ERROR && capacityLeft()) outcome.Result = Z_DATA_ERROR;
  else outcome.Result = result;
  return outcome;
}

}  // namespace qm::compression
