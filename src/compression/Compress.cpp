#include "quillmark/compression/Compress.h"

#include <limits>
#include <new>
#include <optional>

#include "compression/BinaryFile.h"
#include "compression/ContainerPacker.h"
#include "compression/ContainerUnpacker.h"
#include "compression/WorkBuffer.h"
#include "frame/PrivateState.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/values/Conversions.h"

namespace qm {
namespace {

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

struct Compress::Impl {
  std::int32_t valueDecompressedSize = 0;
  std::int32_t valueCompressedSize = 0;
};

Compress::Impl& Compress::State() { return frame::WritableState(impl_); }

const Compress::Impl& Compress::State() const { return frame::ReadableState(impl_); }

Compress::Compress(const Compress& other) : Object(other), impl_(frame::CopiedState(other.impl_)) {}
Compress& Compress::operator=(const Compress& other) {
  if (this != &other) impl_ = frame::CopiedState(other.impl_);
  return *this;
}
Compress::Compress(Compress&&) noexcept = default;
Compress& Compress::operator=(Compress&&) noexcept = default;
Compress::~Compress() = default;

Compress::Compress() : impl_(std::make_unique<Impl>()) {}

std::int32_t Compress::ValueDecompressedSize() const { return State().valueDecompressedSize; }
std::int32_t Compress::ValueCompressedSize() const { return State().valueCompressedSize; }

std::string Compress::ClassName() const { return "Compress"; }

std::int32_t Compress::CompressByteArray(std::vector<std::uint8_t>& Data, CompressionLevelConstants CompressionLevel) {
  QM_FRAME_TRY {
    State().valueDecompressedSize = CheckedLength(Data.size());
    auto out = compression::Deflate(Data, CompressionLevel);
    if (out.Result == 0) Data.assign(out.Bytes().begin(), out.Bytes().end());
    State().valueCompressedSize = CheckedLength(out.Data.size());
    return out.Result;
  }
  QM_FRAME_CATCH("Compress", "Public Function CompressByteArray", Data, CompressionLevel);
}

std::int32_t Compress::CompressString(std::string& Text, CompressionLevelConstants CompressionLevel) {
  QM_FRAME_TRY {
    const std::string bytes = ToLatin1(Text);
    State().valueDecompressedSize = CheckedLength(bytes.size());
    auto out = compression::Deflate(AsBytes(bytes), CompressionLevel);
    if (out.Result == 0) Text = FromLatin1(AsChars(out.Bytes()));
    State().valueCompressedSize = CheckedLength(out.Data.size());
    return out.Result;
  }
  QM_FRAME_CATCH("Compress", "Public Function CompressString", Text, CompressionLevel);
}

std::int32_t Compress::DecompressByteArray(std::vector<std::uint8_t>& Data, std::int32_t OriginalSize) {
  QM_FRAME_TRY {
    State().valueDecompressedSize = OriginalSize;
    State().valueCompressedSize = CheckedLength(Data.size());
    auto out = compression::Inflate(Data, OriginalSize);
    if (out.Result == 0) Data.assign(out.Bytes().begin(), out.Bytes().end());
    return out.Result;
  }
  QM_FRAME_CATCH("Compress", "Public Function DecompressByteArray", Data, OriginalSize);
}

std::int32_t Compress::DecompressString(std::string& Text, std::int32_t OriginalSize) {
  QM_FRAME_TRY {
    State().valueDecompressedSize = OriginalSize;
    const std::string bytes = ToLatin1(Text);
    State().valueCompressedSize = CheckedLength(bytes.size());
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
  std::optional<compression::ContainerPacker> packer;
  QM_FRAME_TRY {
    packer.emplace(FilePathIn, CompressionLevel);
    State().valueDecompressedSize = packer->OriginalSize();
    packer->Prepare();
    if (const auto size = packer->CompressedSize()) State().valueCompressedSize = *size;
    // From here the old output counts as deleted: the OutputFile below
    // replaces it, or removes it when the output fails.
  }
  QM_FRAME_CATCH("Compress", "Public Function CompressFile", FilePathIn, FilePathOut, CompressionLevel);

  return WithoutElement([&] {
    compression::OutputFile output(FilePathOut);
    const std::int32_t result = packer->WriteTo(output, progress);
    State().valueCompressedSize = packer->CompressedSize().value_or(State().valueCompressedSize);
    output.Close();
    return result;
  });
}

std::int32_t Compress::DecompressFile(const std::string& FilePathIn, const std::string& FilePathOut,
                                      const Progress& progress) {
  std::optional<compression::ContainerUnpacker> unpacker;
  QM_FRAME_TRY {
    unpacker.emplace(FilePathIn);
    State().valueDecompressedSize = unpacker->OriginalSize();
    State().valueCompressedSize = unpacker->FileSize();
    unpacker->Prepare();
    // From here the old output counts as deleted: the OutputFile below
    // replaces it, or removes it when the output fails.
  }
  QM_FRAME_CATCH("Compress", "Public Function DecompressFile", FilePathIn, FilePathOut);

  return WithoutElement([&] {
    compression::OutputFile output(FilePathOut);
    const std::int32_t result = unpacker->WriteTo(output, progress);
    output.Close();
    return result;
  });
}

}  // namespace qm
