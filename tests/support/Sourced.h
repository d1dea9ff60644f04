#pragma once
// What a call raises as "number: description at source", to compare the
// whole error, with the procedures it passed through, in one assertion.

#include <string>

#include "support/ErrorOf.h"

namespace qm::test {

inline std::string Sourced(auto&& f) {
  const qm::Error e = RaisedBy(f);
  return std::to_string(e.Number()) + ": " + e.Description() + " at " + e.Source();
}

}  // namespace qm::test
