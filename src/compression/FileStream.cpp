#include "compression/FileStream.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <span>
#include <vector>

#include "io/BackgroundIo.h"

namespace qm::compression {
namespace {

constexpr std::size_t kChunk = 1 << 20;
constexpr int kWindowBits = 15;  // compress2's
constexpr int kMemLevel = 8;     // compress2's

// The Adler-32 checksum that closes a zlib stream, computed on the thread that
// reads or writes the file rather than inside zlib on the caller's thread: for
// large files that is about a tenth of the work off the critical path.
class Adler32 {
 public:
  void Add(std::span<const std::uint8_t> bytes) { value_ = adler32_z(value_, bytes.data(), bytes.size()); }
  std::uint32_t Value() const { return static_cast<std::uint32_t>(value_); }

 private:
  uLong value_ = adler32_z(0, nullptr, 0);
};

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
  // Deflates a raw stream (the zlib wrapper is written around it, see
  // DeflateFile); inflates a zlib stream without checking its checksum (the
  // caller checks it, see InflateFile).
  int Init(int level) {
    int result = deflating_ ? deflateInit2(&z_, level, Z_DEFLATED, -kWindowBits, kMemLevel, Z_DEFAULT_STRATEGY)
                            : inflateInit(&z_);
    initialised_ = result == Z_OK;
    if (initialised_ && !deflating_) result = inflateValidate(&z_, 0);
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
  // `checksum` is kept of the input read (`Side::Input`) or of the output
  // written (`Side::Output`), in order, on whichever thread does the work.
  enum class Side { Input, Output };
  Pump(InputFile& in, std::size_t size, std::size_t zeros, OutputFile& out, std::int64_t capacity,
       const Progress& progress, Side checksummed)
      : io_(
            [&in, this, checksummed](std::span<std::uint8_t> buffer) {
              const std::size_t got = in.Read(buffer);
              if (checksummed == Side::Input) checksum_.Add(buffer.first(got));
              return got;
            },
            size,
            [&out, this, checksummed](std::span<const std::uint8_t> bytes) {
              out.Write(bytes);
              if (checksummed == Side::Output) checksum_.Add(bytes);
            },
            kChunk),
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
      // The bytes to go first take the start of the first buffer.
      std::copy(prefix_.begin(), prefix_.end(), output_.begin());
      z.next_out = output_.data() + prefix_.size();
      z.avail_out = static_cast<uInt>(std::min<std::uint64_t>(kChunk - prefix_.size(), capacity_ - z.total_out));
      prefix_ = {};
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

  // Writes `bytes` before the stream's output, in its first buffer (the
  // capacity given at construction is the stream's alone).
  void Prefix(std::span<const std::uint8_t> bytes) { prefix_ = bytes; }

  // Queues `bytes` for writing after what the stream has produced so far.
  void Put(z_stream& z, std::span<const std::uint8_t> bytes) {
    Flush(z);
    if (bytes.empty()) return;
    auto buffer = io_.OutputBuffer();
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    io_.Write(std::move(buffer), bytes.size());
  }

  // The checksum of the side named at construction: of the input once it is
  // all read, of the output once Finish has returned.
  std::uint32_t Checksum() const { return checksum_.Value(); }

  // Flushes and waits until the output is written.
  void Finish(z_stream& z) {
    Flush(z);
    io_.Finish();
    if (progress_) progress_(taken_ - (inputOver_ ? 0 : z.avail_in), size_);
  }

 private:
  // Before io_: its reads begin while the constructor runs.
  Adler32 checksum_;
  io::BackgroundIo io_;
  std::size_t size_;
  std::size_t taken_ = 0;
  bool inputOver_ = false;
  std::size_t zerosLeft_;
  std::uint64_t capacity_;
  std::vector<std::uint8_t> zeros_;
  std::vector<std::uint8_t> output_;
  std::span<const std::uint8_t> prefix_;
  const Progress& progress_;
};

// The two bytes compress2's stream starts with, for `level` and its window.
std::array<std::uint8_t, 2> ZlibHeader(std::int32_t level) {
  if (level == Z_DEFAULT_COMPRESSION) level = 6;
  const unsigned levelFlags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  unsigned header = (Z_DEFLATED + ((kWindowBits - 8) << 4)) << 8 | levelFlags << 6;
  header += 31 - header % 31;
  return {static_cast<std::uint8_t>(header >> 8), static_cast<std::uint8_t>(header)};
}

std::array<std::uint8_t, 4> BigEndian(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
          static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

}  // namespace

bool StreamsLikeOneCall(std::int32_t level) { return level == Z_DEFAULT_COMPRESSION || (level >= 1 && level <= 9); }

// compress2's zlib stream is its header, the raw deflate stream and the
// input's checksum. zlib computes that checksum on the thread that deflates;
// here the raw stream is deflated and the wrapper written around it, with the
// checksum kept by the thread that reads the input. The bytes are the same,
// clipped at the capacity as compress2 clips them.
StreamOutcome DeflateFile(InputFile& in, std::size_t size, OutputFile& out, std::int64_t capacity, std::int32_t level,
                          const Progress& progress) {
  Stream z(true);
  StreamOutcome outcome;
  outcome.Result = z.Init(level);
  if (outcome.Result != Z_OK) return outcome;
  const auto room = static_cast<std::uint64_t>(std::max<std::int64_t>(capacity, 0));
  const auto header = ZlibHeader(level);
  const std::uint64_t headerRoom = std::min<std::uint64_t>(header.size(), room);
  Pump pump(in, size, 0, out, static_cast<std::int64_t>(room - headerRoom), progress, Pump::Side::Input);
  int result = Z_OK;
  if (headerRoom == header.size()) {
    pump.Prefix(header);
  } else {
    pump.Put(*z.get(), std::span(header).first(headerRoom));
    result = Z_BUF_ERROR;
  }
  while (result == Z_OK) {
    pump.Prepare(*z.get());
    // Like compress2: finish once the last input is in the stream. With no
    // room left zlib reports Z_BUF_ERROR, compress2's answer for a full buffer.
    result = deflate(z.get(), pump.InputLeft() ? Z_NO_FLUSH : Z_FINISH);
  }
  outcome.Written = headerRoom + z->total_out;
  if (result == Z_STREAM_END) {
    const auto trailer = BigEndian(pump.Checksum());
    const std::uint64_t trailerRoom = std::min<std::uint64_t>(trailer.size(), room - outcome.Written);
    pump.Put(*z.get(), std::span(trailer).first(trailerRoom));
    outcome.Written += trailerRoom;
    result = trailerRoom < trailer.size() ? Z_BUF_ERROR : Z_OK;
  }
  pump.Finish(*z.get());
  outcome.Result = result;
  return outcome;
}

StreamOutcome InflateFile(InputFile& in, std::size_t size, std::size_t zeros, OutputFile& out, std::int64_t capacity,
                          const Progress& progress) {
  Stream z(false);
  StreamOutcome outcome;
  outcome.Result = z.Init(0);
  if (outcome.Result != Z_OK) return outcome;
  Pump pump(in, size, zeros, out, capacity, progress, Pump::Side::Output);
  const auto capacityLeft = [&] { return z->total_out < static_cast<uLong>(capacity); };
  // The last four bytes inflate consumed: at the stream's end, its checksum.
  std::uint32_t lastFour = 0;
  int result = Z_OK;
  for (;;) {
    pump.Prepare(*z.get());
    const Bytef* from = z->next_in;
    result = inflate(z.get(), Z_NO_FLUSH);
    if (from != nullptr)
      for (const Bytef* p = z->next_in - from > 4 ? z->next_in - 4 : from; p < z->next_in; ++p)
        lastFour = lastFour << 8 | *p;
    if (result == Z_OK) continue;
    // No progress: go on only when more input or more room can be given.
    if (result == Z_BUF_ERROR && ((z->avail_in == 0 && pump.InputLeft()) || (z->avail_out == 0 && capacityLeft())))
      continue;
    break;
  }
  pump.Finish(*z.get());
  outcome.Written = z->total_out;
  // zlib was told not to check the checksum: the thread writing the output
  // kept it.
  if (result == Z_STREAM_END && lastFour != pump.Checksum()) result = Z_DATA_ERROR;
  // uncompress's mapping: a stream that ends early with room to spare is corrupt.
  if (result == Z_STREAM_END) outcome.Result = Z_OK;
  else if (result == Z_NEED_DICT) outcome.Result = Z_DATA_ERROR;
  else if (result == Z_BUF_ERROR && capacityLeft()) outcome.Result = Z_DATA_ERROR;
  else outcome.Result = result;
  return outcome;
}

}  // namespace qm::compression
