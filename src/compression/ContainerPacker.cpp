#include "compression/ContainerPacker.h"

#include <array>
#include <limits>

#include "compression/FileStream.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm::compression {

ContainerPacker::ContainerPacker(const std::string& path, std::int32_t level) : input_(path), level_(level) {
  if (input_.Size() == 0) Raise(ERR_SubscriptOutOfRange);
  // InputFile refuses files over the 32 bits of the length field.
  originalSize_ = static_cast<std::int32_t>(input_.Size());
}

void ContainerPacker::Prepare() {
  if (StreamsLikeOneCall(level_) || inMemory_) return;
  auto bytes = ReadWholeFile(input_);
  inMemory_ = Deflate(bytes.Bytes(), level_);
  // Stored blocks can take a few bytes more than a 32-bit length allows.
  if (inMemory_->Data.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) Raise(ERR_Overflow);
  compressedSize_ = static_cast<std::int32_t>(inMemory_->Data.size());
}

std::int32_t ContainerPacker::WriteTo(OutputFile& out, const Progress& progress) {
  Prepare();
  const auto bits = static_cast<std::uint32_t>(originalSize_);
  const std::array<std::uint8_t, kLengthFieldSize> field{
      static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits >> 16),
      static_cast<std::uint8_t>(bits >> 24)};
  out.Write(field);
  if (inMemory_) {
    out.Write(inMemory_->Bytes());
    if (progress) progress(input_.Size(), input_.Size());
    return inMemory_->Result;
  }
  const auto outcome = DeflateFile(input_, input_.Size(), out, WorkBufferSize(originalSize_), level_, progress);
  compressedSize_ = static_cast<std::int32_t>(outcome.Written);
  return outcome.Result;
}

}  // namespace qm::compression
