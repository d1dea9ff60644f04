#pragma once

/// @file
/// zlib compression over standard types: byte buffers in and out, and the
/// length-prefixed file container of qm::Compress.
///
///     std::vector<std::uint8_t> packed = qm::Deflate(bytes);
///     std::vector<std::uint8_t> again = qm::Inflate(packed);
///     qm::CompressFile("data.bin", "data.qmz");
///
/// Deflate and Inflate are the library's zlib streams: qm::Compress's byte
/// array and string operations run the same code, keeping their own work
/// buffer rule and result codes. Where zlib fails these raise qm::Error 9999
/// "Compression failed: zlib result <code> (<zlib's words>)" (-3 is damaged or
/// cut-off data). The file functions run the container engine that
/// qm::Compress's file operations run, so the files are the same bytes, and
/// raise its numbers (53 for a missing input, 9 for an empty file).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/runtime/Progress.h"

namespace qm {

/// How hard deflate works: any level from 0 (stored) to 9 may be given as
/// `DeflateLevel{n}`; others raise 5 (Invalid procedure call or argument).
enum class DeflateLevel : int {
  Store = 0,    ///< no compression, the bytes stored in blocks
  Fastest = 1,  ///< the fastest compression
  Default = 6,  ///< zlib's balance of speed and size
  Smallest = 9  ///< the smallest output, the slowest
};

/// The most bytes Inflate gives unless told otherwise: 1 GiB.
inline constexpr std::size_t kDefaultInflateCap = std::size_t{1} << 30;

/// The zlib stream (RFC 1950) of `data`, read in place.
QUILLMARK_EXPORT std::vector<std::uint8_t> Deflate(std::span<const std::uint8_t> data,
                                                   DeflateLevel level = DeflateLevel::Default);

/// The bytes of a zlib stream, however long, up to `maxSize` bytes: data that
/// expands further raises 6 (Overflow) naming the cap, before more memory is
/// taken. Bytes after the end of the stream are ignored.
QUILLMARK_EXPORT std::vector<std::uint8_t> Inflate(std::span<const std::uint8_t> data,
                                                   std::size_t maxSize = kDefaultInflateCap);

/// Compresses the file `in` into the container file `out` (replaced),
/// telling `progress` the bytes of `in` read so far. The container is written
/// beside `out` and replaces it whole: when the job fails, or `progress` throws
/// (the exception passes on as the object thrown), `out` stays as it was. A
/// missing folder raises 76 "Path not found: <folder>" (errc::not_found).
/// Files over 2 GiB raise 6 (Overflow): the container's length field has 32 bits.
QUILLMARK_EXPORT void CompressFile(const std::filesystem::path& in, const std::filesystem::path& out,
                                   DeflateLevel level = DeflateLevel::Default, const Progress& progress = {});

/// Restores a container file written by CompressFile into `out` (replaced),
/// with `progress` and failures as for CompressFile, except that damaged data
/// raises 9999 (errc::damaged_data) after `out` received what could be
/// restored before the damage.
QUILLMARK_EXPORT void DecompressFile(const std::filesystem::path& in, const std::filesystem::path& out,
                                     const Progress& progress = {});

}  // namespace qm
