#pragma once
// UTF-8 text: the library's one UTF-8 decoder (DecodeUtf8) with the ways its
// callers treat bytes that are not valid UTF-8, and letter case, the one place
// where the library converts text to upper or lower case and compares names or
// text without regard to case.
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

/// One character read by DecodeUtf8.
struct Utf8Char {
  char32_t point = 0;      ///< The code point; U+FFFD when the bytes are not valid.
  std::size_t length = 1;  ///< The bytes read: 1 to 4 (see DecodeUtf8 for invalid bytes).
  bool valid = true;       ///< False for bytes that are no valid UTF-8.
  bool cut = false;        ///< Not valid only because the text ends before the sequence does.
};

/// Reads the character that starts at `text[at]` (`at` < text.size()): the
/// library's one UTF-8 decoder. It is strict: overlong forms, surrogates
/// (U+D800 to U+DFFF), values past U+10FFFF, stray continuation bytes and
/// sequences cut short are not valid. For bytes that are not valid, `length`
/// covers the longest start of a valid sequence found there (at least one
/// byte), so each invalid run counts once, as Unicode recommends for U+FFFD.
QUILLMARK_EXPORT Utf8Char DecodeUtf8(std::string_view text, std::size_t at) noexcept;

/// What a conversion does with bytes that are not valid UTF-8 (each run that
/// DecodeUtf8 reads as one invalid character).
enum class InvalidUtf8 {
  Replace,   ///< The run becomes U+FFFD, the replacement character.
  Question,  ///< The run becomes '?', for text bound for a single-byte character set.
  Refuse     ///< Raises 5 (Invalid procedure call) naming the byte offset.
};

/// The code points of `text`, invalid runs handled by `policy`.
QUILLMARK_EXPORT std::u32string DecodeUtf8Text(std::string_view text, InvalidUtf8 policy);
/// `text` as valid UTF-8: valid characters as they are, invalid runs handled
/// by `policy`.
QUILLMARK_EXPORT std::string ValidUtf8(std::string_view text, InvalidUtf8 policy);

/// Reads the code point that starts at `text[at]` and moves `at` past it,
/// keeping every byte: a byte that DecodeUtf8 does not read as part of a valid
/// character is read alone and comes back as U+DC00 + its value (U+DC80 to
/// U+DCFF), a code point that valid UTF-8 never produces, so such a byte
/// equals only itself and no case mapping touches it.
QUILLMARK_EXPORT char32_t NextCodePoint(std::string_view text, std::size_t& at);
/// Appends `c` as UTF-8; the stand-ins of NextCodePoint become their byte again.
QUILLMARK_EXPORT void AppendCodePoint(std::string& out, char32_t c);

}  // namespace qm
