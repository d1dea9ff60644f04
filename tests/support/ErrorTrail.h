#pragma once
// What a call raises with the trail of procedures it passed through, to
// compare in one line: "number: description @ source" ("0: no error @ "
// when it raises none).

#include <string>

#include "support/ErrorOf.h"

namespace qm::test {

inline std::string Trail(auto&& f) {
  const qm::Error e = RaisedBy(f);
  return std::to_string(e.Number()) + ": " + e.Description() + " @ " + e.Source();
}

// The same with the cause: "number errc: description @ source".
inline std::string ExplainedTrail(auto&& f) {
  const qm::Error e = RaisedBy(f);
  return Explain(e) + " @ " + e.Source();
}

}  // namespace qm::test
