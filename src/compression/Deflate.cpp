#include "quillmark/compression/Deflate.h"

#include <string>
#include <zlib.h>

#include "compression/WorkBuffer.h"
#include "quillmark/compression/Compress.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"

namespace qm {
namespace {

// Turns a zlib result other than 0 into the layer's error.
void Check(std::int32_t result) {
  if (result == Z_OK) return;
  throw Error(ERR_General, frame::DefaultSource("Compress"),
              "Compression failed: zlib result " + std::to_string(result) + " (" + zError(result) + ")");
}

int ZlibLevel(DeflateLevel level) {
  const auto n = static_cast<int>(level);
  if (n < 0 || n > 9)
    throw Error(ERR_InvalidProcedureCall, frame::DefaultSource("Compress"),
                "Invalid procedure call or argument: deflate level " + std::to_string(n) + " is not 0 to 9");
  return n;
}

}  // namespace

std::vector<std::uint8_t> Deflate(std::span<const std::uint8_t> data, DeflateLevel level) {
  auto out = compression::DeflateInto(data, ZlibLevel(level), compressBound(static_cast<uLong>(data.size())));
  Check(out.Result);
  return std::move(out.Data);
}

std::vector<std::uint8_t> Inflate(std::span<const std::uint8_t> data, std::size_t maxSize) {
  auto out = compression::InflateUpTo(data, maxSize);
  if (out.Result == Z_BUF_ERROR)
    throw Error(ERR_Overflow, frame::DefaultSource("Compress"),
                "Overflow: the data expands beyond " + std::to_string(maxSize) + " bytes");
  Check(out.Result);
  return std::move(out.Data);
}

void CompressFile(const std::filesystem::path& in, const std::filesystem::path& out, DeflateLevel level,
                  const Progress& progress) {
  Compress compress;
  Check(compress.CompressFile(in.string(), out.string(), static_cast<CompressionLevelConstants>(ZlibLevel(level)),
                              progress));
}

void DecompressFile(const std::filesystem::path& in, const std::filesystem::path& out, const Progress& progress) {
  Compress compress;
  Check(compress.DecompressFile(in.string(), out.string(), progress));
}

}  // namespace qm
