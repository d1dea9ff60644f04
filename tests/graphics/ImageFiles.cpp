#include "graphics/ImageFiles.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb_image_write.h>
#pragma GCC diagnostic pop

namespace qm::test {

RgbImage TestPicture(int width, int height) {
  RgbImage image{width, height, std::vector<std::uint8_t>(3 * static_cast<std::size_t>(width) * height)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      auto* p = image.At(x, y);
      p[0] = static_cast<std::uint8_t>(255 * x / std::max(1, width - 1));
      p[1] = static_cast<std::uint8_t>(255 * y / std::max(1, height - 1));
      p[2] = static_cast<std::uint8_t>(230 - 190 * y / std::max(1, height - 1));
    }
  }
  return image;
}

void WriteBmp(const std::string& path, const RgbImage& image) {
  if (!stbi_write_bmp(path.c_str(), image.Width, image.Height, 3, image.Pixels.data()))
    throw std::runtime_error("cannot write " + path);
}

void WritePng(const std::string& path, const RgbImage& image) {
  if (!stbi_write_png(path.c_str(), image.Width, image.Height, 3, image.Pixels.data(), image.Width * 3))
    throw std::runtime_error("cannot write " + path);
}

bool DecodeWithDjpeg(const std::string& jpeg, RgbImage& out) {
  const std::string ppm = jpeg + ".ppm";
  if (std::system(("djpeg -outfile '" + ppm + "' '" + jpeg + "' 2>/dev/null").c_str()) != 0) return false;
  std::ifstream in(ppm, std::ios::binary);
  std::string magic;
  int maxValue = 0;
  in >> magic >> out.Width >> out.Height >> maxValue;
  in.get();
  if (magic != "P6" || maxValue != 255) return false;
  out.Pixels.resize(3 * static_cast<std::size_t>(out.Width) * out.Height);
  in.read(reinterpret_cast<char*>(out.Pixels.data()), static_cast<std::streamsize>(out.Pixels.size()));
  return static_cast<bool>(in);
}

double Psnr(const RgbImage& a, const RgbImage& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.Pixels.size(); ++i) {
    const double d = double(a.Pixels[i]) - double(b.Pixels[i]);
    sum += d * d;
  }
  const double mse = sum / static_cast<double>(a.Pixels.size());
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace qm::test
