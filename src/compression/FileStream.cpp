#include "compression/FileStream.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

#include "io/BackgroundIo.h"

namespace qm::compression {
namespace {

constexpr std::size_t kChunk = 1 << 20;

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
// the output limited to `capacity` bytes in all. The files are read and
// written on the executor's threads (io/BackgroundIo.h).
class Pump {
 public:
  Pump(InputFile& in, std::size_t size, std::size_t zeros, OutputFile& out, std::int64_t capacity,
       const Progress& progress)
      : io_([&in](std::span<std::uint8_t> buffer) { return in.Read(buffer); }, size,
            [&out](std::span<const std::uint8_t> bytes) { out.Write(bytes); }, kChunk),
        size_(size),
        zerosLeft_(zeros),
        capacity_(static_cast<std::uint64_t>(capacity)),
        progress_(progress) {}

  bool InputLeft() const { return !inputOver_ || zerosLeft_ > 0; }

  // Tops up the stream's input and output before a zlib call.
  void Prepare(z_stream& z) {
    if (z.avail_in == 0 && InputLeft()) {
      std::span<const std::uint8_t> chunk;
      if (!inputOver_) {
        // Everything taken so far is consumed: that is the progress to tell.
        if (progress_) progress_(taken_, size_);
        chunk = io_.NextInput();
        inputOver_ = chunk.empty();
        taken_ += chunk.size();
      }
      if (inputOver_ && zerosLeft_ > 0) {
        zeros_.assign(std::min(kChunk, zerosLeft_), 0);
        zerosLeft_ -= zeros_.size();
        chunk = zeros_;
      }
      z.next_in = const_cast<Bytef*>(chunk.data());  // zlib's interface is not const-correct
      z.avail_in = static_cast<uInt>(chunk.size());
    }
    if (z.avail_out == 0) {
      Flush(z);
      output_ = io_.OutputBuffer();
      z.next_out = output_.data();
      z.avail_out = static_cast<uInt>(std::min<std::uint64_t>(kChunk, capacity_ - z.total_out));
    }
  }

  // Queues what the stream has produced since the last flush.
  void Flush(z_stream& z) {
    if (z.next_out != nullptr && !output_.empty()) {
      const auto produced = static_cast<std::size_t>(z.next_out - output_.data());
      if (produced > 0) io_.Write(std::move(output_), produced);
      output_.clear();
    }
    z.next_out = nullptr;
  }

  // Flushes and waits until the output is written.
  void Finish(z_stream& z) {
    Flush(z);
    io_.Finish();
    if (progress_) progress_(taken_ - (inputOver_ ? 0 : z.avail_in), size_);
  }

 private:
  io::BackgroundIo io_;
  std::size_t size_;
  std::size_t taken_ = 0;
  bool inputOver_ = false;
  std::size_t zerosLeft_;
  std::uint64_t capacity_;
  std::vector<std::uint8_t> zeros_;
  std::vector<std::uint8_t> output_;
  const Progress& progress_;
};

}  // namespace

bool StreamsLikeOneCall(std::int32_t level) { return level == Z_DEFAULT_COMPRESSION || (level >= 1 && level <= 9); }

StreamOutcome DeflateFile(InputFile& in, std::size_t size, OutputFile& out, std::int64_t capacity, std::int32_t level,
                          const Progress& progress) {
  Stream z(true);
  StreamOutcome outcome;
  outcome.Result = z.Init(level);
  if (outcome.Result != Z_OK) return outcome;
  Pump pump(in, size, 0, out, capacity, progress);
  int result = Z_OK;
  do {
    pump.Prepare(*z.get());
    // Like compress2: finish once the last input is in the stream. With no
    // room left zlib reports Z_BUF_ERROR, compress2's answer for a full buffer.
    result = deflate(z.get(), pump.InputLeft() ? Z_NO_FLUSH : Z_FINISH);
  } while (result == Z_OK);
  pump.Finish(*z.get());
  outcome.Written = z->total_out;
  outcome.Result = result == Z_STREAM_END ? Z_OK : result;
  return outcome;
}

StreamOutcome InflateFile(InputFile& in, std::size_t size, std::size_t zeros, OutputFile& out, std::int64_t capacity,
                          const Progress& progress) {
  Stream z(false);
  StreamOutcome outcome;
  outcome.Result = z.Init(0);
  if (outcome.Result != Z_OK) return outcome;
  Pump pump(in, size, zeros, out, capacity, progress);
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
  pump.Finish(*z.get());
  outcome.Written = z->total_out;
  // uncompress's mapping: a stream that ends early with room to spare is corrupt.
  if (result == Z_STREAM_END) outcome.Result = Z_OK;
  else if (result == Z_NEED_DICT) outcome.Result = Z_DATA_ERROR;
  else if (result == Z_BUF_ERROR && capacityLeft()) outcome.Result = Z_DATA_ERROR;
  else outcome.Result = result;
  return outcome;
}

}  // namespace qm::compression
