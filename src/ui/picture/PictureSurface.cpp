#include "quillmark/ui/PictureSurface.h"

#include <QBuffer>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/graphics/DeviceContext.h"
#include "quillmark/platform/Desktop.h"
#include "quillmark/ui/Application.h"
#include "quillmark/utility/AtomicFileWriter.h"
#include "quillmark/values/Conversions.h"

namespace qm::ui {
namespace {

constexpr std::int32_t kStepFirst = 1, kStepSecond = 2, kBox = 4, kFill = 8;

QColor ColorOf(std::int32_t color) {
  const auto c = static_cast<std::uint32_t>(color) & 0xFFFFFFu;
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}

// Sets up a painter for a draw mode; false when the mode draws nothing (Nop).
bool ApplyDrawMode(QPainter& painter, std::int32_t mode, QColor& color) {
  using M = QPainter::CompositionMode;
  M composition = M::CompositionMode_SourceOver;
  switch (mode) {
    case 1: color = Qt::black; break;                                     // blackness
    case 2: composition = M::RasterOp_NotSourceAndNotDestination; break;  // not merge pen
    case 3: composition = M::RasterOp_NotSourceAndDestination; break;     // mask not pen
    case 4: composition = M::RasterOp_NotSource; break;                   // not copy pen
    case 5: composition = M::RasterOp_SourceAndNotDestination; break;     // mask pen not
    case 6: composition = M::RasterOp_NotDestination; break;              // invert
    case 7: composition = M::RasterOp_SourceXorDestination; break;        // xor pen
    case 8: composition = M::RasterOp_NotSourceOrNotDestination; break;   // not mask pen
    case 9: composition = M::RasterOp_SourceAndDestination; break;        // mask pen
    case 10: composition = M::RasterOp_NotSourceXorDestination; break;    // not xor pen
    case 11: return false;                                                // nop
    case 12: composition = M::RasterOp_NotSourceOrDestination; break;     // merge not pen
    case 14: composition = M::RasterOp_SourceOrNotDestination; break;     // merge pen not
    case 15: composition = M::RasterOp_SourceOrDestination; break;        // merge pen
    case 16: color = Qt::white; break;                                    // whiteness
    default: break;                                                       // 13 copy pen
  }
  painter.setCompositionMode(composition);
  return true;
}

std::optional<double> OptionalDouble(const std::vector<Variant>& args, std::size_t i) {
  if (i >= args.size() || args[i].IsEmpty()) return std::nullopt;
  return CDbl(args[i]);
}

std::optional<std::int32_t> OptionalColor(const std::vector<Variant>& args, std::size_t i) {
  if (i >= args.size() || args[i].IsEmpty()) return std::nullopt;
  return CLng(args[i]);
}

}  // namespace

struct PictureSurface::Impl {
  QImage image;
  double twipsX = 0;
  double twipsY = 0;
  std::shared_ptr<Bitmap> bitmap;  // the pixels behind a handed-out hdc
  std::shared_ptr<DeviceContext> context;
};

// Member by member, as the copy the compiler made did before.
PictureSurface::PictureSurface(const PictureSurface& other)
    : Object(other),
      Dispatch(other),
      CurrentX(other.CurrentX),
      CurrentY(other.CurrentY),
      DrawMode(other.DrawMode),
      ForeColor(other.ForeColor),
      BackColor(other.BackColor),
      Font(other.Font),
      Changed(other.Changed),
      impl_(std::make_unique<Impl>(*other.impl_)) {}

PictureSurface& PictureSurface::operator=(const PictureSurface& other) {
  if (this != &other) {
    impl_ = std::make_unique<Impl>(*other.impl_);
    CurrentX = other.CurrentX;
    CurrentY = other.CurrentY;
    DrawMode = other.DrawMode;
    ForeColor = other.ForeColor;
    BackColor = other.BackColor;
    Font = other.Font;
    Changed = other.Changed;
  }
  return *this;
}

PictureSurface::PictureSurface(std::int32_t widthPixels, std::int32_t heightPixels) : impl_(std::make_unique<Impl>()) {
  if (widthPixels < 1 || heightPixels < 1 || widthPixels > 16384 || heightPixels > 16384)
    Raise(ERR_InvalidProcedureCall);
  EnsureApplication();
  // The member was made before Qt ran (on the first surface), when a QFont
  // has no family and no size yet: it takes the application's font now.
  Font = QGuiApplication::font();
  impl_->twipsX = platform::Current().TwipsPerPixelX();
  impl_->twipsY = platform::Current().TwipsPerPixelY();
  impl_->image = QImage(widthPixels, heightPixels, QImage::Format_RGB32);
  if (impl_->image.isNull()) Raise(ERR_OutOfMemory);
  impl_->image.fill(ColorOf(BackColor));
}

PictureSurface::~PictureSurface() = default;

QPointF PictureSurface::ToPixels(double x, double y) const { return {x / impl_->twipsX, y / impl_->twipsY}; }

double PictureSurface::Width() const { return impl_->image.width() * impl_->twipsX; }
double PictureSurface::Height() const { return impl_->image.height() * impl_->twipsY; }

void PictureSurface::Touched() {
  if (Changed) Changed();
}

// Pixels that were block-transferred onto a handed-out context come back.
void PictureSurface::TakeBackContext() {
  if (!impl_->context) return;
  const Bitmap& bitmap = *impl_->bitmap;
  for (int y = 0; y < impl_->image.height(); ++y) {
    const std::uint8_t* from = bitmap.Row(y);
    auto* to = reinterpret_cast<QRgb*>(impl_->image.scanLine(y));
    for (int x = 0; x < impl_->image.width(); ++x) to[x] = qRgb(from[3 * x + 2], from[3 * x + 1], from[3 * x]);
  }
  impl_->context.reset();
  impl_->bitmap.reset();
}

std::shared_ptr<DeviceContext> PictureSurface::hdc() {
  TakeBackContext();
  impl_->bitmap = std::make_shared<Bitmap>(impl_->image.width(), impl_->image.height());
  for (int y = 0; y < impl_->image.height(); ++y) {
    const auto* from = reinterpret_cast<const QRgb*>(impl_->image.constScanLine(y));
    std::uint8_t* to = impl_->bitmap->Row(y);
    for (int x = 0; x < impl_->image.width(); ++x) {
      to[3 * x] = static_cast<std::uint8_t>(qBlue(from[x]));
      to[3 * x + 1] = static_cast<std::uint8_t>(qGreen(from[x]));
      to[3 * x + 2] = static_cast<std::uint8_t>(qRed(from[x]));
    }
  }
  impl_->context = std::make_shared<DeviceContext>(impl_->bitmap);
  return impl_->context;
}

const QImage& PictureSurface::Image() {
  TakeBackContext();
  return impl_->image;
}

void PictureSurface::Line(std::int32_t Flags, double X1, double Y1, double X2, double Y2,
                          std::optional<std::int32_t> Color) {
  TakeBackContext();
  if (Flags & kStepFirst) X1 += CurrentX, Y1 += CurrentY;
  if (Flags & kStepSecond) X2 += X1, Y2 += Y1;
  QColor color = ColorOf(Color.value_or(ForeColor));
  {
    QPainter painter(&impl_->image);
    if (ApplyDrawMode(painter, DrawMode, color)) {
      const QPointF a = ToPixels(X1, Y1), b = ToPixels(X2, Y2);
      if (Flags & kBox) {
        // Whole pixels between the two corners, both included.
        const QRect box(QPoint(static_cast<int>(std::floor(std::min(a.x(), b.x()))),
                               static_cast<int>(std::floor(std::min(a.y(), b.y())))),
                        QPoint(static_cast<int>(std::floor(std::max(a.x(), b.x()))),
                               static_cast<int>(std::floor(std::max(a.y(), b.y())))));
        if (Flags & kFill) {
          painter.fillRect(box, color);
        } else {
          painter.setPen(QPen(color, 0));
          painter.drawRect(box.adjusted(0, 0, -1, -1).isValid() ? box.adjusted(0, 0, -1, -1) : box);
        }
      } else {
        painter.setPen(QPen(color, 0));
        painter.drawLine(QPointF(std::floor(a.x()), std::floor(a.y())), QPointF(std::floor(b.x()), std::floor(b.y())));
      }
    }
  }
  CurrentX = X2;
  CurrentY = Y2;
  Touched();
}

void PictureSurface::Circle(std::int32_t Flags, double X, double Y, double Radius, std::optional<std::int32_t> Color,
                            std::optional<double> Start, std::optional<double> End, std::optional<double> Aspect) {
  TakeBackContext();
  if (Flags & kStepFirst) X += CurrentX, Y += CurrentY;
  QColor color = ColorOf(Color.value_or(ForeColor));
  {
    QPainter painter(&impl_->image);
    if (ApplyDrawMode(painter, DrawMode, color)) {
      // The radius is the larger of the two half axes.
      const double aspect = Aspect.value_or(1.0);
      double rx = Radius / impl_->twipsX, ry = Radius / impl_->twipsY;
      if (aspect < 1) ry *= aspect;
      else if (aspect > 1) rx /= aspect;
      const QPointF centre = ToPixels(X, Y);
      const QRectF bounds(centre.x() - rx, centre.y() - ry, 2 * rx, 2 * ry);
      painter.setPen(QPen(color, 0));
      if (Start || End) {
        const double from = std::fabs(Start.value_or(0)), to = std::fabs(End.value_or(2 * std::numbers::pi));
        double span = to - from;
        if (span <= 0) span += 2 * std::numbers::pi;
        constexpr double kSixteenthsPerRadian = 180.0 * 16 / std::numbers::pi;
        painter.drawArc(bounds, static_cast<int>(std::lround(from * kSixteenthsPerRadian)),
                        static_cast<int>(std::lround(span * kSixteenthsPerRadian)));
      } else {
        painter.drawEllipse(bounds);
      }
    }
  }
  CurrentX = X;
  CurrentY = Y;
  Touched();
}

double PictureSurface::TextWidth(std::string_view Text) const {
  const QFontMetricsF metrics(Font);
  double widest = 0;
  for (const QString& line :
       QString::fromUtf8(Text.data(), static_cast<qsizetype>(Text.size())).split(QLatin1Char('\n')))
    widest = std::max(widest, std::ceil(metrics.horizontalAdvance(QString(line).remove(QLatin1Char('\r')))));
  return widest * impl_->twipsX;
}

double PictureSurface::TextHeight(std::string_view Text) const {
  const auto lines = static_cast<double>(std::count(Text.begin(), Text.end(), '\n') + 1);
  return lines * std::ceil(QFontMetricsF(Font).height()) * impl_->twipsY;
}

void PictureSurface::Print(std::string_view Text, bool NewLine) {
  TakeBackContext();
  const QStringList lines = QString::fromUtf8(Text.data(), static_cast<qsizetype>(Text.size()))
                                .remove(QLatin1Char('\r'))
                                .split(QLatin1Char('\n'));
  const double lineHeight = TextHeight("");
  const double left = CurrentX;
  {
    QPainter painter(&impl_->image);
    painter.setFont(Font);
    painter.setPen(ColorOf(ForeColor));
    const double ascent = QFontMetricsF(Font).ascent();
    for (qsizetype i = 0; i < lines.size(); ++i) {
      const QPointF at = ToPixels(i == 0 ? CurrentX : left, CurrentY);
      painter.drawText(QPointF(std::floor(at.x()), std::floor(at.y()) + ascent), lines[i]);
      if (i + 1 < lines.size()) CurrentY += lineHeight;
    }
  }
  if (NewLine) {
    CurrentX = 0;
    CurrentY += lineHeight;
  } else {
    CurrentX = (lines.size() > 1 ? left : CurrentX) + TextWidth(lines.back().toStdString());
  }
  Touched();
}

void PictureSurface::Cls() {
  TakeBackContext();
  impl_->image.fill(ColorOf(BackColor));
  CurrentX = CurrentY = 0;
  Touched();
}

void PictureSurface::SavePicture(const std::string& Filename) {
  // Encoded in memory first, then put in place as a whole: a failed or
  // interrupted save leaves an existing picture as it was.
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  const QByteArray format = QFileInfo(QString::fromStdString(Filename)).suffix().toLower().toLatin1();
  if (format.isEmpty() || !Image().save(&buffer, format.constData())) Raise(ERR_PathFileAccess);
  try {
    WriteFileAtomically(Filename, {bytes.constData(), static_cast<std::size_t>(bytes.size())});
  } catch (const Error&) {
    Raise(ERR_PathFileAccess);
  }
}

void PictureSurface::Resize(std::int32_t widthPixels, std::int32_t heightPixels) {
  if (widthPixels < 1 || heightPixels < 1 || widthPixels > 16384 || heightPixels > 16384)
    Raise(ERR_InvalidProcedureCall);
  TakeBackContext();
  QImage resized(widthPixels, heightPixels, QImage::Format_RGB32);
  resized.fill(ColorOf(BackColor));
  QPainter(&resized).drawImage(0, 0, impl_->image);
  impl_->image = std::move(resized);
  Touched();
}

Variant PictureSurface::GetMember(std::string_view name, std::vector<Variant>& args) {
  if (SameName(name, "CurrentX")) return CurrentX;
  if (SameName(name, "CurrentY")) return CurrentY;
  if (SameName(name, "DrawMode")) return DrawMode;
  if (SameName(name, "ForeColor")) return ForeColor;
  if (SameName(name, "BackColor")) return BackColor;
  if (SameName(name, "FontSize")) return Font.pointSizeF();
  if (SameName(name, "Width")) return Width();
  if (SameName(name, "Height")) return Height();
  if (SameName(name, "ScaleWidth")) return Width();
  if (SameName(name, "ScaleHeight")) return Height();
  if (SameName(name, "hdc")) return Variant(ObjectPtr(hdc()));
  return Dispatch::GetMember(name, args);
}

void PictureSurface::LetMember(std::string_view name, const Variant& value, std::vector<Variant>& args) {
  if (SameName(name, "CurrentX")) CurrentX = CDbl(value);
  else if (SameName(name, "CurrentY")) CurrentY = CDbl(value);
  else if (SameName(name, "DrawMode")) DrawMode = CLng(value);
  else if (SameName(name, "ForeColor")) ForeColor = CLng(value);
  else if (SameName(name, "BackColor")) BackColor = CLng(value);
  else if (SameName(name, "FontSize")) Font.setPointSizeF(std::max(1.0, CDbl(value)));
  else if (SameName(name, "Width") || SameName(name, "Height") || SameName(name, "hdc")) Raise(ERR_PropertyReadOnly);
  else Dispatch::LetMember(name, value, args);
}

Variant PictureSurface::CallMember(std::string_view name, std::vector<Variant>& args) {
  if (SameName(name, "Line")) {
    if (args.size() < 5) Raise(ERR_WrongArgumentCount);
    Line(CLng(args[0]), CDbl(args[1]), CDbl(args[2]), CDbl(args[3]), CDbl(args[4]), OptionalColor(args, 5));
    return {};
  }
  if (SameName(name, "Circle")) {
    if (args.size() < 4) Raise(ERR_WrongArgumentCount);
    Circle(CLng(args[0]), CDbl(args[1]), CDbl(args[2]), CDbl(args[3]), OptionalColor(args, 4), OptionalDouble(args, 5),
           OptionalDouble(args, 6), OptionalDouble(args, 7));
    return {};
  }
  if (SameName(name, "Print")) {
    Print(args.empty() ? std::string() : CStr(args[0]), args.size() < 2 || args[1].IsEmpty() || CBool(args[1]));
    return {};
  }
  if (SameName(name, "TextWidth")) return TextWidth(args.empty() ? std::string() : CStr(args[0]));
  if (SameName(name, "TextHeight")) return TextHeight(args.empty() ? std::string() : CStr(args[0]));
  if (SameName(name, "Cls")) {
    Cls();
    return {};
  }
  return Dispatch::CallMember(name, args);
}

PictureBox::PictureBox(QWidget* parent)
    : QWidget(parent), surface_(std::make_shared<PictureSurface>(std::max(1, width()), std::max(1, height()))) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  surface_->Font = font();
  surface_->Changed = [this] { update(); };
}

void PictureBox::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.drawImage(event->rect(), surface_->Image(), event->rect());
}

void PictureBox::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const QSize size = event->size();
  if (size.width() > surface_->Image().width() || size.height() > surface_->Image().height())
    surface_->Resize(std::max(size.width(), surface_->Image().width()),
                     std::max(size.height(), surface_->Image().height()));
}

}  // namespace qm::ui
