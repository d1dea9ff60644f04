#pragma once
// Image files for the graphics tests, written and read with tools that are
// not the library's own (stb_image_write, djpeg's PPM output).

#include <cstdint>
#include <string>
#include <vector>

namespace qm::test {

/// An RGB picture, rows top-down.
struct RgbImage {
  int Width = 0, Height = 0;
  std::vector<std::uint8_t> Pixels;  // 3 bytes per pixel
  std::uint8_t* At(int x, int y) { return &Pixels[3 * (static_cast<std::size_t>(y) * Width + x)]; }
  const std::uint8_t* At(int x, int y) const { return &Pixels[3 * (static_cast<std::size_t>(y) * Width + x)]; }
};

/// A smooth test picture: red rising to the right, green rising downwards,
/// blue falling downwards (strong at the top, weak at the bottom).
RgbImage TestPicture(int width, int height);

void WriteBmp(const std::string& path, const RgbImage& image);
void WritePng(const std::string& path, const RgbImage& image);

/// Decodes a JPEG file with libjpeg-turbo's djpeg; false when djpeg fails.
bool DecodeWithDjpeg(const std::string& jpeg, RgbImage& out);

/// Peak signal-to-noise ratio of two pictures of the same size, in dB.
double Psnr(const RgbImage& a, const RgbImage& b);

}  // namespace qm::test
