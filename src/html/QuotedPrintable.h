#pragma once
// The quoted-printable form of one page line in the archive.

#include <cstddef>
#include <string>
#include <string_view>

namespace qm::mdlHTML2MHT {

/// "=" and the byte's value as two upper-case hexadecimal digits.
std::string HexifyChar(unsigned char c);

/// Encodes one line read from a page (without its line end): CR and LF
/// vanish; "=", control bytes (tab included) and every byte above "z" become
/// `HexifyChar`. Long lines are broken softly ("=" CR LF, which a reader
/// removes), at two kinds of places:
/// - after a blank or ">" of a line longer than 80 characters (counting its
///   line end), once the counter is above 40; the counter adds 4 for a coded
///   byte and 1 for any other, and returns to 0 only at these breaks;
/// - as late as possible before an encoded line would pass 76 characters,
///   never inside an "=XX": a continued line holds at most 75 characters and
///   its "=", the line's last piece at most 76.
/// A break due after the line's last character is made too.
std::string ReplaceCtrlChars(std::string_view line);

/// The bytes `EncodeLine` may write for a line of `size` bytes.
constexpr std::size_t EncodedLineBound(std::size_t size) { return 4 * size + 8; }

/// `ReplaceCtrlChars` into `out`, which holds `EncodedLineBound(line.size())`
/// bytes; returns the count written.
std::size_t EncodeLine(std::string_view line, char* out) noexcept;

}  // namespace qm::mdlHTML2MHT
