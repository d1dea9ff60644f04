#include "quillmark/compression/Deflate.h"

#include <string>
#include <zlib.h>

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

}  // namespace

std::vector<std::uint8_t> Deflate(std::span<const std::uint8_t> data, CompressionLevelConstants level) {
  std::vector<std::uint8_t> bytes(data.begin(), data.end());
  Compress compress;
  Check(compress.CompressByteArray(bytes, level));
  return bytes;
}

std::vector<std::uint8_t> Inflate(std::span<const std::uint8_t> data, std::int32_t originalSize) {
  std::vector<std::uint8_t> bytes(data.begin(), data.end());
  Compress compress;
  Check(compress.DecompressByteArray(bytes, originalSize));
  return bytes;
}

void CompressFile(const std::filesystem::path& in, const std::filesystem::path& out, CompressionLevelConstants level,
                  const Progress& progress) {
  Compress compress;
  Check(compress.CompressFile(in.string(), out.string(), level, progress));
}

void DecompressFile(const std::filesystem::path& in, const std::filesystem::path& out, const Progress& progress) {
  Compress compress;
  Check(compress.DecompressFile(in.string(), out.string(), progress));
}

}  // namespace qm
