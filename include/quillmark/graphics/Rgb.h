#pragma once

/// @file
/// qm::Rgb: a colour as red, green and blue bytes.
///
///     qm::Rgb navy{0, 0, 128};
///     qm::Rgb orange = qm::Rgb::FromHex(0xFF8000);          // as written in HTML
///     std::uint32_t forGraphics = orange.ColorRef();         // 0x000080FF
///
/// The published classes speak of colours as the platform's colour value
/// 0x00BBGGRR (red in the low byte); `FromColorRef` and `ColorRef` cross to
/// that form, so the typed calls never need it.

#include <cstdint>

namespace qm {

/// A colour of 8 bits per channel.
struct Rgb {
  std::uint8_t R = 0;  ///< red
  std::uint8_t G = 0;  ///< green
  std::uint8_t B = 0;  ///< blue

  /// The colour written as 0xRRGGBB (the HTML form); bits above 24 are ignored.
  static constexpr Rgb FromHex(std::uint32_t rrggbb) {
    return {static_cast<std::uint8_t>(rrggbb >> 16), static_cast<std::uint8_t>(rrggbb >> 8),
            static_cast<std::uint8_t>(rrggbb)};
  }
  /// The colour of a platform colour value 0x00BBGGRR; the top byte is ignored.
  static constexpr Rgb FromColorRef(std::uint32_t bbggrr) {
    return {static_cast<std::uint8_t>(bbggrr), static_cast<std::uint8_t>(bbggrr >> 8),
            static_cast<std::uint8_t>(bbggrr >> 16)};
  }
  /// 0xRRGGBB.
  constexpr std::uint32_t Hex() const { return std::uint32_t{R} << 16 | std::uint32_t{G} << 8 | B; }
  /// The platform colour value 0x00BBGGRR that Graphics and the bitmaps take.
  constexpr std::uint32_t ColorRef() const { return std::uint32_t{B} << 16 | std::uint32_t{G} << 8 | R; }

  /// The same three bytes.
  friend constexpr bool operator==(Rgb, Rgb) = default;
};

}  // namespace qm
