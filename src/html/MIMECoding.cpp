#include "quillmark/html/MIMECoding.h"

#include <array>
#include <cstring>

#include "quillmark/frame/Frame.h"

namespace qm::mdlMIMECoding {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Every 12-bit value as its two characters, so that three bytes take two
// table look-ups.
struct PairTable {
  std::array<char, 4096 * 2> Chars{};
  constexpr PairTable() {
    for (int v = 0; v < 4096; ++v) {
      Chars[2 * v] = kAlphabet[v >> 6];
      Chars[2 * v + 1] = kAlphabet[v & 63];
    }
  }
};
constexpr PairTable kPairs;

}  // namespace

std::size_t EncodeTo(std::span<const std::uint8_t> bytes, char* out) noexcept {
  const std::uint8_t* in = bytes.data();
  const std::size_t whole = bytes.size() / 3;
  char* o = out;
  for (std::size_t g = 0; g < whole; ++g, in += 3, o += 4) {
    const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
    std::memcpy(o, &kPairs.Chars[2 * (v >> 12)], 2);
    std::memcpy(o + 2, &kPairs.Chars[2 * (v & 0xFFF)], 2);
  }
  switch (bytes.size() % 3) {
    case 1:
      o[0] = kAlphabet[in[0] >> 2];
      o[1] = kAlphabet[(in[0] & 3) << 4];
      o += 2;
      break;
    case 2:
      o[0] = kAlphabet[in[0] >> 2];
      o[1] = kAlphabet[((in[0] & 3) << 4) | (in[1] >> 4)];
      o[2] = kAlphabet[(in[1] & 15) << 2];
      o += 3;
      break;
    default: break;
  }
  return static_cast<std::size_t>(o - out);
}

std::string base64_encode(const std::vector<std::uint8_t>& bytes) {
  QM_FRAME_TRY {
    std::string text(EncodedLength(bytes.size()), '\0');
    EncodeTo(bytes, text.data());
    return text;
  }
  QM_FRAME_CATCH("MIMECoding", "Public Function base64_encode", bytes);
}

std::string mimeencode(std::int16_t value) {
  QM_FRAME_TRY {
    if (value < 0 || value > 63) return {};
    return std::string(1, kAlphabet[value]);
  }
  QM_FRAME_CATCH("MIMECoding", "Public Function mimeencode", value);
}

}  // namespace qm::mdlMIMECoding
