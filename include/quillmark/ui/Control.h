#pragma once
// Qt widgets in twips, and as late-bound objects.
//
// Forms and controls of the library keep their positions and sizes in twips
// (1/1440 inch), as the layout arithmetic of the dialogs is written in twips.
// A widget remembers the twips it was given, so that reading them back gives
// exactly what was set (no rounding through pixels) as long as nothing else
// moved or resized it; otherwise its pixel geometry is converted.
// A window's Left/Top are its frame's, its Width/Height the outer size:
// client size plus Layout.LAYOUT_WIDTH_PAD and LAYOUT_HEIGHT_PAD.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <QPointer>
#include <QWidget>

#include "quillmark/Export.h"
#include "quillmark/values/Dispatch.h"

namespace qm::ui {

/// A widget's position and size in twips (1/1440 inch); the position is
/// relative to the parent, or to the screen for a window.
struct QUILLMARK_EXPORT TwipRect {
  double Left = 0;    ///< The left edge, in twips.
  double Top = 0;     ///< The top edge, in twips.
  double Width = 0;   ///< The width, in twips.
  double Height = 0;  ///< The height, in twips.
};

///@{
/// Twips per pixel in both directions (from the screen's logical DPI).
QUILLMARK_EXPORT double TwipsPerPixelX();
QUILLMARK_EXPORT double TwipsPerPixelY();
///@}

/// Position and size of a widget in twips.
QUILLMARK_EXPORT TwipRect GetTwips(const QWidget& widget);
/// Moves and sizes a widget; for a window only the size when `keepPosition`.
QUILLMARK_EXPORT void SetTwips(QWidget& widget, const TwipRect& rect, bool keepPosition = false);
///@{
/// Changes one side of the rectangle, in twips.
QUILLMARK_EXPORT void SetLeft(QWidget& widget, double left);
QUILLMARK_EXPORT void SetTop(QWidget& widget, double top);
QUILLMARK_EXPORT void SetWidth(QWidget& widget, double width);
QUILLMARK_EXPORT void SetHeight(QWidget& widget, double height);
///@}

/// The width of `text` in the widget's font, in twips (whole pixels), the
/// widest line when it has several.
QUILLMARK_EXPORT double TextWidth(const QWidget& widget, std::string_view text);

/// A widget reached by name, like a form's control: `Left`, `Top`, `Width`,
/// `Height` (twips), `hwnd` (the native window id), `Caption`/`Text`,
/// `Visible`, `Enabled`, `Tag`, `Name`. Reading a deleted widget raises 91.
class QUILLMARK_EXPORT Control : public Dispatch {
 public:
  /// A late-bound view of `widget`, which the caller keeps owning; the
  /// control notices when the widget is deleted.
  explicit Control(QWidget* widget);
  /// The widget's Qt class name ("QPushButton", ...); "Nothing" once it was deleted.
  std::string ClassName() const override;
  /// The widget, or null once it was deleted.
  QWidget* Widget() const { return widget_; }

 protected:
  Variant GetMember(std::string_view name, std::vector<Variant>& args) override;
  void LetMember(std::string_view name, const Variant& value, std::vector<Variant>& args) override;

 private:
  QWidget& Alive() const;
  QPointer<QWidget> widget_;
};

}  // namespace qm::ui
