#pragma once
// Picture files for the graphics tests, written and read with tools that are
// not the library's own where it matters (libpng, giflib, cjpeg, djpeg).

#include <png.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "quillmark/graphics/Picture.h"
#include "support/TestEnvironment.h"

namespace qm::test {

// Rows top-down, 3 bytes per pixel in red-green-blue order.
struct RgbImage {
  int Width = 0, Height = 0;
  std::vector<std::uint8_t> Pixels;
  const std::uint8_t* At(int x, int y) const { return &Pixels[3 * (static_cast<std::size_t>(y) * Width + x)]; }
  bool operator==(const RgbImage&) const = default;
};

// A smooth picture: red rising to the right, green rising downwards, blue
// falling downwards (strong at the top, weak at the bottom).
inline RgbImage TestPicture(int width, int height) {
  RgbImage image{width, height, {}};
  const int w = std::max(1, width - 1), h = std::max(1, height - 1);
  for (int i = 0; i < width * height; ++i) {
    const int x = i % width, y = i / width;
    image.Pixels.insert(image.Pixels.end(),
                        {std::uint8_t(255 * x / w), std::uint8_t(255 * y / h), std::uint8_t(230 - 190 * y / h)});
  }
  return image;
}

// What a loaded picture holds, as an RgbImage.
inline RgbImage PixelsOf(const qm::Picture& picture) {
  const qm::Bitmap& bitmap = *picture.Handle();
  RgbImage image{bitmap.Width(), bitmap.Height(), {}};
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x)
      for (int c = 2; c >= 0; --c) image.Pixels.push_back(bitmap.Row(y)[3 * x + c]);
  return image;
}

// The values little-endian, `bytes` bytes each.
inline std::string Le(std::initializer_list<std::uint32_t> values, int bytes = 4) {
  std::string out;
  for (std::uint32_t v : values)
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i));
  return out;
}

// A BMP file: file header, a 40-byte info header with the given fields, then
// `extra` (masks or colour table) and the pixel rows as given.
inline std::string BmpFile(std::int32_t width, std::int32_t height, int bits, const std::string& pixels,
                           const std::string& extra = "", std::uint32_t compression = 0) {
  const auto start = static_cast<std::uint32_t>(54 + extra.size()), size = static_cast<std::uint32_t>(pixels.size());
  return "BM" +
         Le({start + size, 0, start, 40, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)}) +
         Le({1, static_cast<std::uint32_t>(bits)}, 2) + Le({compression, size, 2835, 2835, 0, 0}) + extra + pixels;
}

// A 24-bit BMP of the image, bottom-up or top-down.
inline std::string BmpFile(const RgbImage& image, bool topDown = false) {
  std::string rows;
  for (int i = 0; i < image.Height; ++i) {
    const int y = topDown ? i : image.Height - 1 - i;
    for (int x = 0; x < image.Width; ++x)
      rows += {char(image.At(x, y)[2]), char(image.At(x, y)[1]), char(image.At(x, y)[0])};
    rows.resize((rows.size() + 3) / 4 * 4, '\0');
  }
  return BmpFile(image.Width, topDown ? -image.Height : image.Height, 24, rows);
}

// Writes a PNG with libpng in the given format (PNG_FORMAT_RGB, _GRAY,
// _RGBA, ... taking `pixels` in that format).
inline bool WritePng(const std::string& path, int width, int height, png_uint_32 format,
                     const std::vector<std::uint8_t>& pixels, const png_color* colormap = nullptr, int colors = 0) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = format;
  image.colormap_entries = static_cast<png_uint_32>(colors);
  return png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, colormap) != 0;
}

// Decodes a JPEG file with libjpeg-turbo's djpeg (RGB output); an empty
// picture when djpeg fails or warns (it exits with 2 on a warning, such as a
// misplaced restart marker).
inline RgbImage DecodeWithDjpeg(const std::string& jpeg) {
  const std::string ppm = "'" + jpeg + ".ppm'";
  std::istringstream in(Output("djpeg -rgb '" + jpeg + "' 2>/dev/null >" + ppm + " && cat " + ppm + "; rm -f " + ppm));
  RgbImage out;
  std::string magic;
  int maxValue = 0;
  in >> magic >> out.Width >> out.Height >> maxValue;
  in.get();
  out.Pixels.assign(std::istreambuf_iterator<char>(in), {});
  if (magic != "P6" || maxValue != 255 || out.Pixels.size() != 3u * out.Width * out.Height) return {};
  return out;
}

}  // namespace qm::test
