#pragma once
// DispatchTable client classes the property-list records save and load: no
// persistence code of their own, only their member tables. Shared by the
// persistence tests and the persistence fuzz target.

#include <memory>
#include <string>
#include <vector>

#include "quillmark/values/Conversions.h"
#include "quillmark/values/DispatchTable.h"

namespace qm::test {

/// A plain client class with a property of every scalar type, an object
/// property, a read-only one and a method.
class Person : public DispatchTable<Person> {
 public:
  std::string Name;
  std::int32_t Age = 0;
  double Height = 0;
  float Ratio = 0;
  bool Member = false;
  std::int16_t Rank = 0;
  std::uint8_t Code = 0;
  Date Since;
  std::shared_ptr<Person> Friend;
  std::string Badge() const { return "B" + std::to_string(Age); }

  static void Describe(Members& m) {
    m.Class("Person").Property("Name", &Person::Name).Property("Age", &Person::Age);
    m.Property("Height", &Person::Height).Property("Ratio", &Person::Ratio).Property("Member", &Person::Member);
    m.Property("Rank", &Person::Rank).Property("Code", &Person::Code).Property("Since", &Person::Since);
    m.Property("Friend", &Person::Friend).ReadOnly("Badge", &Person::Badge);
    m.Method("Grow", [](Person& p, std::vector<Variant>& a) {
      p.Height += CDbl(a.at(0));
      a.at(0) = Variant(0);  // arguments travel by reference
      return Variant(p.Height);
    });
  }
};

/// A collection reached by name: Count, Remove (1-based index), NewChild, Add and For Each.
class People : public DispatchTable<People> {
 public:
  std::vector<std::shared_ptr<Person>> Items;
  std::int32_t Count() const { return static_cast<std::int32_t>(Items.size()); }

  static void Describe(Members& m) {
    m.Class("People").ReadOnly("Count", &People::Count);
    m.Method("Remove", [](People& p, std::vector<Variant>& a) {
      p.Items.erase(p.Items.begin() + (CLng(a.at(0)) - 1));
      return Variant();
    });
    m.Method("NewChild", [](People&, std::vector<Variant>&) { return Variant(std::make_shared<Person>()); });
    m.Method("Add", [](People& p, std::vector<Variant>& a) {
      p.Items.push_back(std::dynamic_pointer_cast<Person>(a.at(0).ObjectRef()));
      return Variant();
    });
  }

 protected:
  std::vector<Variant> EnumerateMembers() override { return {Items.begin(), Items.end()}; }
};

}  // namespace qm::test
