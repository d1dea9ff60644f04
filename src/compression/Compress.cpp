#include "quillmark/compression/Compress.h"

#include <algorithm>
#include <array>
#include <limits>
#include <new>
#include <optional>

#include "compression/BinaryFile.h"
#include "compression/FileStream.h"
#include "compression/WorkBuffer.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/values/Conversions.h"

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

// Runs the part of a file operation after the old output is deleted, where
// the operations have never added their own call-frame element: errors leave
// with the class's source only.
template <class Body>
std::int32_t WithoutElement(Body body) {
  try {
    return body();
  } catch (Error& e) {
    if (e.Source().empty()) e.SetSource(frame::DefaultSource("Compress"));
    throw;
  } catch (const std::bad_alloc&) {
    throw Error(ERR_OutOfMemory, frame::DefaultSource("Compress"), std::string(StandardErrorText(ERR_OutOfMemory)));
  }
}

}  // namespace

std::int32_t Compress::CompressByteArray(std::vector<std::uint8_t>& Data, CompressionLevelConstants CompressionLevel) {
  QM_FRAME_TRY {
    valueDecompressedSize_ = CheckedLength(Data.size());
    auto out = compression::Deflate(Data, CompressionLevel);
    if (out.Result == 0) Data.assign(out.Bytes().begin(), out.Bytes().end());
    valueCompressedSize_ = CheckedLength(out.Data.size());
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
    valueCompressedSize_ = CheckedLength(out.Data.size());
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
  return CompressFile(FilePathIn, FilePathOut, CompressionLevel, Progress());
}

std::int32_t Compress::DecompressFile(const std::string& FilePathIn, const std::string& FilePathOut) {
  return DecompressFile(FilePathIn, FilePathOut, Progress());
}

std::int32_t Compress::CompressFile(const std::string& FilePathIn, const std::string& FilePathOut,
                                    CompressionLevelConstants CompressionLevel, const Progress& progress) {
  std::optional<compression::InputFile> input;
  std::int32_t originalLength = 0;
  compression::ZlibOutput inMemory;
  const bool streamed = compression::StreamsLikeOneCall(CompressionLevel);
  QM_FRAME_TRY {
    input.emplace(FilePathIn);
    if (input->Size() == 0) Raise(ERR_SubscriptOutOfRange);  // no array of length 0
    originalLength = CheckedLength(input->Size());
    valueDecompressedSize_ = originalLength;
    if (!streamed) {
      // Level 0 (and levels zlib refuses) in one call, as the data's own.
      auto bytes = compression::ReadWholeFile(*input);
      inMemory = compression::Deflate(bytes.Bytes(), CompressionLevel);
      valueCompressedSize_ = CheckedLength(inMemory.Data.size());
    }
    // From here the old output counts as deleted: the OutputFile below
    // replaces it, or removes it when the output fails.
  }
  QM_FRAME_CATCH("Compress", "Public Function CompressFile", FilePathIn, FilePathOut, CompressionLevel);

  return WithoutElement([&] {
    compression::OutputFile output(FilePathOut);
    output.Write(LittleEndian(originalLength));
    std::int32_t result = inMemory.Result;
    if (streamed) {
      const auto outcome = compression::DeflateFile(
          *input, input->Size(), output, compression::WorkBufferSize(originalLength), CompressionLevel, progress);
      valueCompressedSize_ = static_cast<std::int32_t>(outcome.Written);
      result = outcome.Result;
    } else {
      output.Write(inMemory.Bytes());
      if (progress) progress(input->Size(), input->Size());
    }
    output.Close();
    return result;
  });
}

std::int32_t Compress::DecompressFile(const std::string& FilePathIn, const std::string& FilePathOut,
                                      const Progress& progress) {
  std::optional<compression::InputFile> input;
  std::size_t fieldBytes = 0;
  std::int64_t capacity = 0;
  QM_FRAME_TRY {
    input.emplace(FilePathIn);
    const std::size_t length = input->Size();
    if (length == 0) Raise(ERR_SubscriptOutOfRange);  // no array of length 0
    // The length field, or as much of it as a short file has.
    std::array<std::uint8_t, kLengthFieldSize> field{};
    fieldBytes = input->Read({field.data(), std::min(kLengthFieldSize, length)});
    const auto originalSize = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(field[0]) | static_cast<std::uint32_t>(field[1]) << 8 |
        static_cast<std::uint32_t>(field[2]) << 16 | static_cast<std::uint32_t>(field[3]) << 24);
    valueDecompressedSize_ = originalSize;
    valueCompressedSize_ = CheckedLength(length);
    capacity = compression::WorkBufferSize(originalSize);
    if (capacity < 0) Raise(ERR_SubscriptOutOfRange);
    capacity = std::min(capacity, compression::MaxExpansion(static_cast<std::int64_t>(length)));
    // From here the old output counts as deleted: the OutputFile below
    // replaces it, or removes it when the output fails.
  }
  QM_FRAME_CATCH("Compress", "Public Function DecompressFile", FilePathIn, FilePathOut);

  return WithoutElement([&] {
    compression::OutputFile output(FilePathOut);
    // The stream as a byte array of the file's length holds it: the rest of
    // the file, then as many zero bytes as the length field took (zlib ignores
    // bytes after the end of its stream).
    // Progress in bytes of the whole file, the length field included.
    Progress ofFile;
    if (progress) ofFile = [&](std::uint64_t done, std::uint64_t) { progress(fieldBytes + done, input->Size()); };
    const auto outcome =
        compression::InflateFile(*input, input->Size() - fieldBytes, fieldBytes, output, capacity, ofFile);
    output.Close();
    return outcome.Result;
  });
}

}  // namespace qm
