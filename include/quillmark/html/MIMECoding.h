#pragma once
// mdlMIMECoding: base64 text for the parts of a web archive.
//
// The alphabet is the one of RFC 4648: A-Z, a-z, 0-9, "+", "/". The text has
// no line breaks and no "=" padding; a final group of one byte gives two
// characters and of two bytes three (the archive writer pads where a part
// needs it).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "quillmark/Export.h"

namespace qm::mdlMIMECoding {

/// Encodes the whole array. Any length is accepted.
QUILLMARK_EXPORT std::string base64_encode(const std::vector<std::uint8_t>& bytes);

/// The alphabet's character at `value` (0 to 63); the empty string for a
/// negative value (the marker of an absent character) and above 63.
QUILLMARK_EXPORT std::string mimeencode(std::int16_t value);

/// The fast encoder under both: writes the unpadded base64 text of `bytes`
/// to `out`, which must hold `EncodedLength(bytes.size())` characters, and
/// returns that count.
QUILLMARK_EXPORT std::size_t EncodeTo(std::span<const std::uint8_t> bytes, char* out) noexcept;

/// Characters of the unpadded text for `size` bytes.
constexpr std::size_t EncodedLength(std::size_t size) noexcept {
  return size / 3 * 4 + (size % 3 == 0 ? 0 : size % 3 + 1);
}

}  // namespace qm::mdlMIMECoding
