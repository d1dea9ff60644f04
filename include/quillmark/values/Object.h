#pragma once
// qm::Object: base of every reference-counted library and client object.

#include <memory>
#include <string>

#include "quillmark/Export.h"

namespace qm {

/// The base of every object a Variant can hold (vbObject); late-bound objects
/// derive from Dispatch, which derives from it.
class QUILLMARK_EXPORT Object {
 public:
  virtual ~Object() = default;
  /// The class name that `TypeName` reports for a Variant holding the object.
  virtual std::string ClassName() const { return "Object"; }
};

/// A shared reference to an object; null is the run-time's Nothing.
using ObjectPtr = std::shared_ptr<Object>;

}  // namespace qm
