#pragma once
// Text for the canvas: a face found by name through fontconfig, shaped with
// HarfBuzz and drawn unhinted with FreeType's anti-aliasing rasteriser onto a
// Bitmap. Only the face's file depends on the machine: no rendering setting
// of fontconfig, no FREETYPE_PROPERTIES and no locale reaches the pixels.
//
// Faces are kept in a small cache shared by the process (a few faces, a
// bounded number of bytes), behind one lock: FreeType's objects are not
// thread-safe. The cache is never destroyed (a thread may draw text at exit)
// and its lock is taken around fork, so a child finds it whole and unlocked.

#include <cstdint>
#include <string_view>

#include "quillmark/graphics/Canvas.h"

namespace qm {

class Bitmap;

namespace font {

// The largest em size, in pixels, that text is drawn at.
inline constexpr double kMaxSize = 10000;

// Checks that `name` names a face that can be loaded (53 or 5 otherwise) and
// caches it.
void CheckFace(std::string_view name);

// The box of `text` at `size` pixels in the face `name` ("" for the default).
TextExtent Measure(std::string_view name, std::string_view text, double size);

// Draws `text` onto `bitmap` as Canvas::Text does, blending `colour` over the
// pixels by the glyphs' coverage.
void Draw(Bitmap& bitmap, std::string_view name, std::string_view text, double size, double x, double y,
          TextAlign alignment, Rgb colour);

}  // namespace font
}  // namespace qm
