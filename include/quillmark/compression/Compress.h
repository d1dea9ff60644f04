#pragma once
// qm::Compress: zlib compression of byte arrays, strings and whole files.
//
// Every operation returns zlib's own result code (0 on success; -2 stream
// error such as an invalid level, -3 corrupt data, -4 out of memory, -5 the
// output did not fit the work buffer). zlib's codes are returned, never raised;
// file and memory problems are raised as qm::Error.
//
// The caller keeps the original size of byte-array and string data and hands
// it back when decompressing. Files carry it in a small container:
//
//   offset 0, 4 bytes   original length, 32-bit signed, little-endian
//   offset 4, the rest  the zlib stream (RFC 1950) exactly as compress2 made it
//
// Work buffer: the output buffer holds round(n * 1.01 + 12) bytes (half to
// even) for an uncompressed length n. When decompressing it is further capped
// by what the compressed input can possibly expand to, so a bogus original
// size never makes the library allocate more than the data could fill.
//
// Strings cross into zlib one byte per character in ISO-8859-1: characters
// above U+00FF become '?'. A compressed string holds one character per
// compressed byte (U+0000 to U+00FF), in UTF-8 like every string here.
//
// When a call fails (result not 0) the Data or Text argument is left as it
// was; the file operations write whatever output zlib produced in any case.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/runtime/Progress.h"
#include "quillmark/values/Object.h"

namespace qm {

/// Compression levels, passed to zlib unchanged. Any level zlib accepts
/// (-1 and 0 to 9) may be given; others make zlib return -2.
enum CompressionLevelConstants : std::int32_t {
  COM_NO_COMPRESSION = 0,
  COM_BEST_SPEED = 1,
  COM_BEST_COMPRESSION = 9,
  COM_DEFAULT_COMPRESSION = -1,
};

/// zlib compression of byte arrays, strings and whole files; answers zlib's
/// result codes and raises qm::Error for file and memory problems.
class QUILLMARK_EXPORT Compress : public virtual Object {
 public:
  Compress();  ///< Sizes 0.
  ///@{
  /// Copies the sizes last handled.
  Compress(const Compress& other);
  Compress& operator=(const Compress& other);
  Compress(Compress&& other) noexcept;
  Compress& operator=(Compress&& other) noexcept;
  ///@}
  ~Compress() override;

  /// The uncompressed length of the data last handled (0 before any call).
  std::int32_t ValueDecompressedSize() const;

  /// Replaces Data by its compressed form.
  std::int32_t CompressByteArray(std::vector<std::uint8_t>& Data, CompressionLevelConstants CompressionLevel);
  /// Replaces Text by its compressed form (one character per byte).
  std::int32_t CompressString(std::string& Text, CompressionLevelConstants CompressionLevel);
  /// Replaces Data by its decompressed form; OriginalSize is the length it had
  /// before compression. A size whose work buffer would be negative raises 9.
  std::int32_t DecompressByteArray(std::vector<std::uint8_t>& Data, std::int32_t OriginalSize);
  /// Replaces Text by its decompressed form.
  std::int32_t DecompressString(std::string& Text, std::int32_t OriginalSize);
  /// Compresses a whole file into the container above. FilePathOut is
  /// replaced. A missing input raises 53, an empty one 9.
  std::int32_t CompressFile(const std::string& FilePathIn, const std::string& FilePathOut,
                            CompressionLevelConstants CompressionLevel);
  /// Restores a file written by CompressFile. FilePathOut is replaced.
  std::int32_t DecompressFile(const std::string& FilePathIn, const std::string& FilePathOut);

  /// CompressFile, telling `progress` the bytes of FilePathIn read so far of
  /// its size.
  std::int32_t CompressFile(const std::string& FilePathIn, const std::string& FilePathOut,
                            CompressionLevelConstants CompressionLevel, const Progress& progress);
  /// DecompressFile, telling `progress` the bytes of FilePathIn read so far
  /// of its size.
  std::int32_t DecompressFile(const std::string& FilePathIn, const std::string& FilePathOut, const Progress& progress);

  /// "Compress". Defined in the library, which so holds the class's virtual table
  /// and type information.
  std::string ClassName() const override;

 private:
  // The compressed length of the data last handled; not published.
  std::int32_t ValueCompressedSize() const;

  // The object's state, defined in the library's sources; an object moved
  // from has none until it is used again.
  struct Impl;
  Impl& State();
  const Impl& State() const;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
