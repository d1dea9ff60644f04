#pragma once
// A picture surface for the tests: it keeps a current position and a draw
// mode the way a real surface does, and records every drawing call as text.

#include <memory>
#include <string>
#include <vector>

#include "quillmark/graphics/DeviceContext.h"
#include "quillmark/graphics/Graphics.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Dispatch.h"

namespace qm::test {

class RecordingSurface : public Dispatch {
 public:
  /// A surface of the given size in pixels (15 twips each) with a pixel buffer behind hdc.
  explicit RecordingSurface(std::int32_t widthPixels = 100, std::int32_t heightPixels = 80)
      : bitmap_(std::make_shared<Bitmap>(widthPixels, heightPixels)),
        context_(std::make_shared<DeviceContext>(bitmap_)),
        width_(widthPixels * 15.0),
        height_(heightPixels * 15.0) {}

  std::vector<std::string> Calls;  // "Line(0, 0, 5, 10, 7, 0)", "Print("ab", False) at (800, 300)", "DrawMode=6"
  double CurrentX = 0, CurrentY = 0;
  std::int32_t DrawMode = 13;
  double CharWidth = 100, LineHeight = 200;  // text extents in the surface's scale

  Bitmap& Pixels() { return *bitmap_; }

 protected:
  Variant GetMember(std::string_view name, std::vector<Variant>& args) override {
    if (SameName(name, "CurrentX")) return CurrentX;
    if (SameName(name, "CurrentY")) return CurrentY;
    if (SameName(name, "DrawMode")) return DrawMode;
    if (SameName(name, "Width")) return width_;
    if (SameName(name, "Height")) return height_;
    if (SameName(name, "hdc")) return Variant(ObjectPtr(context_));
    return Dispatch::GetMember(name, args);
  }
  void LetMember(std::string_view name, const Variant& value, std::vector<Variant>& args) override {
    if (SameName(name, "CurrentX")) CurrentX = CDbl(value);
    else if (SameName(name, "CurrentY")) CurrentY = CDbl(value);
    else if (SameName(name, "DrawMode")) {
      DrawMode = CLng(value);
      Calls.push_back("DrawMode=" + CStr(value));
    } else Dispatch::LetMember(name, value, args);
  }
  Variant CallMember(std::string_view name, std::vector<Variant>& args) override {
    if (SameName(name, "Line")) {
      const std::int32_t flags = CLng(args.at(0));
      double x1 = CDbl(args.at(1)), y1 = CDbl(args.at(2)), x2 = CDbl(args.at(3)), y2 = CDbl(args.at(4));
      if (flags & LineStepFirst) x1 += CurrentX, y1 += CurrentY;
      if (flags & LineStepSecond) x2 += x1, y2 += y1;
      Calls.push_back("Line(" + CStr(flags) + ", " + Text(x1) + ", " + Text(y1) + ", " + Text(x2) + ", " + Text(y2) +
                      ", " + CStr(args.at(5)) + ")");
      CurrentX = x2;
      CurrentY = y2;
      return {};
    }
    if (SameName(name, "Circle")) {
      std::string call = "Circle(";
      for (std::size_t i = 0; i < args.size(); ++i) call += (i ? ", " : "") + CStr(args[i]);
      Calls.push_back(call + ")");
      return {};
    }
    if (SameName(name, "TextWidth")) return CharWidth * static_cast<double>(CStr(args.at(0)).size());
    if (SameName(name, "TextHeight")) return LineHeight;
    if (SameName(name, "Print")) {
      const std::string text = CStr(args.at(0));
      const bool newLine = CBool(args.at(1));
      Calls.push_back("Print(\"" + text + "\", " + CStr(args.at(1)) + ") at (" + Text(CurrentX) + ", " +
                      Text(CurrentY) + ")");
      if (newLine) {
        CurrentX = 0;
        CurrentY += LineHeight;
      } else {
        CurrentX += CharWidth * static_cast<double>(text.size());
      }
      return {};
    }
    return Dispatch::CallMember(name, args);
  }

 private:
  static std::string Text(double v) { return FormatGeneral(v); }

  std::shared_ptr<Bitmap> bitmap_;
  std::shared_ptr<DeviceContext> context_;
  double width_, height_;
};

}  // namespace qm::test
