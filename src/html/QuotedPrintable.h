#pragma once
// The quoted-printable form of one page line in the archive.

#include <string>
#include <string_view>

namespace qm::mdlHTML2MHT {

/// "=" and the byte's value as two upper-case hexadecimal digits.
std::string HexifyChar(unsigned char c);

/// Encodes one line read from a page: CR and LF vanish; "=", control bytes
/// (tab included) and every byte above "z" become `HexifyChar`; after a blank
/// or ">" of a line longer than 79 characters, once more than 40 counted
/// characters have been written, CR LF breaks the line (an ordinary break,
/// white space to the page's markup).
std::string ReplaceCtrlChars(std::string_view line);

}  // namespace qm::mdlHTML2MHT
