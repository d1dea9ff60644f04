#include "JpegStrips.h"

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csetjmp>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>

#include "io/Executor.h"
#include "io/TaskGroup.h"
#include "quillmark/graphics/IJL.h"

namespace qm::ijl {
namespace {

constexpr int kMcuSize = 16;                    // 4:2:0: 16 x 16 pixels per MCU
constexpr int kMaxInterval = 65535;             // a DRI marker's 16 bits
constexpr std::int64_t kStripPixels = 1 << 18;  // about this many pixels a strip
constexpr std::size_t kFirstBuffer = 1 << 16;   // output bytes a strip starts with

constexpr std::uint8_t kMarker = 0xFF;
constexpr std::uint8_t kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA, kDri = 0xDD, kRst0 = 0xD0, kSof0 = 0xC0;

// Where the parts of one encoded strip lie.
struct StripLayout {
  std::size_t HeightField = 0;  // the two bytes of the frame's height
  std::size_t ScanStart = 0;    // the SOS marker
  std::size_t DataStart = 0;    // the entropy-coded data
  std::size_t DataEnd = 0;      // the EOI marker
};

bool IsFrameMarker(std::uint8_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

std::optional<StripLayout> Parse(std::span<const std::uint8_t> bytes) {
  const std::size_t size = bytes.size();
  if (size < 4 || bytes[0] != kMarker || bytes[1] != kSoi) return std::nullopt;
  if (bytes[size - 2] != kMarker || bytes[size - 1] != kEoi) return std::nullopt;
  StripLayout layout;
  bool frame = false;
  std::size_t pos = 2;
  for (;;) {
    if (pos + 4 > size || bytes[pos] != kMarker) return std::nullopt;
    const std::uint8_t marker = bytes[pos + 1];
    const std::size_t length = std::size_t{bytes[pos + 2]} << 8 | bytes[pos + 3];
    if (length < 2 || pos + 2 + length > size) return std::nullopt;
    if (IsFrameMarker(marker)) {
      if (marker != kSof0 || length < 8 || frame) return std::nullopt;  // baseline only
      layout.HeightField = pos + 5;
      frame = true;
    } else if (marker == kDri) {
      return std::nullopt;  // the strips must not restart on their own
    } else if (marker == kSos) {
      layout.ScanStart = pos;
      layout.DataStart = pos + 2 + length;
      break;
    }
    pos += 2 + length;
  }
  layout.DataEnd = size - 2;
  if (!frame || layout.DataStart > layout.DataEnd) return std::nullopt;
  return layout;
}

}  // namespace

int McuRowsPerStrip(int width, int height) {
  const std::int64_t mcusPerRow = (std::int64_t{std::max(width, 1)} + kMcuSize - 1) / kMcuSize;
  const int mcuRows = static_cast<int>((std::int64_t{std::max(height, 1)} + kMcuSize - 1) / kMcuSize);
  if (mcusPerRow > kMaxInterval) return mcuRows;  // no interval fits: one strip
  const std::int64_t pixelsPerMcuRow = mcusPerRow * kMcuSize * kMcuSize;
  const auto rows =
      static_cast<int>(std::min<std::int64_t>((kStripPixels + pixelsPerMcuRow - 1) / pixelsPerMcuRow, mcuRows));
  return std::clamp(rows, 1, static_cast<int>(kMaxInterval / mcusPerRow));
}

// ---- The compressor of one strip ----

struct StripEncoder::State {
  jpeg_compress_struct Info{};
  jpeg_error_mgr Errors{};
  jpeg_destination_mgr Destination{};
  std::jmp_buf Jump{};
  bool Created = false;
  bool OutOfMemory = false;
  std::vector<std::uint8_t>* Out = nullptr;
};

namespace {

using EncoderState = StripEncoder::State;

EncoderState& StateOf(j_common_ptr cinfo) { return *static_cast<EncoderState*>(cinfo->client_data); }
EncoderState& StateOf(j_compress_ptr cinfo) { return *static_cast<EncoderState*>(cinfo->client_data); }

// libjpeg's fatal errors jump back to the setjmp of the call that went into
// the library (never exit(), as the default handler does). The frames jumped
// over are libjpeg's and our callbacks', which hold no C++ object then.
[[noreturn]] void ExitWithError(j_common_ptr cinfo) {
  EncoderState& state = StateOf(cinfo);
  state.OutOfMemory = cinfo->err->msg_code == JERR_OUT_OF_MEMORY;
  std::longjmp(state.Jump, 1);
}

void SilenceMessage(j_common_ptr) {}

// The output goes into the strip's vector, which doubles when full.
bool Resize(std::vector<std::uint8_t>& out, std::size_t size) noexcept {
  try {
    out.resize(size);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void StartOutput(j_compress_ptr cinfo) {
  EncoderState& state = StateOf(cinfo);
  std::vector<std::uint8_t>& out = *state.Out;
  if (!Resize(out, std::max(out.capacity(), kFirstBuffer))) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  cinfo->dest->next_output_byte = out.data();
  cinfo->dest->free_in_buffer = out.size();
}

boolean GrowOutput(j_compress_ptr cinfo) {
  // Called with the whole buffer full.
  EncoderState& state = StateOf(cinfo);
  std::vector<std::uint8_t>& out = *state.Out;
  const std::size_t used = out.size();
  if (!Resize(out, used * 2)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
  cinfo->dest->next_output_byte = out.data() + used;
  cinfo->dest->free_in_buffer = out.size() - used;
  return TRUE;
}

void EndOutput(j_compress_ptr cinfo) {
  std::vector<std::uint8_t>& out = *StateOf(cinfo).Out;
  out.resize(out.size() - cinfo->dest->free_in_buffer);  // shrinks: no allocation
}

}  // namespace

StripEncoder::StripEncoder() : state_(std::make_unique<State>()) {
  State& state = *state_;
  state.Info.err = jpeg_std_error(&state.Errors);
  state.Errors.error_exit = ExitWithError;
  state.Errors.output_message = SilenceMessage;
  state.Info.client_data = &state;
  if (setjmp(state.Jump) != 0) throw std::bad_alloc();  // libjpeg's only failure here
  jpeg_create_compress(&state.Info);
  // libjpeg's memory manager takes a limit from the JPEGMEM environment
  // variable; the output must not depend on the environment: no limit.
  state.Info.mem->max_memory_to_use = 0;
  state.Created = true;
  state.Destination.init_destination = StartOutput;
  state.Destination.empty_output_buffer = GrowOutput;
  state.Destination.term_destination = EndOutput;
  state.Info.dest = &state.Destination;
}

StripEncoder::~StripEncoder() {
  if (state_ && state_->Created) jpeg_destroy_compress(&state_->Info);
}

std::int32_t StripEncoder::Encode(const PixelRows& rows, int quality, int top, int height,
                                  std::vector<std::uint8_t>& jpeg) noexcept {
  State& state = *state_;
  jpeg_compress_struct& info = state.Info;
  state.Out = &jpeg;
  state.OutOfMemory = false;
  if (setjmp(state.Jump) != 0) {
    jpeg_abort_compress(&info);
    return state.OutOfMemory ? IJL_MEMORY_ERROR : IJL_ENCODER_ERROR;
  }
  info.image_width = static_cast<JDIMENSION>(rows.Width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = rows.Rgb ? JCS_EXT_RGB : JCS_EXT_BGR;
  jpeg_set_defaults(&info);  // YCbCr, 4:2:0, JFIF header, standard Huffman tables
  jpeg_set_quality(&info, quality, TRUE);
  // The defaults already; said here because the strips depend on them.
  info.optimize_coding = FALSE;
  info.dct_method = JDCT_ISLOW;
  info.restart_interval = 0;
  info.restart_in_rows = 0;
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW batch[kMcuSize];
    const int done = static_cast<int>(info.next_scanline);
    const int count = std::min(kMcuSize, height - done);
    for (int i = 0; i < count; ++i) {
      const int y = top + done + i;  // counted from the top of the picture
      const int inMemory = rows.BottomUp ? rows.Height - 1 - y : y;
      batch[i] = const_cast<JSAMPROW>(rows.Pixels + static_cast<std::ptrdiff_t>(inMemory) * rows.Pitch);
    }
    jpeg_write_scanlines(&info, batch, static_cast<JDIMENSION>(count));
  }
  jpeg_finish_compress(&info);
  return IJL_OK;
}

// ---- Strips streamed from a source to a sink, shared between the caller and helper tasks ----

namespace {

// Strips taken and not yet gone to the sink, at most, per thread at work.
constexpr int kStripsPerWorker = 2;

// Hands strip `index` of `count` to the sink as one stream with a restart
// interval of one strip: the first with the headers (the picture's height, the restart interval), each
// later one after its restart marker, the last with the end marker (its
// own). The strip's bytes are changed in place. False when the strip is no
// baseline JPEG.
bool Emit(std::vector<std::uint8_t>& strip, int index, int count, int height, int interval, JpegSink& sink) {
  const auto layout = Parse(strip);
  if (!layout) return false;
  const std::span<const std::uint8_t> bytes(strip);
  const std::size_t end = index == count - 1 ? strip.size() : layout->DataEnd;
  if (index == 0) {
    strip[layout->HeightField] = static_cast<std::uint8_t>(height >> 8);
    strip[layout->HeightField + 1] = static_cast<std::uint8_t>(height);
    sink.Write(bytes.subspan(0, layout->ScanStart));
    if (count > 1) {
      const std::uint8_t dri[] = {
          kMarker, kDri, 0, 4, static_cast<std::uint8_t>(interval >> 8), static_cast<std::uint8_t>(interval)};
      sink.Write(dri);
    }
    sink.Write(bytes.subspan(layout->ScanStart, end - layout->ScanStart));
    return true;
  }
  // The restart marker takes the place of the scan header's last two bytes.
  const std::size_t start = layout->DataStart - 2;
  strip[start] = kMarker;
  strip[start + 1] = static_cast<std::uint8_t>(kRst0 + (index - 1) % 8);
  sink.Write(bytes.subspan(start, end - start));
  return true;
}

// What the caller and its helpers share while a picture streams. Strip s,
// once encoded, waits at s % Window until the strips before it have gone to
// the sink; the thread that finds the next strip to go ready hands it (and
// the ready ones after it) to the sink. The helpers are a task group's: they
// use the stream only while the caller waits for them.
struct Stream {
  const StripSource* Source = nullptr;
  JpegSink* Sink = nullptr;
  int Height = 0;
  int Quality = 0;
  int StripRows = 0;
  int Count = 0;
  int Interval = 1;
  int Window = 1;

  std::mutex Lock;
  std::condition_variable Changed;
  int Next = 0;          // the next strip to take
  int Written = 0;       // strips gone to the sink
  bool Writing = false;  // a thread is handing strips to the sink
  std::vector<std::vector<std::uint8_t>> Done;
  std::vector<std::uint8_t> Ready;               // of Done's places
  std::vector<std::vector<std::uint8_t>> Spare;  // gone to the sink: to encode into again
  std::int32_t Status = IJL_OK;
  io::TaskGroup Group;  // keeps the first exception of the source or the sink; gone first

  bool Stopped() const { return Status != IJL_OK; }

  void Fail(std::int32_t status, std::exception_ptr failure) {
    if (!Stopped()) {
      Status = status == IJL_OK ? IJL_ENCODER_ERROR : status;
      if (failure) Group.Fail(std::move(failure));
    }
    Changed.notify_all();
  }

  // Takes strips, in order, until none is left or the job stops.
  void Work(StripEncoder& encoder) noexcept {
    std::vector<std::uint8_t> rows;  // this thread's buffer for a strip's rows
    for (;;) {
      int s = 0;
      std::vector<std::uint8_t> out;
      {
        std::unique_lock lock(Lock);
        Changed.wait(lock, [&] { return Stopped() || Next >= Count || Next < Written + Window; });
        if (Stopped() || Next >= Count) return;
        s = Next++;
        if (!Spare.empty()) {
          out = std::move(Spare.back());
          Spare.pop_back();
        }
      }
      std::int32_t status = IJL_ENCODER_ERROR;
      std::exception_ptr failure;
      try {
        const int top = s * StripRows;
        const int height = std::min(StripRows, Height - top);
        int first = 0;
        const PixelRows strip = Source->Rows(top, height, rows, first);
        status = encoder.Encode(strip, Quality, first, height, out);
      } catch (const std::bad_alloc&) {
        status = IJL_MEMORY_ERROR;
      } catch (...) {
        failure = std::current_exception();
      }
      if (failure || status != IJL_OK) {
        std::lock_guard lock(Lock);
        Fail(status, failure);
        return;
      }
      Deliver(s, std::move(out));
    }
  }

  void Deliver(int s, std::vector<std::uint8_t> bytes) noexcept {
    std::unique_lock lock(Lock);
    const auto at = static_cast<std::size_t>(s % Window);
    Done[at] = std::move(bytes);
    Ready[at] = 1;
    if (Writing) return;  // the thread writing takes it
    Writing = true;
    while (!Stopped() && Written < Count && Ready[static_cast<std::size_t>(Written % Window)]) {
      const auto next = static_cast<std::size_t>(Written % Window);
      std::vector<std::uint8_t> strip = std::move(Done[next]);
      Ready[next] = 0;
      const int index = Written;
      lock.unlock();
      std::exception_ptr failure;
      bool joined = false;
      try {
        joined = Emit(strip, index, Count, Height, Interval, *Sink);
      } catch (...) {
        failure = std::current_exception();
      }
      strip.clear();
      lock.lock();
      if (failure || !joined) {
        Fail(IJL_ENCODER_ERROR, failure);
        break;
      }
      Spare.push_back(std::move(strip));  // within the capacity reserved
      ++Written;
      Changed.notify_all();
    }
    Writing = false;
  }

  // A helper's turn: with a compressor of its own, strips until none is left.
  void Help() noexcept {
    try {
      StripEncoder encoder;
      Work(encoder);
    } catch (const std::bad_alloc&) {
      // No compressor: the caller and the other helpers take the strips.
    }
  }
};

}  // namespace

std::int32_t StreamInStrips(StripEncoder& encoder, int width, int height, int quality, int mcuRowsPerStrip,
                            const StripSource& source, JpegSink& sink) {
  if (width < 1 || height < 1 || height > 65535 || mcuRowsPerStrip < 1) return IJL_ENCODER_ERROR;
  const int stripRows = std::min(mcuRowsPerStrip, (height + kMcuSize - 1) / kMcuSize) * kMcuSize;
  const int count = (height + stripRows - 1) / stripRows;
  const std::int64_t interval = (std::int64_t{width} + kMcuSize - 1) / kMcuSize * (stripRows / kMcuSize);
  if (count > 1 && interval > kMaxInterval) return IJL_ENCODER_ERROR;
  const auto helpers = std::min<unsigned>(io::Executor::Capacity(), static_cast<unsigned>(count - 1));
  Stream job;
  try {
    job.Source = &source;
    job.Sink = &sink;
    job.Height = height;
    job.Quality = quality;
    job.StripRows = stripRows;
    job.Count = count;
    job.Interval = count > 1 ? static_cast<int>(interval) : 1;
    job.Window = kStripsPerWorker * static_cast<int>(helpers + 1);
    job.Done.resize(static_cast<std::size_t>(job.Window));
    job.Ready.resize(static_cast<std::size_t>(job.Window));
    job.Spare.reserve(static_cast<std::size_t>(job.Window));
  } catch (const std::bad_alloc&) {
    return IJL_MEMORY_ERROR;
  }
  job.Group.Post(helpers, [&job] { job.Help(); });
  job.Work(encoder);
  job.Group.Wait();  // raises an exception of the source or the sink
  if (job.Status != IJL_OK) return job.Status;
  return job.Written == count ? IJL_OK : IJL_ENCODER_ERROR;
}

namespace {

// The JPEG's bytes into memory.
class MemorySink : public JpegSink {
 public:
  explicit MemorySink(std::vector<std::uint8_t>& out) : out_(out) {}
  void Write(std::span<const std::uint8_t> bytes) override { out_.insert(out_.end(), bytes.begin(), bytes.end()); }

 private:
  std::vector<std::uint8_t>& out_;
};

}  // namespace

std::int32_t EncodeInStrips(StripEncoder& encoder, const PixelRows& rows, int quality, int mcuRowsPerStrip,
                            std::vector<std::uint8_t>& jpeg) {
  jpeg.clear();
  MemorySink sink(jpeg);
  try {
    return StreamInStrips(encoder, rows.Width, rows.Height, quality, mcuRowsPerStrip, MemoryRows(rows), sink);
  } catch (const std::bad_alloc&) {
    return IJL_MEMORY_ERROR;
  }
}

}  // namespace qm::ijl
