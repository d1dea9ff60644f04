#pragma once
// The demo chart: monthly sales as bars, a target line, the data as a
// polyline and as a smooth curve, markers and labels, all drawn with
// Graphics on any picture surface of at least 480 x 240 pixels.

#include "quillmark/values/Dispatch.h"

namespace qm::example {

void DrawDemoChart(Dispatch& picture);

}  // namespace qm::example
