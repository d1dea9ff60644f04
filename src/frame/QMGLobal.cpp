#include "quillmark/frame/QMGLobal.h"

#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Dispatch.h"

namespace qm {

void QMGLobal::Inc(Variant& v, const std::optional<Variant>& i) {
  QM_FRAME_TRY { v = v + (i ? *i : Variant(std::int16_t{1})); }
  QM_FRAME_CATCH("QMGLobal", "Public Sub Inc", v, i);
}

Variant QMGLobal::IsNothing(const std::shared_ptr<Object>& o) {
  QM_FRAME_TRY { return Variant(o == nullptr); }
  QM_FRAME_CATCH("QMGLobal", "Public Function IsNothing", o);
}

std::int32_t QMGLobal::FindListText(const std::shared_ptr<Object>& List, const std::string& ToFind) {
  QM_FRAME_TRY {
    Dispatch& list = AsDispatch(List);
    const std::int32_t count = CLng(list.Get("ListCount"));
    for (std::int32_t i = 0; i < count; ++i) {
      if (CStr(list.Get("List", {Variant(i)})) == ToFind) return i;
    }
    return -1;
  }
  QM_FRAME_CATCH("QMGLobal", "Public Function FindListText", List, ToFind);
}

std::int32_t QMGLobal::FindListItem(const std::shared_ptr<Object>& List, std::int32_t ToFind) {
  QM_FRAME_TRY {
    Dispatch& list = AsDispatch(List);
    const std::int32_t count = CLng(list.Get("ListCount"));
    for (std::int32_t i = 0; i < count; ++i) {
      if (CLng(list.Get("ItemData", {Variant(i)})) == ToFind) return i;
    }
    return -1;
  }
  QM_FRAME_CATCH("QMGLobal", "Public Function FindListItem", List, ToFind);
}

void QMGLobal::Assert(bool Condition, const std::string& ErrorWhenFalse) {
  QM_FRAME_TRY {
    if (!Condition) Raise(ERR_ASSERTION, ErrorWhenFalse);
  }
  QM_FRAME_CATCH("QMGLobal", "Public Sub Assert", Condition, ErrorWhenFalse);
}

}  // namespace qm
