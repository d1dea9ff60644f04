#include "quillmark/ui/Layout.h"

#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/platform/Desktop.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Dispatch.h"

namespace qm::ui {
namespace {

using platform::SystemMetric;

std::int32_t Metric(SystemMetric metric) { return platform::Current().Metric(metric); }

// A 32-bit product, raising 6 (Overflow) when it does not fit.
std::int32_t Product(std::int64_t a, std::int64_t b) {
  const std::int64_t product = a * b;
  if (product < INT32_MIN || product > INT32_MAX) Raise(ERR_Overflow);
  return static_cast<std::int32_t>(product);
}

}  // namespace

std::int32_t Layout::PIXEL() {
  QM_FRAME_TRY { return CLng(platform::Current().TwipsPerPixelX()); }
  QM_FRAME_CATCH("Layout", "Public Property Get PIXEL");
}

std::int32_t Layout::LAYOUT_GAP() {
  QM_FRAME_TRY { return Product(4, PIXEL()); }
  QM_FRAME_CATCH("Layout", "Public Property Get LAYOUT_GAP");
}

std::int32_t Layout::LAYOUT_HEIGHT_PAD() {
  QM_FRAME_TRY {
    return Product(Metric(SystemMetric::CaptionHeight) + 2 * Metric(SystemMetric::BorderHeight), PIXEL());
  }
  QM_FRAME_CATCH("Layout", "Public Property Get LAYOUT_HEIGHT_PAD");
}

std::int32_t Layout::LAYOUT_HEIGHT_MENU_PAD() {
  QM_FRAME_TRY {
    return Product(
        Metric(SystemMetric::MenuHeight) + 2 * Metric(SystemMetric::BorderHeight) + Metric(SystemMetric::CaptionHeight),
        PIXEL());
  }
  QM_FRAME_CATCH("Layout", "Public Property Get LAYOUT_HEIGHT_MENU_PAD");
}

Variant Layout::LAYOUT_WIDTH_PAD() {
  QM_FRAME_TRY { return Variant(Product(2 * Metric(SystemMetric::BorderHeight) - 1, PIXEL())); }
  QM_FRAME_CATCH("Layout", "Public Property Get LAYOUT_WIDTH_PAD");
}

void Layout::Extend(const ObjectPtr& Anchor, const ObjectPtr& Child, std::int32_t WidthPad, std::int32_t HeightPad) {
  QM_FRAME_TRY {
    Dispatch& anchor = AsDispatch(Anchor);
    Dispatch& child = AsDispatch(Child);
    const Variant widthGap = Product(LAYOUT_GAP(), WidthPad);
    child.Let("Width", anchor.Get("Width") - (child.Get("Left") - anchor.Get("Left")) - widthGap);
    const Variant heightGap = Product(LAYOUT_GAP(), HeightPad);
    child.Let("Height", anchor.Get("Height") - (child.Get("Top") - anchor.Get("Top")) - heightGap);
  }
  QM_FRAME_CATCH("Layout", "Public Sub Extend", Anchor, Child, WidthPad, HeightPad);
}

void Layout::Under(const ObjectPtr& Anchor, const ObjectPtr& Child, std::int32_t HeightPad) {
  QM_FRAME_TRY {
    Dispatch& anchor = AsDispatch(Anchor);
    Dispatch& child = AsDispatch(Child);
    child.Let("Top", anchor.Get("Top") + anchor.Get("Height") + Variant(Product(LAYOUT_GAP(), HeightPad)));
  }
  QM_FRAME_CATCH("Layout", "Public Sub Under", Anchor, Child, HeightPad);
}

}  // namespace qm::ui
