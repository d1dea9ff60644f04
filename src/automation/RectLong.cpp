#include "quillmark/automation/RectLong.h"

namespace qm {

void RectLong::Describe(Members& m) {
  m.Class("RectLong")
      .Property("Left", &RectLong::Left)
      .Property("Top", &RectLong::Top)
      .Property("Right", &RectLong::Right)
      .Property("Bottom", &RectLong::Bottom);
}

}  // namespace qm
