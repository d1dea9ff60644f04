#pragma once
// qm::Object: base of every reference-counted library and client object.

#include <memory>
#include <string>

#include "quillmark/Export.h"

namespace qm {

class QUILLMARK_EXPORT Object {
 public:
  virtual ~Object() = default;
  /// The class name that `TypeName` reports for a Variant holding the object.
  virtual std::string ClassName() const { return "Object"; }
};

using ObjectPtr = std::shared_ptr<Object>;

}  // namespace qm
