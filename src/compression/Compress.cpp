#include "quillmark/compression/Compress.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <limits>
#include <system_error>

#include "compression/BinaryFile.h"
#include "compression/WorkBuffer.h"
#include "quillmark/frame/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/runtime/Conversions.h"

namespace qm {
namespace {

constexpr std::size_t kLengthFieldSize = 4;

std::int32_t CheckedLength(std::size_t size) {
  if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) Raise(ERR_Overflow);
  return static_cast<std::int32_t>(size);
}

std::span<const std::uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string_view AsChars(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::array<std::uint8_t, kLengthFieldSize> LittleEndian(std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits >> 16),
          static_cast<std::uint8_t>(bits >> 24)};
}

// Replaces FilePathOut by `pieces`. Runs after the old output is deleted,
// where the file operations have never added their own call-frame element:
// errors leave with the class's source only.
void WriteOutputFile(const std::string& path, std::initializer_list<std::span<const std::uint8_t>> pieces) {
  try {
    compression::WriteWholeFile(path, pieces);
  } catch (Error& e) {
    if (e.Source().empty()) e.SetSource(frame::DefaultSource("Compress"));
    throw;
  }
}

void DeleteIgnoringFailure(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

}  // namespace

std::int32_t Compress::CompressByteArray(std::vector<std::uint8_t>& Data, CompressionLevelConstants CompressionLevel) {
  QM_FRAME_TRY {
    valueDecompressedSize_ = CheckedLength(Data.size());
    auto out = compression::Deflate(Data, CompressionLevel);
    if (out.Result == 0) Data.assign(out.Bytes().begin(), out.Bytes().end());
    valueCompressedSize_ = CheckedLength(out.Size);
    return out.Result;
  }
  QM_FRAME_CATCH("Compress", "Public Function CompressByteArray", Data, CompressionLevel);
}

std::int32_t Compress::CompressString(std::string& Text, CompressionLevelConstants CompressionLevel) {
  QM_FRAME_TRY {
    const std::string bytes = ToLatin1(Text);
    valueDecompressedSize_ = CheckedLength(bytes.size());
    auto out = compression::Deflate(AsBytes(bytes), CompressionLevel);
    if (out.Result == 0) Text = FromLatin1(AsChars(out.Bytes()));
    valueCompressedSize_ = CheckedLength(out.Size);
    return out.Result;
  }
  QM_FRAME_CATCH("Compress", "Public Function CompressString", Text, CompressionLevel);
}

std::int32_t Compress::DecompressByteArray(std::vector<std::uint8_t>& Data, std::int32_t OriginalSize) {
  QM_FRAME_TRY {
    valueDecompressedSize_ = OriginalSize;
    valueCompressedSize_ = CheckedLength(Data.size());
    auto out = compression::Inflate(Data, OriginalSize);
    if (out.Result == 0) Data.assign(out.Bytes().begin(), out.Bytes().end());
    return out.Result;
  }
  QM_FRAME_CATCH("Compress", "Public Function DecompressByteArray", Data, OriginalSize);
}

std::int32_t Compress::DecompressString(std::string& Text, std::int32_t OriginalSize) {
  QM_FRAME_TRY {
    valueDecompressedSize_ = OriginalSize;
    const std::string bytes = ToLatin1(Text);
    valueCompressedSize_ = CheckedLength(bytes.size());
    auto out = compression::Inflate(AsBytes(bytes), OriginalSize);
    if (out.Result == 0) Text = FromLatin1(AsChars(out.Bytes()));
    return out.Result;
  }
  QM_FRAME_CATCH("Compress", "Public Function DecompressString", Text, OriginalSize);
}

std::int32_t Compress::CompressFile(const std::string& FilePathIn, const std::string& FilePathOut,
                                    CompressionLevelConstants CompressionLevel) {
  compression::ZlibOutput out;
  std::int32_t originalLength = 0;
  QM_FRAME_TRY {
    auto input = compression::ReadWholeFile(FilePathIn);
    if (input.Size == 0) Raise(ERR_SubscriptOutOfRange);  // no array of length 0
    originalLength = CheckedLength(input.Size);
    // The byte-array operation, without copying the file into a vector.
    valueDecompressedSize_ = originalLength;
    out = compression::Deflate(input.Bytes(), CompressionLevel);
    valueCompressedSize_ = CheckedLength(out.Size);
    DeleteIgnoringFailure(FilePathOut);
  }
  QM_FRAME_CATCH("Compress", "Public Function CompressFile", FilePathIn, FilePathOut, CompressionLevel);
  const auto header = LittleEndian(originalLength);
  WriteOutputFile(FilePathOut, {header, out.Bytes()});
  return out.Result;
}

std::int32_t Compress::DecompressFile(const std::string& FilePathIn, const std::string& FilePathOut) {
  compression::ZlibOutput out;
  QM_FRAME_TRY {
    auto input = compression::ReadWholeFile(FilePathIn);
    if (input.Size == 0) Raise(ERR_SubscriptOutOfRange);  // no array of length 0
    // The array has the file's full length: the length field's 4 bytes move to
    // the front and the stream follows, so its last 4 bytes are zero (zlib
    // ignores bytes after the end of its stream). A file shorter than the
    // length field reads as much of it as there is.
    auto bytes = input.Bytes();
    std::uint32_t field = 0;
    const std::size_t fieldBytes = std::min(kLengthFieldSize, bytes.size());
    for (std::size_t i = 0; i < fieldBytes; ++i) field |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(fieldBytes), bytes.end(), bytes.begin());
    std::fill(bytes.end() - static_cast<std::ptrdiff_t>(fieldBytes), bytes.end(), std::uint8_t{0});
    const auto originalSize = static_cast<std::int32_t>(field);

    valueDecompressedSize_ = originalSize;
    valueCompressedSize_ = CheckedLength(bytes.size());
    out = compression::Inflate(bytes, originalSize);
    DeleteIgnoringFailure(FilePathOut);
  }
  QM_FRAME_CATCH("Compress", "Public Function DecompressFile", FilePathIn, FilePathOut);
  WriteOutputFile(FilePathOut, {out.Bytes()});
  return out.Result;
}

}  // namespace qm
