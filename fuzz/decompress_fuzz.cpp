// DecompressByteArray on arbitrary bytes. The first four bytes are the
// original size (little-endian, as in the file container), the rest is the
// data; any size must give a zlib code or a qm::Error, never a crash, a leak or
// an allocation beyond what the data can expand to.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "quillmark/compression/Compress.h"
#include "quillmark/errors/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const auto originalSize =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                                static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24);
  std::vector<std::uint8_t> bytes(data + 4, data + size);
  qm::Compress compress;
  try {
    const std::int32_t result = compress.DecompressByteArray(bytes, originalSize);
    if (result == 0 && bytes.size() > static_cast<std::size_t>(size) * 1032 + 1032) __builtin_trap();
  } catch (const qm::Error&) {}
  return 0;
}
