#pragma once
// Letter case of UTF-8 text: the one place where the library converts text
// to upper or lower case and compares names or text without regard to case.
//
// Every code point is mapped by the Unicode simple case mapping (one code
// point to one code point, so "ß" stays "ß" in upper case). Bytes that do not
// form valid UTF-8 are kept as they are: a name that is not valid UTF-8 still
// matches by its bytes, while its valid parts (ASCII letters among them) are
// mapped as usual.

#include <cstdint>
#include <string>
#include <string_view>

#include "quillmark/Export.h"

namespace qm {

/// How text is compared: by code (binary) or without regard to case.
enum CompareMethod : std::int32_t { BinaryCompare = 0, TextCompare = 1 };

/// The text with every letter in upper case.
QUILLMARK_EXPORT std::string UCase(std::string_view text);
/// The text with every letter in lower case.
QUILLMARK_EXPORT std::string LCase(std::string_view text);

/// A key under which texts that differ only in case are equal: every code
/// point goes to lower case after upper case, so that "ς", "σ" and "Σ", "ß"
/// and "ẞ", "K" and the Kelvin sign all share a key.
QUILLMARK_EXPORT std::string FoldCase(std::string_view text);
///@{
/// One code point mapped: upper case, lower case, and its FoldCase key.
QUILLMARK_EXPORT char32_t UpperCodePoint(char32_t c);
QUILLMARK_EXPORT char32_t LowerCodePoint(char32_t c);
QUILLMARK_EXPORT char32_t FoldCodePoint(char32_t c);
///@}

/// True when the two texts are equal without regard to case.
QUILLMARK_EXPORT bool EqualsIgnoringCase(std::string_view a, std::string_view b);
/// Orders texts by the FoldCase keys of their code points, one by one:
/// negative, 0 or positive.
QUILLMARK_EXPORT int CompareIgnoringCase(std::string_view a, std::string_view b);

/// Reads the code point that starts at `text[at]` and moves `at` past it.
/// A byte that starts no valid UTF-8 sequence (a stray continuation byte, a
/// truncated, overlong or surrogate sequence) is read alone and comes back as
/// U+DC00 + its value (U+DC80 to U+DCFF): a code point that valid UTF-8 never
/// produces, so such a byte equals only itself and no case mapping touches it.
QUILLMARK_EXPORT char32_t NextCodePoint(std::string_view text, std::size_t& at);
/// Appends `c` as UTF-8; the stand-ins of NextCodePoint become their byte again.
QUILLMARK_EXPORT void AppendCodePoint(std::string& out, char32_t c);

}  // namespace qm
