#include "JpegStrips.h"

#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "quillmark/graphics/IJL.h"

namespace qm::ijl {
namespace {

constexpr int kMcuSize = 16;                       // 4:2:0: 16 x 16 pixels per MCU
constexpr int kMaxInterval = 65535;                // a DRI marker's 16 bits
constexpr std::int64_t kMinStripPixels = 1 << 18;  // less is not worth a thread
constexpr unsigned kStripsPerWorker = 4;           // a worker held up elsewhere holds up little

constexpr std::uint8_t kMarker = 0xFF;
constexpr std::uint8_t kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA, kDri = 0xDD, kRst0 = 0xD0, kSof0 = 0xC0;

struct TurboFree {
  void operator()(unsigned char* buffer) const noexcept { tjFree(buffer); }
};

struct EncodedStrip {
  std::unique_ptr<unsigned char, TurboFree> Bytes;
  unsigned long Size = 0;
  bool Done = false;
};

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

void Append(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace

int McuRowsPerStrip(int width, int height, unsigned workers) {
  const std::int64_t mcusPerRow = (std::int64_t{width} + kMcuSize - 1) / kMcuSize;
  const int mcuRows = static_cast<int>((std::int64_t{height} + kMcuSize - 1) / kMcuSize);
  if (workers <= 1 || mcuRows < 2 || mcusPerRow > kMaxInterval) return std::max(mcuRows, 1);
  const int wanted = static_cast<int>(std::min<unsigned>(workers * kStripsPerWorker, 1024));
  int rows = (mcuRows + wanted - 1) / wanted;
  const std::int64_t pixelsPerMcuRow = mcusPerRow * kMcuSize * kMcuSize;
  rows = std::max<int>(rows, static_cast<int>((kMinStripPixels + pixelsPerMcuRow - 1) / pixelsPerMcuRow));
  return std::clamp(std::min(rows, mcuRows), 1, static_cast<int>(kMaxInterval / mcusPerRow));
}

bool JoinStrips(std::span<const std::span<const std::uint8_t>> strips, int height, int interval,
                std::vector<std::uint8_t>& jpeg) {
  if (strips.empty() || height < 1 || height > 65535 || interval < 1 || interval > kMaxInterval) return false;
  std::vector<StripLayout> layouts;
  std::size_t total = 0;
  for (const auto& strip : strips) {
    const auto layout = Parse(strip);
    if (!layout) return false;
    layouts.push_back(*layout);
    total += strip.size();
  }
  jpeg.clear();
  jpeg.reserve(total + 6 + 2 * strips.size());
  const auto& first = strips.front();
  const StripLayout& head = layouts.front();
  // The first strip's headers, with the whole picture's height...
  Append(jpeg, first.subspan(0, head.ScanStart));
  jpeg[head.HeightField] = static_cast<std::uint8_t>(height >> 8);
  jpeg[head.HeightField + 1] = static_cast<std::uint8_t>(height);
  // ... a restart after every strip ...
  if (strips.size() > 1) {
    const std::uint8_t dri[] = {
        kMarker, kDri, 0, 4, static_cast<std::uint8_t>(interval >> 8), static_cast<std::uint8_t>(interval)};
    Append(jpeg, dri);
  }
  // ... and the scan: each strip's data, restart markers between them.
  Append(jpeg, first.subspan(head.ScanStart, head.DataEnd - head.ScanStart));
  for (std::size_t i = 1; i < strips.size(); ++i) {
    jpeg.push_back(kMarker);
    jpeg.push_back(static_cast<std::uint8_t>(kRst0 + (i - 1) % 8));
    Append(jpeg, strips[i].subspan(layouts[i].DataStart, layouts[i].DataEnd - layouts[i].DataStart));
  }
  jpeg.push_back(kMarker);
  jpeg.push_back(kEoi);
  return true;
}

std::int32_t EncodeInStrips(void* encoder, const BgrRows& rows, int quality, unsigned workers, int mcuRowsPerStrip,
                            std::vector<std::uint8_t>& jpeg) {
  if (rows.Width < 1 || rows.Height < 1 || mcuRowsPerStrip < 1) return IJL_ENCODER_ERROR;
  const int stripRows = std::min(mcuRowsPerStrip, (rows.Height + kMcuSize - 1) / kMcuSize) * kMcuSize;
  const int count = (rows.Height + stripRows - 1) / stripRows;
  const std::int64_t interval = (std::int64_t{rows.Width} + kMcuSize - 1) / kMcuSize * (stripRows / kMcuSize);
  if (count > 1 && interval > kMaxInterval) return IJL_ENCODER_ERROR;
  try {
    std::vector<EncodedStrip> strips(static_cast<std::size_t>(count));
    std::atomic<int> next{0};
    const auto encode = [&](tjhandle handle) {
      for (int s = next++; s < count; s = next++) {
        const int top = s * stripRows;
        const int height = std::min(stripRows, rows.Height - top);
        // The strip's first row in memory: its bottom row when stored bottom-up.
        const std::size_t first =
            rows.BottomUp ? static_cast<std::size_t>(rows.Height - top - height) : static_cast<std::size_t>(top);
        unsigned char* bytes = nullptr;
        unsigned long size = 0;
        const int status =
            tjCompress2(handle, rows.Pixels + first * static_cast<std::size_t>(rows.Pitch), rows.Width, rows.Pitch,
                        height, TJPF_BGR, &bytes, &size, TJSAMP_420, quality, rows.BottomUp ? TJFLAG_BOTTOMUP : 0);
        EncodedStrip& strip = strips[static_cast<std::size_t>(s)];
        strip.Bytes.reset(bytes);
        strip.Size = size;
        strip.Done = status == 0;
      }
    };
    std::vector<std::jthread> helpers;
    for (unsigned i = 1; i < workers && static_cast<int>(i) < count; ++i) {
      try {
        helpers.emplace_back([&] {
          tjhandle handle = tjInitCompress();
          if (!handle) return;  // the other workers take its strips
          encode(handle);
          tjDestroy(handle);
        });
      } catch (const std::system_error&) {
        break;  // fewer helpers
      }
    }
    encode(encoder);
    helpers.clear();  // joins them

    std::vector<std::span<const std::uint8_t>> parts;
    for (const auto& strip : strips) {
      if (!strip.Done) return IJL_ENCODER_ERROR;
      parts.emplace_back(strip.Bytes.get(), strip.Size);
    }
    return JoinStrips(parts, rows.Height, count > 1 ? static_cast<int>(interval) : 1, jpeg) ? IJL_OK
                                                                                            : IJL_ENCODER_ERROR;
  } catch (const std::bad_alloc&) {
    return IJL_MEMORY_ERROR;
  }
}

}  // namespace qm::ijl
