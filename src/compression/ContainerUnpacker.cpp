#include "compression/ContainerUnpacker.h"

#include <algorithm>
#include <array>

#include "compression/ContainerPacker.h"
#include "compression/FileStream.h"
#include "compression/WorkBuffer.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm::compression {

ContainerUnpacker::ContainerUnpacker(const std::string& path) : input_(path) {
  const std::size_t length = input_.Size();
  if (length == 0) Raise(ERR_SubscriptOutOfRange);
  std::array<std::uint8_t, kLengthFieldSize> field{};
  fieldBytes_ = input_.Read({field.data(), std::min(kLengthFieldSize, length)});
  originalSize_ = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(field[0]) | static_cast<std::uint32_t>(field[1]) << 8 |
      static_cast<std::uint32_t>(field[2]) << 16 | static_cast<std::uint32_t>(field[3]) << 24);
}

void ContainerUnpacker::Prepare() {
  capacity_ = WorkBufferSize(originalSize_);
  if (capacity_ < 0) Raise(ERR_SubscriptOutOfRange);
  capacity_ = std::min(capacity_, MaxExpansion(static_cast<std::int64_t>(input_.Size())));
}

std::int32_t ContainerUnpacker::WriteTo(OutputFile& out, const Progress& progress) {
  if (capacity_ < 0) Prepare();
  // The stream as a byte array of the file's length holds it: the rest of the
  // file, then as many zero bytes as the length field took (zlib ignores bytes
  // after the end of its stream).
  Progress ofFile;
  if (progress) ofFile = [&](std::uint64_t done, std::uint64_t) { progress(fieldBytes_ + done, input_.Size()); };
  return InflateFile(input_, input_.Size() - fieldBytes_, fieldBytes_, out, capacity_, ofFile).Result;
}

}  // namespace qm::compression
