#pragma once
// What a call raises: the number of its qm::Error (0 when it raises none),
// the whole error (number 0 and description "no error" when it raises none),
// or "number: description" (with the cause: "number cause: description") to
// compare in one line.

#include <string>

#include "quillmark/errors/Error.h"

namespace qm::test {

inline qm::Error RaisedBy(auto&& f) {
  try {
    f();
  } catch (const qm::Error& e) {
    return e;
  }
  return qm::Error(0, "", "no error");
}

inline int ErrorOf(auto&& f) { return RaisedBy(f).Number(); }

inline std::string Described(auto&& f) {
  const qm::Error e = RaisedBy(f);
  return std::to_string(e.Number()) + ": " + e.Description();
}

inline std::string Explain(const qm::Error& e) {
  return std::to_string(e.Number()) + " " + std::string(ErrcName(e.Errc())) + ": " + e.Description();
}

inline std::string Explained(auto&& f) { return Explain(RaisedBy(f)); }

}  // namespace qm::test
