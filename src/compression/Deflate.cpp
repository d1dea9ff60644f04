#include "quillmark/compression/Deflate.h"

#include <memory>
#include <string>
#include <zlib.h>

#include "compression/BinaryFile.h"
#include "compression/ContainerPacker.h"
#include "compression/ContainerUnpacker.h"
#include "compression/WorkBuffer.h"
#include "frame/FileErrors.h"
#include "io/AtomicFile.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "runtime/ProgressRelay.h"

namespace qm {
namespace {

// Turns a zlib result other than 0 into the layer's error.
void Check(std::int32_t result) {
  if (result == Z_OK) return;
  const errc cause = result == Z_DATA_ERROR  ? errc::damaged_data
                     : result == Z_BUF_ERROR ? errc::too_large
                     : result == Z_MEM_ERROR ? errc::out_of_memory
                                             : errc::invalid_argument;
  throw Error(ERR_General, cause, frame::DefaultSource("Compress"),
              "Compression failed: zlib result " + std::to_string(result) + " (" + zError(result) + ")");
}

int ZlibLevel(DeflateLevel level) {
  const auto n = static_cast<int>(level);
  if (n < 0 || n > 9)
    throw Error(ERR_InvalidProcedureCall, frame::DefaultSource("Compress"),
                "Invalid procedure call or argument: deflate level " + std::to_string(n) + " is not 0 to 9");
  return n;
}

// Runs a container job (`open` makes its engine) into a file beside `out`,
// which replaces `out` when the job comes to its end: a failure it raises, or
// a stop by the progress callback, leaves `out` as it was. A zlib result
// (damaged data) is an end: `out` then holds what was restored, and the result
// is raised after. The errors of reading `in` and of its data name it.
template <class Open>
void ReplaceWhole(const std::filesystem::path& in, const std::filesystem::path& out, const Progress& progress,
                  Open open) {
  runtime::ProgressRelay relay(progress);
  bool ofInput = true;
  try {
    auto engine = open();
    engine.Prepare();
    ofInput = false;
    compression::OutputFile file(std::make_unique<io::AtomicFile>(out, io::AtomicFile::Replace::Contents));
    const std::int32_t result = engine.WriteTo(file, relay.Callback());
    file.Close();
    ofInput = true;
    Check(result);
  } catch (...) {
    relay.RethrowCallerException();
    if (ofInput) frame::RethrowForInput(in);
    frame::RethrowForTarget(out);
  }
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
    throw Error(ERR_Overflow, errc::too_large, frame::DefaultSource("Compress"),
                "Overflow: the data expands beyond " + std::to_string(maxSize) + " bytes");
  Check(out.Result);
  return std::move(out.Data);
}

void CompressFile(const std::filesystem::path& in, const std::filesystem::path& out, DeflateLevel level,
                  const Progress& progress) {
  ReplaceWhole(in, out, progress, [&] { return compression::ContainerPacker(in.string(), ZlibLevel(level)); });
}

void DecompressFile(const std::filesystem::path& in, const std::filesystem::path& out, const Progress& progress) {
  ReplaceWhole(in, out, progress, [&] { return compression::ContainerUnpacker(in.string()); });
}

}  // namespace qm
