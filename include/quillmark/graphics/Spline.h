#pragma once
// mdlSpline: smooth curves through equally spaced y values (used by
// Graphics.LinesSmooth).

#include "quillmark/Export.h"
#include "quillmark/values/Dispatch.h"
#include "quillmark/values/Variant.h"

namespace qm::mdlSpline {

/// Draws the natural cubic spline through YValues(0 ... ubound) onto the
/// picture surface: the first point at x = Left, the points XStep apart.
/// A zero-length line marks the first point, then each interval is drawn as
/// ten straight pieces, all through the surface's `Line` member in Color:
/// n values give 1 + 10 * (n - 1) lines, an empty array none. More than 32767
/// values raise 6 (Overflow).
QUILLMARK_EXPORT void DrawCurve(Dispatch& surface, Variant Left, Variant XStep, Variant& YValues, Variant& Color);

}  // namespace qm::mdlSpline
