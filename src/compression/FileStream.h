#pragma once
// compress2 and uncompress from one file to another through small buffers.
// The output bytes and result codes are those of the one-call functions over
// the whole file held in memory, with the same work-buffer capacity, but no
// buffer of the file's size is ever allocated.

#include <cstdint>

#include "compression/BinaryFile.h"
#include "quillmark/runtime/Progress.h"

namespace qm::compression {

struct StreamOutcome {
  std::int32_t Result = 0;    // the zlib code compress2 / uncompress would give
  std::uint64_t Written = 0;  // bytes written to the output (destLen)
};

/// True for the levels whose output does not depend on how the data is
/// split into buffers (level 0 sizes its stored blocks by the room it has).
bool StreamsLikeOneCall(std::int32_t level);

/// Deflates the next `size` bytes of `in` into `out` at `level`, writing at
/// most `capacity` bytes. `progress` (when set) is told the input bytes
/// consumed of `size`.
StreamOutcome DeflateFile(InputFile& in, std::size_t size, OutputFile& out, std::int64_t capacity, std::int32_t level,
                          const Progress& progress = {});

/// Inflates the next `size` bytes of `in`, followed by `zeros` zero bytes,
/// into `out`, writing at most `capacity` bytes. `progress` (when set) is
/// told the input bytes consumed of `size`, the zeros not counted.
StreamOutcome InflateFile(InputFile& in, std::size_t size, std::size_t zeros, OutputFile& out, std::int64_t capacity,
                          const Progress& progress = {});

}  // namespace qm::compression
