#pragma once
// The four interfaces through which QMStream's simple records reach client
// objects. Each operation takes the version of the record format so that a
// class can describe itself differently per version. The bodies published
// here do nothing (they return nullptr, "", 0 or false); a client class
// derives from the interfaces it implements and overrides them. Whether an
// object "implements" an interface is a dynamic_pointer_cast.

#include <cstdint>
#include <memory>
#include <string>

#include "quillmark/Export.h"
#include "quillmark/persistence/ScalarFields.h"
#include "quillmark/values/Object.h"
#include "quillmark/values/Variant.h"

namespace qm {

/// An object made of scalar fields.
class QUILLMARK_EXPORT IPersistableSimple : public virtual Object {
 public:
  /// Writing: the fields with their current values. Reading: the expected
  /// fields (names, types, reference classes). Must return a list.
  virtual ScalarFieldsPtr GetScalarFields(std::int32_t /*Version*/) { return nullptr; }
  /// Reading: once, after every property of the record was applied to Fields.
  virtual void SetScalarFields(std::int32_t /*Version*/, const ScalarFieldsPtr& /*Fields*/) {}
  /// Writing: the text after "%Object " (called with the signed version).
  virtual std::string Name(std::int32_t /*Version*/) { return {}; }
  /// Reading: false stops the read with error 10006.
  virtual bool Compatible(const std::string& /*Name*/, std::int32_t /*Version*/) { return false; }
};

/// An ordered container of simple objects.
class QUILLMARK_EXPORT IPersistableCollection : public virtual Object {
 public:
  /// Writing: the text after "%Collection " (called with the signed version).
  virtual std::string Name(std::int32_t /*Version*/) { return {}; }
  /// A new, empty child, not yet added.
  virtual std::shared_ptr<IPersistableSimple> NewChild(std::int32_t /*Version*/) { return nullptr; }
  /// Reading: appends a child that was read.
  virtual void Add(const std::shared_ptr<IPersistableSimple>& /*Child*/, std::int32_t /*Version*/) {}
  /// Reading: removes every child before the children are read.
  virtual void Clear(std::int32_t /*Version*/) {}
  /// The child at the 1-based Index.
  virtual std::shared_ptr<IPersistableSimple> Item(std::int32_t /*Index*/, std::int32_t /*Version*/) { return nullptr; }
  /// Writing: the count of children to write.
  virtual std::int32_t Count(std::int32_t /*Version*/) { return 0; }
  /// Reading: false stops the read with error 10006.
  virtual bool Compatible(const std::string& /*Name*/, std::int32_t /*Version*/) { return false; }
  /// Writing: the version in which each child is written.
  virtual std::int32_t GetChildVersion(std::int32_t /*Version*/) { return 0; }
  /// Reading: once, after every child was read.
  virtual void LoadCompleted() {}
};

/// An object other objects may point to by key.
class QUILLMARK_EXPORT IPersistableReference : public virtual Object {
 public:
  /// The class under which the object is registered and looked up.
  virtual std::string ReferenceClass(std::int32_t /*Version*/) { return {}; }
  /// The key, unique within the reference class.
  virtual std::string Key(std::int32_t /*Version*/) { return {}; }
};

/// An object that wants to hear about property lines it has no field for.
class QUILLMARK_EXPORT IPersistableHdleUnknown : public virtual Object {
 public:
  /// FieldValue is the value line's text, trimmed.
  virtual void SetUnknownField(std::int32_t /*Version*/, const std::string& /*FieldName*/,
                               const Variant& /*FieldValue*/) {}
};

/// A shared reference to a simple persistable object.
using IPersistableSimplePtr = std::shared_ptr<IPersistableSimple>;
/// A shared reference to a persistable collection.
using IPersistableCollectionPtr = std::shared_ptr<IPersistableCollection>;
/// A shared reference to a referenceable persistable object.
using IPersistableReferencePtr = std::shared_ptr<IPersistableReference>;

}  // namespace qm
