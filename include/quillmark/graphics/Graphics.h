#pragma once
// Graphics: drawing shortcuts on a caller's picture surface, and conversion
// of an image file to JPEG.
//
// A picture surface is any Dispatch object that offers these members by
// name (the library calls nothing else on it):
//
//   Line(Flags, X1, Y1, X2, Y2, Color)   a line, box or filled box; Flags are
//                                        LineFlags; the current position
//                                        moves to (X2, Y2)
//   Circle(Flags, X, Y, Radius, Color[, Start, End, Aspect])
//   DrawMode                             read/write, 32-bit (13 = copy pen)
//   CurrentX, CurrentY                   read/write: the current position
//   TextWidth(Text), TextHeight(Text)    extent of a text in the surface's scale
//   Print(Text, NewLine)                 prints at the current position and
//                                        leaves it after the text, or with
//                                        NewLine True at the start of the next line
//   Width, Height                        read: the size in twips
//   hdc                                  read: a DeviceContext (as an object)
//
// Graphics keeps no state; every method is one frame of module "Graphics".

#include <cstdint>
#include <optional>
#include <string>

#include "quillmark/Export.h"
#include "quillmark/runtime/AlignmentConstants.h"
#include "quillmark/values/Dispatch.h"
#include "quillmark/values/Object.h"
#include "quillmark/values/Variant.h"

namespace qm {

/// Where CopyPictures puts the source picture (bit flags).
enum QMAlignConstants : std::int32_t {
  AlignTopLeft = 0,
  AlignLeft = 0,
  AlignRight = 1,
  AlignTop = 0,
  AlignBottom = 2,
};

/// The platform's DrawModeConstants that the defaults use.
enum DrawModeConstants : std::int32_t {
  vbInvert = 6,
  vbCopyPen = 13,
};

/// The Flags argument of a surface's Line and Circle members.
enum LineFlags : std::int32_t {
  LineSegment = 0,
  LineStepFirst = 1,   // the first point is relative to the current position
  LineStepSecond = 2,  // the second point is relative to the first
  LineBox = 4,         // an outlined rectangle with the two points as corners
  LineFill = 8,        // with LineBox: filled in the line's colour
};

/// Drawing shortcuts on a caller's picture surface (any Dispatch object with
/// the members listed in the file's notes), and conversion of an image file to JPEG.
class QUILLMARK_EXPORT Graphics : public Object {
 public:
  /// A line in the given draw mode; the picture's DrawMode is restored.
  void Line2(Dispatch& Picture, const Variant& X1, const Variant& Y1, const Variant& X2, const Variant& Y2,
             const Variant& Color = Variant(std::int32_t{0}), std::int32_t DrawMode = vbCopyPen);
  /// An outlined rectangle; the DrawMode is not touched.
  void Box(Dispatch& Picture, const Variant& X1, const Variant& Y1, const Variant& X2, const Variant& Y2,
           const Variant& Color = Variant(std::int32_t{0}));
  /// A filled rectangle in the given draw mode; the picture's DrawMode is restored.
  void BoxFill(Dispatch& Picture, const Variant& X1, const Variant& Y1, const Variant& X2, const Variant& Y2,
               const Variant& Color = Variant(std::int32_t{0}), std::int32_t DrawMode = vbCopyPen);
  /// A circle centred at (x, y).
  void Circle2(Dispatch& Picture, const Variant& x, const Variant& y, const Variant& Radius,
               const Variant& Color = Variant(std::int32_t{0}));

  ///@{
  /// Prints sText at (x, y) (each when given) aligned left, right or centred
  /// on x; with BaseCoords, y is the bottom of the text. FillBehind paints a
  /// white box under the text first. Text leaves the current position after
  /// the text, TextCR at the start of the next line.
  void Text(Dispatch& Picture, const std::string& sText, const Variant& FillBehind = Variant(true),
            const std::optional<Variant>& x = std::nullopt, const std::optional<Variant>& y = std::nullopt,
            bool BaseCoords = false, std::int32_t Alignment = vbLeftJustify);
  void TextCR(Dispatch& Picture, const std::string& sText, const Variant& FillBehind = Variant(true),
              const std::optional<Variant>& x = std::nullopt, const std::optional<Variant>& y = std::nullopt,
              bool BaseCoords = false, std::int32_t Alignment = vbLeftJustify);
  ///@}

  ///@{
  /// A polyline through YValues(Offset ... Offset + Length - 1), the points
  /// dxStep apart, starting at x = Left + Offset - lower bound. A missing
  /// Offset becomes the lower bound, a missing or too long Length runs to
  /// the upper bound; the caller's variables receive those values. Draws
  /// nothing unless YValues is an array with an upper bound >= 0.
  void Lines(Dispatch& Picture, const Variant& Left, double dxStep, const Variant& YValues, const Variant& Color,
             std::optional<Variant>& Offset, std::optional<Variant>& Length);
  void Lines(Dispatch& Picture, const Variant& Left, double dxStep, const Variant& YValues,
             const Variant& Color = Variant(std::int32_t{0}));
  ///@}

  ///@{
  /// The natural cubic spline through the same range, drawn in ten pieces
  /// per interval, starting at x = Left.
  void LinesSmooth(Dispatch& DestPicBox, const Variant& Left, double XStep, const Variant& YValues,
                   const Variant& Color, std::optional<Variant>& Offset, std::optional<Variant>& Length);
  void LinesSmooth(Dispatch& DestPicBox, const Variant& Left, double XStep, const Variant& YValues,
                   const Variant& Color = Variant(std::int32_t{0}));
  ///@}

  /// Copies the whole source picture onto the destination, at its top left
  /// or against its right and/or bottom edge (Align), clipped to it.
  void CopyPictures(Dispatch& SourcePic, Dispatch& DestPic, std::int32_t Align = AlignTopLeft);

  /// Loads an image file (BMP, GIF, JPEG, PNG, ...) and writes it as a JPEG
  /// file of quality 90. A file that is no picture raises the loader's error
  /// (481 "Invalid picture: ...", 53 ...); writing failures raise 26001.
  void SaveAsJPG(const std::string& Filename, const std::string& JPGFilename);

  std::string ClassName() const override { return "Graphics"; }

 private:
  void PrintText(Dispatch& Picture, const std::string& sText, const Variant& FillBehind,
                 const std::optional<Variant>& x, const std::optional<Variant>& y, bool BaseCoords,
                 std::int32_t Alignment, bool newLine);
};

}  // namespace qm
