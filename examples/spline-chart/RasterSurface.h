#pragma once
// A minimal picture surface over a pixel buffer: enough of the members that
// Graphics calls (Line, Circle, DrawMode, CurrentX/Y, Width, Height, hdc) to
// draw charts without a window. Coordinates are twips, 15 to the pixel.

#include <memory>

#include "quillmark/graphics/DeviceContext.h"
#include "quillmark/values/Dispatch.h"

class RasterSurface : public qm::Dispatch {
 public:
  RasterSurface(std::int32_t widthPixels, std::int32_t heightPixels);
  std::string ClassName() const override { return "RasterSurface"; }

 protected:
  qm::Variant GetMember(std::string_view name, std::vector<qm::Variant>& args) override;
  void LetMember(std::string_view name, const qm::Variant& value, std::vector<qm::Variant>& args) override;
  qm::Variant CallMember(std::string_view name, std::vector<qm::Variant>& args) override;

 private:
  void Plot(std::int32_t x, std::int32_t y, std::uint32_t color);
  void DrawSegment(double x1, double y1, double x2, double y2, std::uint32_t color);
  void FillRect(double x1, double y1, double x2, double y2, std::uint32_t color);

  std::shared_ptr<qm::Bitmap> bitmap_;
  std::shared_ptr<qm::DeviceContext> context_;
  double currentX_ = 0, currentY_ = 0;
  std::int32_t drawMode_ = 13;
};
