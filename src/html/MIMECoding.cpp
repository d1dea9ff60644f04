#include "quillmark/html/MIMECoding.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

#if defined(__x86_64__)
// Twelve bytes at a time into sixteen characters with SSSE3 byte shuffles:
// the bytes are spread so that each 32-bit lane holds one group of three,
// the four 6-bit values are moved into their own bytes by two multiplies,
// and a 16-entry shuffle table adds the offset of each value's range of the
// alphabet. Returns the bytes consumed (a multiple of 12); it loads 16 bytes
// per step, so it stops while 16 or more remain.
__attribute__((target("ssse3"))) std::size_t EncodeSsse3(const std::uint8_t* in, std::size_t size, char* out) {
  const __m128i spread = _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1);
  const __m128i highMask = _mm_set1_epi32(0x0fc0fc00);
  const __m128i highShift = _mm_set1_epi32(0x04000040);
  const __m128i lowMask = _mm_set1_epi32(0x003f03f0);
  const __m128i lowShift = _mm_set1_epi32(0x01000010);
  const __m128i offsets = _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                        '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
  std::size_t done = 0;
  for (; size - done >= 16; done += 12, out += 16) {
    const __m128i bytes = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done)), spread);
    const __m128i high = _mm_mulhi_epu16(_mm_and_si128(bytes, highMask), highShift);
    const __m128i low = _mm_mullo_epi16(_mm_and_si128(bytes, lowMask), lowShift);
    const __m128i values = _mm_or_si128(high, low);  // 0..63 in each byte
    // Range of each value: 0 for A-Z, 1 for a-z, 2-11 for digits, 12 for "+", 13 for "/".
    __m128i range = _mm_subs_epu8(values, _mm_set1_epi8(51));
    const __m128i upper = _mm_cmpgt_epi8(_mm_set1_epi8(26), values);
    range = _mm_or_si128(range, _mm_and_si128(upper, _mm_set1_epi8(13)));
    const __m128i text = _mm_add_epi8(_mm_shuffle_epi8(offsets, range), values);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), text);
  }
  return done;
}

bool HasSsse3() noexcept {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}
#endif

}  // namespace

std::size_t EncodeTo(std::span<const std::uint8_t> bytes, char* out) noexcept {
  const std::uint8_t* in = bytes.data();
  std::size_t size = bytes.size();
  char* o = out;
#if defined(__x86_64__)
  if (HasSsse3()) {
    const std::size_t done = EncodeSsse3(in, size, o);
    in += done;
    o += done / 3 * 4;
    size -= done;
  }
#endif
  const std::size_t whole = size / 3;
  for (std::size_t g = 0; g < whole; ++g, in += 3, o += 4) {
    const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
    std::memcpy(o, &kPairs.Chars[2 * (v >> 12)], 2);
    std::memcpy(o + 2, &kPairs.Chars[2 * (v & 0xFFF)], 2);
  }
  switch (size % 3) {
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
