// quillmark compress IN OUT / quillmark decompress IN OUT: the compressed-file
// container (a 4-byte original length, then the zlib stream).

#include <filesystem>
#include <iostream>

#include "Commands.h"
#include "quillmark/compression/Compress.h"

namespace qm::cli {
namespace {

int Report(std::int32_t result, const Args& args) {
  if (result != 0) {
    std::cerr << "quillmark: zlib result " << result << " for " << args[0] << '\n';
    return 1;
  }
  std::error_code ignored;
  std::cout << args[0] << " (" << std::filesystem::file_size(args[0], ignored) << " bytes) -> " << args[1] << " ("
            << std::filesystem::file_size(args[1], ignored) << " bytes)\n";
  return 0;
}

}  // namespace

int RunCompress(const Args& args) {
  if (args.size() != 2) {
    std::cerr << "usage: quillmark compress IN OUT\n";
    return 2;
  }
  Compress compress;
  return Report(compress.CompressFile(args[0], args[1], COM_DEFAULT_COMPRESSION), args);
}

int RunDecompress(const Args& args) {
  if (args.size() != 2) {
    std::cerr << "usage: quillmark decompress IN OUT\n";
    return 2;
  }
  Compress compress;
  return Report(compress.DecompressFile(args[0], args[1]), args);
}

}  // namespace qm::cli
