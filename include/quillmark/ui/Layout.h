#pragma once
// Layout: a common spacing unit and the sizes of window decorations, in twips,
// and two operations that size or place one control relative to another.
//
// Nothing is kept: every property is computed afresh from the desktop (twips
// per pixel from the screen's logical DPI; caption, frame and menu heights
// from the Qt style) on each read. A global class: no instance is needed.

#include <cstdint>

#include "quillmark/Export.h"
#include "quillmark/values/Object.h"
#include "quillmark/values/Variant.h"

namespace qm::ui {

/// A common spacing unit and the sizes of window decorations in twips, read
/// afresh from the desktop, and operations that size or place one control
/// relative to another.
class QUILLMARK_EXPORT Layout {
 public:
  Layout() = delete;

  /// Twips per pixel (horizontal), rounded half to even: 15 at 96 dpi.
  static std::int32_t PIXEL();
  /// 4 × PIXEL.
  static std::int32_t LAYOUT_GAP();
  /// (caption height + 2 × frame thickness) × PIXEL: outer minus client height.
  static std::int32_t LAYOUT_HEIGHT_PAD();
  /// (menu height + 2 × frame thickness + caption height) × PIXEL.
  static std::int32_t LAYOUT_HEIGHT_MENU_PAD();
  /// (2 × frame thickness − 1) × PIXEL, as a Variant holding a Long.
  static Variant LAYOUT_WIDTH_PAD();

  /// Stretches Child so that its right and bottom edges end WidthPad and
  /// HeightPad gaps inside those of Anchor. Both objects expose Left, Top,
  /// Width and Height by name (438 otherwise); negative pads go outwards.
  static void Extend(const ObjectPtr& Anchor, const ObjectPtr& Child, std::int32_t WidthPad, std::int32_t HeightPad);
  /// Puts Child's top HeightPad gaps below Anchor's bottom edge.
  static void Under(const ObjectPtr& Anchor, const ObjectPtr& Child, std::int32_t HeightPad);
};

}  // namespace qm::ui
