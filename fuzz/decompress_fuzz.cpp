// DecompressByteArray on arbitrary bytes. The first four bytes are the
// original size (little-endian, as in the file container), the rest is the
// data; any size must give a zlib code or a qm::Error, never a crash, a leak or
// an allocation beyond what the data can expand to.
// The same bytes as a container file go through DecompressFile, which
// streams them and checks the stream's checksum itself: it must give the
// one-call function's code and, on success, its bytes.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "quillmark/compression/Compress.h"
#include "quillmark/errors/Error.h"

namespace {

// A folder of this process's own for the container and its output.
const std::string& Folder() {
  static const std::string folder = [] {
    std::string name = "/tmp/qm-fuzz-decompress-XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) std::abort();
    return name;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const auto originalSize =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                                static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24);
  std::vector<std::uint8_t> bytes(data + 4, data + size);
  qm::Compress compress;
  std::int32_t oneCall = 0;
  try {
    oneCall = compress.DecompressByteArray(bytes, originalSize);
    if (oneCall == 0 && bytes.size() > static_cast<std::size_t>(size) * 1032 + 1032) __builtin_trap();
  } catch (const qm::Error&) {
    return 0;  // a size the one-call function refuses before zlib sees the data
  }
  // Large claimed sizes are served from bounded buffers by both; keep the
  // file's side to what a fuzzer's input can expand to.
  if (originalSize < 0 || originalSize > (1 << 20)) return 0;
  const std::string in = Folder() + "/in.z", out = Folder() + "/out.bin";
  std::ofstream(in, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  try {
    const std::int32_t streamed = compress.DecompressFile(in, out);
    if (streamed != oneCall) __builtin_trap();
    if (streamed == 0) {
      std::ifstream file(out, std::ios::binary);
      const std::vector<std::uint8_t> written{std::istreambuf_iterator<char>(file), {}};
      if (written != bytes) __builtin_trap();
    }
  } catch (const qm::Error&) {
    if (originalSize > 0) __builtin_trap();  // only an empty original has no buffer to fill
  }
  return 0;
}
