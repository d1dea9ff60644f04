// PersistanceContext: reference class -> key -> object, in registration order.

#include "quillmark/persistence/PersistanceContext.h"

#include <unordered_map>

#include "frame/PrivateState.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/frame/LibMain.h"

namespace qm {

struct PersistanceContext::Impl {
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
  };
  using Index = std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>>;
  struct RefClass {
    std::string Name;
    Index Keys;  // key -> position in Objects
    std::vector<std::pair<std::string, IPersistableReferencePtr>> Objects;
  };

  RefClass* Find(std::string_view referenceClass) {
    const auto it = classIndex.find(referenceClass);
    return it == classIndex.end() ? nullptr : &classes[it->second];
  }

  Index classIndex;  // class name -> position in classes
  std::vector<RefClass> classes;
};

PersistanceContext::PersistanceContext() : impl_(std::make_unique<Impl>()) {}
PersistanceContext::PersistanceContext(const PersistanceContext& other)
    : Object(other), impl_(frame::CopiedState(other.impl_)) {}
PersistanceContext& PersistanceContext::operator=(const PersistanceContext& other) {
  if (this != &other) impl_ = frame::CopiedState(other.impl_);
  return *this;
}
PersistanceContext::PersistanceContext(PersistanceContext&&) noexcept = default;
PersistanceContext& PersistanceContext::operator=(PersistanceContext&&) noexcept = default;
PersistanceContext::~PersistanceContext() = default;

PersistanceContext::Impl& PersistanceContext::State() { return frame::WritableState(impl_); }

void PersistanceContext::Add(const IPersistableReferencePtr& Object, std::int32_t Version) {
  QM_FRAME_TRY {
    if (!Object) Raise(ERR_General, "Can't add Nothing to a PersistanceContext");
    std::string name = Object->ReferenceClass(Version);
    if (!State().Find(name)) {
      State().classIndex.emplace(name, State().classes.size());
      State().classes.push_back(Impl::RefClass{std::move(name), {}, {}});
    }
    // The object is asked again for its class, as it is for its key.
    Impl::RefClass* refClass = State().Find(Object->ReferenceClass(Version));
    if (!refClass) Raise(ERR_ElementNotFound);  // the object changed its class between the two calls
    std::string key = Object->Key(Version);
    if (refClass->Keys.contains(key)) Raise(ERR_DuplicateKey);
    refClass->Keys.emplace(key, refClass->Objects.size());
    refClass->Objects.emplace_back(std::move(key), Object);
  }
  QM_FRAME_CATCH("PersistanceContext", "Public Sub Add", Object, Version);
}

IPersistableReferencePtr PersistanceContext::GetReference(const std::string& ReferenceClass, const std::string& Key) {
  QM_FRAME_TRY {
    const Impl::RefClass* refClass = State().Find(ReferenceClass);
    if (!refClass) {
      QMWriteLog("Reference Class " + ReferenceClass + " does not exist, trying key " + Key);
      return nullptr;
    }
    const auto it = refClass->Keys.find(Key);
    if (it != refClass->Keys.end()) return refClass->Objects[it->second].second;
    QMWriteLog("Key " + Key + " does not exist in reference class " + ReferenceClass + ", returning Nothing");
    // The list names the registered classes (not the keys), each followed by ", ".
    std::string classes;
    for (const auto& c : State().classes) classes += c.Name + ", ";
    QMWriteLog("Keys are : '" + classes + "'");
    return nullptr;
  }
  QM_FRAME_CATCH("PersistanceContext", "Public Function GetReference", ReferenceClass, Key);
}

void PersistanceContext::Clear() {
  QM_FRAME_TRY {
    State().classIndex.clear();
    State().classes.clear();
  }
  QM_FRAME_CATCH("PersistanceContext", "Public Sub Clear");
}

Variant PersistanceContext::GetReferenceClasses() {
  QM_FRAME_TRY {
    std::vector<Variant> names;
    names.reserve(State().classes.size());
    for (const auto& c : State().classes) names.emplace_back(c.Name);
    return VariantArray::FromVector(std::move(names));
  }
  QM_FRAME_CATCH("PersistanceContext", "Public Function GetReferenceClasses");
}

Variant PersistanceContext::GetReferenceObjects(const std::string& ReferenceClass) {
  QM_FRAME_TRY {
    const Impl::RefClass* refClass = State().Find(ReferenceClass);
    if (!refClass) Raise(ERR_General, errc::not_found, "Reference class " + ReferenceClass + " does not exist.");
    std::vector<Variant> keys;
    keys.reserve(refClass->Objects.size());
    for (const auto& entry : refClass->Objects) keys.emplace_back(entry.first);
    return VariantArray::FromVector(std::move(keys));
  }
  QM_FRAME_CATCH("PersistanceContext", "Public Function GetReferenceObjects", ReferenceClass);
}

}  // namespace qm
