#pragma once

/// @file
/// zlib compression over standard types: byte buffers in and out, and the
/// length-prefixed file container of qm::Compress.
///
///     std::vector<std::uint8_t> packed = qm::Deflate(bytes);
///     std::vector<std::uint8_t> again = qm::Inflate(packed, std::int32_t(bytes.size()));
///     qm::CompressFile("data.bin", "data.qmz");
///
/// Each function runs the qm::Compress operation of the same name, so the
/// bytes and files are the same. Where qm::Compress returns a zlib result
/// other than 0, these raise qm::Error 9999 "Compression failed: zlib result
/// <code> (<zlib's words>)" (-3 is damaged data, -5 an original size too
/// small for the data); errors qm::Compress raises (53 for a missing input, 9
/// for an empty file or an impossible original size) pass through unchanged.

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/compression/Compress.h"
#include "quillmark/runtime/Progress.h"

namespace qm {

/// The zlib stream (RFC 1950) of `data`.
QUILLMARK_EXPORT std::vector<std::uint8_t> Deflate(std::span<const std::uint8_t> data,
                                                   CompressionLevelConstants level = COM_DEFAULT_COMPRESSION);

/// The bytes of a zlib stream whose uncompressed length is `originalSize`.
QUILLMARK_EXPORT std::vector<std::uint8_t> Inflate(std::span<const std::uint8_t> data, std::int32_t originalSize);

/// Compresses the file `in` into the container file `out` (replaced),
/// telling `progress` the bytes of `in` read so far. The container is written
/// beside `out` and replaces it whole: when the job fails, or `progress` throws
/// (the exception passes on as the object thrown), `out` stays as it was. A
/// missing folder raises 76 "Path not found: <folder>" (errc::not_found).
QUILLMARK_EXPORT void CompressFile(const std::filesystem::path& in, const std::filesystem::path& out,
                                   CompressionLevelConstants level = COM_DEFAULT_COMPRESSION,
                                   const Progress& progress = {});

/// Restores a container file written by CompressFile into `out` (replaced),
/// with `progress` and failures as for CompressFile, except that damaged data
/// raises 9999 (errc::damaged_data) after `out` received what could be
/// restored before the damage.
QUILLMARK_EXPORT void DecompressFile(const std::filesystem::path& in, const std::filesystem::path& out,
                                     const Progress& progress = {});

}  // namespace qm
