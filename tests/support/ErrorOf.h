#pragma once
// The number of the qm::Error a call raises, or 0 when it raises none.

#include "quillmark/frame/Error.h"

namespace qm::test {

inline int ErrorOf(auto&& f) {
  try {
    f();
  } catch (const qm::Error& e) {
    return e.Number();
  }
  return 0;
}

}  // namespace qm::test
