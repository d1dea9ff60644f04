#pragma once
// PictureSurface: a picture surface on a QImage, and PictureBox, a widget that
// shows one. Everything Graphics draws goes through the members below, by
// name or directly; coordinates are twips (1/1440 inch), converted with the
// screen's twips per pixel.
//
//   Line(Flags, X1, Y1, X2, Y2[, Color])  line, box (Flags 4) or filled box
//                                         (4 + 8); 1 and 2 make the first point
//                                         relative to the current position and
//                                         the second relative to the first; the
//                                         current position moves to (X2, Y2)
//   Circle(Flags, X, Y, Radius[, Color, Start, End, Aspect])
//                                         a circle, ellipse (Aspect = height /
//                                         width) or arc (angles in radians,
//                                         counter-clockwise from 3 o'clock);
//                                         the current position moves to the centre
//   Print(Text[, NewLine])                text in ForeColor with its top left at
//                                         the current position, which then
//                                         follows the text, or with NewLine goes
//                                         to the start of the next line
//   TextWidth(Text), TextHeight(Text)     extent in the surface's font, in twips
//   DrawMode                              13 copy pen (the default), 6 invert,
//                                         7 xor pen, ... (the 16 raster modes);
//                                         it applies to lines, boxes and circles
//   CurrentX, CurrentY, ForeColor, BackColor, FontSize
//   Width, Height                         the size, in twips (read only)
//   hdc                                   a DeviceContext over the pixels
//   Cls                                   clears to BackColor, position to 0, 0
//
// Colours are 0x00BBGGRR. hdc hands out a context whose bitmap holds the
// picture as it is at that moment; what is block-transferred onto it shows on
// the surface from the next call on the surface.

#include <QFont>
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "quillmark/Export.h"
#include "quillmark/values/Dispatch.h"

namespace qm {
class Bitmap;
class DeviceContext;
}  // namespace qm

namespace qm::ui {

/// A picture box's drawing surface over a QImage: lines, boxes, circles and
/// text in twips, reachable by name (late binding) as Graphics draws on it.
class QUILLMARK_EXPORT PictureSurface : public Dispatch {
 public:
  /// A surface of the given size in pixels, filled with BackColor (white).
  /// Starts Qt when needed (fonts need it).
  PictureSurface(std::int32_t widthPixels, std::int32_t heightPixels);
  ///@{
  /// Copies the picture (Qt shares its pixels until one side draws), the
  /// settings and the context handed out by hdc.
  PictureSurface(const PictureSurface& other);
  PictureSurface& operator=(const PictureSurface& other);
  ///@}
  ~PictureSurface() override;

  std::string ClassName() const override { return "PictureBox"; }

  /// A line, a box (Flags 4) or a filled box (4 + 8) from (X1, Y1) to (X2, Y2)
  /// in twips; Flags 1 makes the first point relative to the current position,
  /// 2 the second relative to the first. Color (0x00BBGGRR) defaults to
  /// ForeColor; the current position moves to (X2, Y2).
  void Line(std::int32_t Flags, double X1, double Y1, double X2, double Y2, std::optional<std::int32_t> Color = {});
  /// A circle of Radius twips around (X, Y), an ellipse (Aspect = height /
  /// width) or an arc from Start to End (radians, counter-clockwise from 3
  /// o'clock); Flags 1 makes the centre relative to the current position,
  /// which then moves to the centre.
  void Circle(std::int32_t Flags, double X, double Y, double Radius, std::optional<std::int32_t> Color = {},
              std::optional<double> Start = {}, std::optional<double> End = {}, std::optional<double> Aspect = {});
  /// Text in ForeColor with its top left at the current position, which then
  /// follows the text or, with NewLine, goes to the start of the next line.
  void Print(std::string_view Text, bool NewLine = true);
  /// Width of Text in the surface's font, in twips.
  double TextWidth(std::string_view Text) const;
  /// Height of Text (one line per line of text) in the surface's font, in twips.
  double TextHeight(std::string_view Text) const;
  /// Fills the picture with BackColor and moves the current position to 0, 0.
  void Cls();

  double CurrentX = 0;  ///< The current position across, in twips from the left.
  double CurrentY = 0;  ///< The current position down, in twips from the top.
  /// The raster operation of lines, boxes and circles: 13 copies the pen (the
  /// default), 6 inverts, 7 xors the pen ... (1 to 16).
  std::int32_t DrawMode = 13;
  std::int32_t ForeColor = 0;         ///< The colour of lines and text, 0x00BBGGRR.
  std::int32_t BackColor = 0xFFFFFF;  ///< The colour Cls and a resize fill with, 0x00BBGGRR.

  ///@{
  /// Size in twips.
  double Width() const;
  double Height() const;
  ///@}
  /// A context over a copy of the pixels (see above).
  std::shared_ptr<DeviceContext> hdc();

  /// The picture as drawn so far.
  const QImage& Image();
  /// Writes the picture to an image file (format from the extension: .png,
  /// .bmp, .jpg ...); raises 75 when it cannot be written.
  void SavePicture(const std::string& Filename);
  /// A new size in pixels; the picture is kept at the top left and new
  /// parts are BackColor.
  void Resize(std::int32_t widthPixels, std::int32_t heightPixels);

  QFont Font;  ///< The font of Print, TextWidth and TextHeight (the application's to begin with).
  /// Called after every change of the picture (a widget repaints).
  std::function<void()> Changed;

 protected:
  Variant GetMember(std::string_view name, std::vector<Variant>& args) override;
  void LetMember(std::string_view name, const Variant& value, std::vector<Variant>& args) override;
  Variant CallMember(std::string_view name, std::vector<Variant>& args) override;

 private:
  void TakeBackContext();
  void Touched();
  QPointF ToPixels(double x, double y) const;

  // The pixels, the twips per pixel and the context handed out, defined in
  // the library's sources.
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

/// A widget that shows a PictureSurface of its own size (the picture is kept
/// when the widget grows, as an auto-redrawing picture box does).
class QUILLMARK_EXPORT PictureBox : public QWidget {
 public:
  /// A box whose surface has the widget's size (at least 1 x 1 pixel), filled
  /// with white, and the widget's font.
  explicit PictureBox(QWidget* parent = nullptr);
  /// The surface the box shows; drawing on it repaints the box.
  const std::shared_ptr<PictureSurface>& Surface() const { return surface_; }

 protected:
  /// Draws the part of the surface's picture the event asks for.
  void paintEvent(QPaintEvent* event) override;
  /// Grows the surface with the widget (never shrinks it, so the picture stays).
  void resizeEvent(QResizeEvent* event) override;

 private:
  std::shared_ptr<PictureSurface> surface_;
};

}  // namespace qm::ui
