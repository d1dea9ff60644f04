#pragma once
// Client classes the persistence tests save and load, and record streams in memory.

#include <functional>
#include <string>
#include <vector>

#include "quillmark/persistence/IPersistable.h"
#include "quillmark/persistence/QMStream.h"
#include "quillmark/persistence/ScalarFields.h"
#include "quillmark/values/Conversions.h"
#include "support/ErrorOf.h"

namespace qm::test {

/// What a call raises, as "number at source" (see ErrorOf.h).
inline std::string Sourced(auto&& f) {
  const Error e = RaisedBy(f);
  return std::to_string(e.Number()) + " at " + e.Source();
}

/// A record stream reading `text`.
inline QMStream Reader(std::string text) {
  QMStream s;
  s.Use(TextStream::FromText(std::move(text)));
  return s;
}

/// A record stream writing into `out`, a fresh text in memory.
inline QMStream Writer(std::shared_ptr<TextStream>& out) {
  out = TextStream::InMemory();
  QMStream s;
  s.Use(out);
  return s;
}

/// An object whose fields are built by a callback; it remembers how the
/// stream called it.
class Thing : public IPersistableSimple {
 public:
  explicit Thing(std::function<void(ScalarFields&)> describe = {}) : describe_(std::move(describe)) {}

  ScalarFieldsPtr GetScalarFields(std::int32_t Version) override {
    FieldsVersion = Version;
    if (NoFields) return nullptr;
    auto fields = std::make_shared<ScalarFields>();
    if (describe_) describe_(*fields);
    return fields;
  }
  void SetScalarFields(std::int32_t Version, const ScalarFieldsPtr& Fields) override {
    SetVersion = Version;
    Received = Fields;
  }
  std::string Name(std::int32_t Version) override {
    NameVersion = Version;
    return Title;
  }
  bool Compatible(const std::string& Name, std::int32_t Version) override {
    SeenName = Name;
    SeenVersion = Version;
    return Accept;
  }
  /// The value read for a field, as text.
  std::string Text(const std::string& name) const { return CStr(Received->ItemName(name)->Value()); }
  /// The header Compatible was asked about: "Name @Version".
  std::string Seen() const { return SeenName + " @" + std::to_string(SeenVersion); }

  std::string Title = "Thing";
  bool Accept = true;
  bool NoFields = false;
  std::int32_t FieldsVersion = -99, SetVersion = -99, NameVersion = -99, SeenVersion = -99;
  std::string SeenName;
  ScalarFieldsPtr Received;

 private:
  std::function<void(ScalarFields&)> describe_;
};

/// A Thing that also hears about unknown fields.
class Listener : public Thing, public IPersistableHdleUnknown {
 public:
  using Thing::Thing;
  void SetUnknownField(std::int32_t Version, const std::string& FieldName, const Variant& FieldValue) override {
    Unknown.push_back(std::to_string(Version) + ":" + FieldName + "=" + CStr(FieldValue));
  }
  std::vector<std::string> Unknown;
};

/// A referenceable object with a key.
class Keyed : public Thing, public IPersistableReference {
 public:
  Keyed(std::string cls, std::string key, std::function<void(ScalarFields&)> describe = {})
      : Thing(std::move(describe)), Class(std::move(cls)), Id(std::move(key)) {}
  std::string ReferenceClass(std::int32_t) override { return Class; }
  std::string Key(std::int32_t) override { return Id; }
  std::string Class, Id;
};

/// A collection of Things.
class Things : public IPersistableCollection {
 public:
  std::string Name(std::int32_t) override { return Title; }
  IPersistableSimplePtr NewChild(std::int32_t Version) override {
    Calls.push_back("NewChild" + std::to_string(Version));
    return Make ? Make() : std::make_shared<Thing>();
  }
  void Add(const IPersistableSimplePtr& Child, std::int32_t) override { Items.push_back(Child); }
  void Clear(std::int32_t Version) override {
    Calls.push_back("Clear" + std::to_string(Version));
    Items.clear();
  }
  IPersistableSimplePtr Item(std::int32_t Index, std::int32_t) override { return Items.at(Index - 1); }
  std::int32_t Count(std::int32_t) override { return static_cast<std::int32_t>(Items.size()); }
  bool Compatible(const std::string& Name, std::int32_t Version) override {
    SeenName = Name;
    SeenVersion = Version;
    return Accept;
  }
  std::int32_t GetChildVersion(std::int32_t) override { return 1; }
  void LoadCompleted() override { Calls.push_back("LoadCompleted"); }
  std::string Seen() const { return SeenName + " @" + std::to_string(SeenVersion); }

  std::string Title = "Things";
  bool Accept = true;
  std::string SeenName;
  std::int32_t SeenVersion = -99;
  std::vector<IPersistableSimplePtr> Items;
  std::vector<std::string> Calls;
  std::function<IPersistableSimplePtr()> Make;
};

}  // namespace qm::test
