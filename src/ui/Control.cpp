#include "quillmark/ui/Control.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QRectF>
#include <QVariant>
#include <algorithm>
#include <cmath>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/platform/Desktop.h"
#include "quillmark/ui/Layout.h"
#include "quillmark/values/Conversions.h"
#include "ui/QtText.h"

namespace qm::ui {
namespace {

constexpr const char* kTwips = "qmTwips";    // the twips last set
constexpr const char* kPixels = "qmPixels";  // the pixels they became
constexpr const char* kTag = "qmTag";

// Pixel coordinates are kept well inside what a window system accepts.
int ToPixels(double twips, double perPixel) {
  const double pixels = std::round(twips / perPixel);
  return static_cast<int>(std::clamp(pixels, -1.0e6, 1.0e6));
}
int ToPixelSize(double twips, double perPixel) { return std::clamp(ToPixels(twips, perPixel), 0, 32767); }

QRect CurrentPixels(const QWidget& widget) {
  return widget.isWindow() ? QRect(widget.pos(), widget.size()) : widget.geometry();
}

}  // namespace

double TwipsPerPixelX() { return platform::Current().TwipsPerPixelX(); }
double TwipsPerPixelY() { return platform::Current().TwipsPerPixelY(); }

TwipRect GetTwips(const QWidget& widget) {
  const QRect pixels = CurrentPixels(widget);
  if (widget.property(kPixels).toRect() == pixels && widget.property(kTwips).isValid()) {
    const QRectF twips = widget.property(kTwips).toRectF();
    return {twips.x(), twips.y(), twips.width(), twips.height()};
  }
  const double tx = TwipsPerPixelX(), ty = TwipsPerPixelY();
  TwipRect rect{pixels.x() * tx, pixels.y() * ty, pixels.width() * tx, pixels.height() * ty};
  if (widget.isWindow()) {
    rect.Width += CDbl(Layout::LAYOUT_WIDTH_PAD());
    rect.Height += Layout::LAYOUT_HEIGHT_PAD();
  }
  return rect;
}

void SetTwips(QWidget& widget, const TwipRect& rect, bool keepPosition) {
  const double tx = TwipsPerPixelX(), ty = TwipsPerPixelY();
  if (widget.isWindow()) {
    const double width = rect.Width - CDbl(Layout::LAYOUT_WIDTH_PAD());
    const double height = rect.Height - Layout::LAYOUT_HEIGHT_PAD();
    if (!keepPosition) widget.move(ToPixels(rect.Left, tx), ToPixels(rect.Top, ty));
    widget.resize(ToPixelSize(width, tx), ToPixelSize(height, ty));
  } else {
    widget.setGeometry(ToPixels(rect.Left, tx), ToPixels(rect.Top, ty), ToPixelSize(rect.Width, tx),
                       ToPixelSize(rect.Height, ty));
  }
  TwipRect kept = rect;
  if (keepPosition) {
    const TwipRect before = GetTwips(widget);
    kept.Left = before.Left;
    kept.Top = before.Top;
  }
  widget.setProperty(kTwips, QRectF(kept.Left, kept.Top, kept.Width, kept.Height));
  widget.setProperty(kPixels, CurrentPixels(widget));
}

void SetLeft(QWidget& widget, double left) {
  TwipRect r = GetTwips(widget);
  r.Left = left;
  SetTwips(widget, r);
}
void SetTop(QWidget& widget, double top) {
  TwipRect r = GetTwips(widget);
  r.Top = top;
  SetTwips(widget, r);
}
void SetWidth(QWidget& widget, double width) {
  TwipRect r = GetTwips(widget);
  r.Width = width;
  SetTwips(widget, r, true);
}
void SetHeight(QWidget& widget, double height) {
  TwipRect r = GetTwips(widget);
  r.Height = height;
  SetTwips(widget, r, true);
}

double TextWidth(const QWidget& widget, std::string_view text) {
  const QFontMetrics metrics(widget.font());
  int widest = 0;
  for (const QString& line : Q(text).split(QLatin1Char('\n')))
    widest = std::max(widest, metrics.horizontalAdvance(line));
  return widest * TwipsPerPixelX();
}

Control::Control(QWidget* widget) : widget_(widget) {}

std::string Control::ClassName() const { return widget_ ? widget_->metaObject()->className() : "Nothing"; }

QWidget& Control::Alive() const {
  if (!widget_) Raise(ERR_ObjectNotSet);
  return *widget_;
}

Variant Control::GetMember(std::string_view name, std::vector<Variant>& args) {
  QWidget& w = Alive();
  const TwipRect r = GetTwips(w);
  if (SameName(name, "Left")) return r.Left;
  if (SameName(name, "Top")) return r.Top;
  if (SameName(name, "Width")) return r.Width;
  if (SameName(name, "Height")) return r.Height;
  if (SameName(name, "hwnd")) return static_cast<std::int32_t>(w.winId());
  if (SameName(name, "Visible")) return w.isVisible();
  if (SameName(name, "Enabled")) return w.isEnabled();
  if (SameName(name, "Tag")) return w.property(kTag).toString().toStdString();
  if (SameName(name, "Name")) return w.objectName().toStdString();
  if (SameName(name, "Caption") || SameName(name, "Text")) {
    if (w.isWindow()) return w.windowTitle().toStdString();
    if (auto* label = qobject_cast<QLabel*>(&w)) return label->text().toStdString();
    if (auto* button = qobject_cast<QAbstractButton*>(&w)) return button->text().toStdString();
    if (auto* edit = qobject_cast<QLineEdit*>(&w)) return edit->text().toStdString();
  }
  return Dispatch::GetMember(name, args);
}

void Control::LetMember(std::string_view name, const Variant& value, std::vector<Variant>& args) {
  QWidget& w = Alive();
  if (SameName(name, "Left")) return SetLeft(w, CDbl(value));
  if (SameName(name, "Top")) return SetTop(w, CDbl(value));
  if (SameName(name, "Width")) return SetWidth(w, CDbl(value));
  if (SameName(name, "Height")) return SetHeight(w, CDbl(value));
  if (SameName(name, "hwnd") || SameName(name, "Name")) Raise(ERR_PropertyReadOnly);
  if (SameName(name, "Visible")) return w.setVisible(CBool(value));
  if (SameName(name, "Enabled")) return w.setEnabled(CBool(value));
  if (SameName(name, "Tag")) return (void)w.setProperty(kTag, QString::fromStdString(CStr(value)));
  if (SameName(name, "Caption") || SameName(name, "Text")) {
    const QString text = QString::fromStdString(CStr(value));
    if (w.isWindow()) return w.setWindowTitle(text);
    if (auto* label = qobject_cast<QLabel*>(&w)) return label->setText(text);
    if (auto* button = qobject_cast<QAbstractButton*>(&w)) return button->setText(text);
    if (auto* edit = qobject_cast<QLineEdit*>(&w)) return edit->setText(text);
  }
  Dispatch::LetMember(name, value, args);
}

}  // namespace qm::ui
