// Arbitrary text through the record readers: ReadCollectionSimple (with
// FindNextObject and ReadObjectSimple after it) and the property-list
// ReadObject / ReadCollection, and the typed records' ReadRecords, flat and
// nested (member collections, optional fields, a type holding a vector of
// itself). Every failure must be a qm::Error.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "persistence/PropertyClients.h"
#include "quillmark/errors/Error.h"
#include "quillmark/persistence/QMStream.h"
#include "quillmark/persistence/RecordStream.h"

namespace {

using qm::Variant;
using qm::test::People;
using qm::test::Person;

// Accepts any record; has a field of every type, hears about unknown ones
// and registers itself under its string field.
class Thing : public qm::IPersistableSimple, public qm::IPersistableReference, public qm::IPersistableHdleUnknown {
 public:
  qm::ScalarFieldsPtr GetScalarFields(std::int32_t) override {
    auto f = std::make_shared<qm::ScalarFields>();
    f->AddDetails("S", qm::ST_String, Variant(""));
    f->AddDetails("I", qm::ST_Integer, Variant(std::int32_t{0}));
    f->AddDetails("F", qm::ST_FloatingPoint, Variant(0.0));
    f->AddDetails("D", qm::ST_DateTime, Variant(qm::Date{}));
    f->AddDetails("B", qm::ST_Boolean, Variant(false));
    f->AddDetails("R", qm::ST_Reference, Variant())->SetReferenceClass("Thing");
    f->AddDetails("X", static_cast<qm::ScalarTypeConstants>(7), Variant());
    return f;
  }
  void SetScalarFields(std::int32_t, const qm::ScalarFieldsPtr& f) override { key_ = qm::CStr(f->Item(1)->Value()); }
  std::string Name(std::int32_t) override { return "Thing"; }
  bool Compatible(const std::string&, std::int32_t) override { return true; }
  std::string ReferenceClass(std::int32_t) override { return "Thing"; }
  std::string Key(std::int32_t) override { return key_; }
  void SetUnknownField(std::int32_t, const std::string&, const Variant&) override {}

 private:
  std::string key_;
};

class Things : public qm::IPersistableCollection {
 public:
  std::vector<qm::IPersistableSimplePtr> Items;
  std::string Name(std::int32_t) override { return "Things"; }
  qm::IPersistableSimplePtr NewChild(std::int32_t) override { return std::make_shared<Thing>(); }
  void Add(const qm::IPersistableSimplePtr& child, std::int32_t) override { Items.push_back(child); }
  void Clear(std::int32_t) override { Items.clear(); }
  qm::IPersistableSimplePtr Item(std::int32_t index, std::int32_t) override { return Items.at(index - 1); }
  std::int32_t Count(std::int32_t) override { return static_cast<std::int32_t>(Items.size()); }
  bool Compatible(const std::string&, std::int32_t) override { return true; }
};

// A typed record with a field of every type.
struct TypedThing {
  std::int32_t I = 0;
  std::int64_t L = 0;
  double F = 0;
  std::string S;
  bool B = false;
  std::chrono::sys_seconds U{};
  std::chrono::local_seconds W{};
  std::chrono::year_month_day D{};
  static void Describe(qm::RecordType<TypedThing>& r) {
    r.Name("Thing")
        .Version(3)
        .Field("I", &TypedThing::I)
        .Field("L", &TypedThing::L)
        .Field("F", &TypedThing::F)
        .Field("S", &TypedThing::S)
        .Field("B", &TypedThing::B)
        .Field("U", &TypedThing::U)
        .Field("W", &TypedThing::W)
        .Field("D", &TypedThing::D);
  }
};

// Typed records nested three levels, with optional fields, and a tree.
struct TypedGroup {
  std::optional<std::int32_t> Size;
  std::vector<TypedThing> Things;
  static void Describe(qm::RecordType<TypedGroup>& r) {
    r.Name("Group").Field("Size", &TypedGroup::Size).Field("Things", &TypedGroup::Things);
  }
};

struct TypedShelf {
  std::optional<std::string> Label;
  std::optional<std::chrono::sys_seconds> Seen;
  std::vector<TypedGroup> Groups;
  std::vector<TypedThing> Loose;
  static void Describe(qm::RecordType<TypedShelf>& r) {
    r.Name("Shelf")
        .Version(2)
        .Field("Label", &TypedShelf::Label)
        .Field("Seen", &TypedShelf::Seen)
        .Field("Groups", &TypedShelf::Groups)
        .Field("Loose", &TypedShelf::Loose);
  }
};

struct TypedNode {
  std::vector<TypedNode> Children;
  static void Describe(qm::RecordType<TypedNode>& r) { r.Name("Node").Field("Children", &TypedNode::Children); }
};

template <class T>
void ReadTyped(const std::string& text, const std::string& name) {
  qm::QMStream s;
  s.Use(qm::TextStream::FromText(text));
  try {
    qm::ReadRecords<T>(s, name);
  } catch (const qm::Error&) {}
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Keep the settings store and the log away from the user's own.
  const auto home = std::filesystem::temp_directory_path() / ("qm-fuzz-persistence-" + std::to_string(getpid()));
  std::filesystem::create_directories(home);
  setenv("XDG_CONFIG_HOME", home.c_str(), 1);
  setenv("TEMP", home.c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto context = std::make_shared<qm::PersistanceContext>();
  {
    qm::QMStream s;
    s.Use(qm::TextStream::FromText(text));
    auto things = std::make_shared<Things>();
    try {
      s.ReadCollectionSimple(things, true, context);
    } catch (const qm::Error&) {}
    try {
      s.FindNextObject(qm::VariantArray::FromVector({Variant("%Object Skip")}), Variant("%End"));
      s.ReadObjectSimple(std::make_shared<Thing>(), context);
      s.ReadCollectionSimple(things, false, context);
    } catch (const qm::Error&) {}
  }
  {
    const Variant names = qm::VariantArray::FromVector({Variant("Name"), Variant("Age"), Variant("Height"),
                                                        Variant("Ratio"), Variant("Member"), Variant("rank"),
                                                        Variant("Code"), Variant("Since"), Variant("Badge")});
    qm::QMStream s;
    s.Use(qm::TextStream::FromText(text));
    auto person = std::make_shared<Person>();
    auto people = std::make_shared<People>();
    try {
      s.ReadCollection(people, true, names);
      while (!s.AtEndOfStream())
        if (s.ReadObject(person, names) == qm::QMS_ObjectNotFound) s.SkipLine();
    } catch (const qm::Error&) {}
  }
  ReadTyped<TypedThing>(text, "Things");
  ReadTyped<TypedShelf>(text, "Shelves");
  ReadTyped<TypedNode>(text, "Nodes");
  return 0;
}
