#pragma once
// PersistanceContext: the registry that resolves reference fields while a
// file is read. Every referenceable object read is registered under its
// reference class and key; class names and keys compare exactly. The context
// keeps its objects alive until Clear or until it is released.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/persistence/IPersistable.h"
#include "quillmark/values/Object.h"
#include "quillmark/values/Variant.h"

namespace qm {

/// The registry that resolves reference fields while a file is read; it keeps
/// its objects alive until Clear or its release.
class QUILLMARK_EXPORT PersistanceContext : public virtual Object {
 public:
  PersistanceContext();  ///< No class registered.
  ///@{
  /// Copies the registry (the objects are shared); a context moved from is empty.
  PersistanceContext(const PersistanceContext& other);
  PersistanceContext& operator=(const PersistanceContext& other);
  PersistanceContext(PersistanceContext&& other) noexcept;
  PersistanceContext& operator=(PersistanceContext&& other) noexcept;
  ///@}
  ~PersistanceContext() override;

  /// Registers Object under ReferenceClass(Version) and Key(Version): 9999 for
  /// nullptr, 457 when the class already holds the key (the earlier stays).
  void Add(const IPersistableReferencePtr& Object, std::int32_t Version);
  /// The registered object, or nullptr (with a diagnostic log line) when the
  /// class or the key is unknown.
  IPersistableReferencePtr GetReference(const std::string& ReferenceClass, const std::string& Key);
  /// Forgets (and releases) every registered object.
  void Clear();
  /// The registered class names, 0-based, in registration order.
  Variant GetReferenceClasses();
  /// The keys registered in ReferenceClass, 0-based, in registration order;
  /// 9999 when the class is unknown.
  Variant GetReferenceObjects(const std::string& ReferenceClass);

  std::string ClassName() const override { return "PersistanceContext"; }

 private:
  // The classes and their keys, defined in the library's sources; a context
  // moved from starts anew.
  struct Impl;
  Impl& State();
  std::unique_ptr<Impl> impl_;
};

/// A shared reference to a PersistanceContext.
using PersistanceContextPtr = std::shared_ptr<PersistanceContext>;

}  // namespace qm
