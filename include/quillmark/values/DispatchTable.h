#pragma once
// qm::DispatchTable<T>: declare a class's properties and methods once and get
// late binding (Get / Let / Call by name) without hand-written accessors.
//
//   class Customer : public qm::DispatchTable<Customer> {
//    public:
//     std::string Name;
//     std::int32_t Id = 0;
//     static void Describe(Members& m) {
//       m.Class("Customer").Property("Name", &Customer::Name).Property("Id", &Customer::Id);
//     }
//   };

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Dispatch.h"

namespace qm {

/// Conversion between Variants and the member types a DispatchTable supports.
template <class T>
struct VariantTraits;

/// Conversion of `Variant` members: the value passes through unchanged; never raises.
template <>
struct VariantTraits<Variant> {
  static Variant To(const Variant& v) { return v; }    ///< The member's value as a Variant.
  static Variant From(const Variant& v) { return v; }  ///< The Variant converted to the member's type.
};
/// Conversion of `std::string` members: To makes a Variant of type String; From converts as CStr does and raises what it raises.
template <>
struct VariantTraits<std::string> {
  static Variant To(const std::string& v) { return v; }          ///< The member's value as a Variant.
  static std::string From(const Variant& v) { return CStr(v); }  ///< The Variant converted to the member's type.
};
/// Conversion of `std::int32_t` members: To makes a Variant of type Long; From converts as CLng does and raises what it raises.
template <>
struct VariantTraits<std::int32_t> {
  static Variant To(std::int32_t v) { return v; }                 ///< The member's value as a Variant.
  static std::int32_t From(const Variant& v) { return CLng(v); }  ///< The Variant converted to the member's type.
};
/// Conversion of `std::int16_t` members: To makes a Variant of type Integer; From converts as CInt does and raises what it raises.
template <>
struct VariantTraits<std::int16_t> {
  static Variant To(std::int16_t v) { return v; }                 ///< The member's value as a Variant.
  static std::int16_t From(const Variant& v) { return CInt(v); }  ///< The Variant converted to the member's type.
};
/// Conversion of `std::uint8_t` members: To makes a Variant of type Byte; From converts as CByte does and raises what it raises.
template <>
struct VariantTraits<std::uint8_t> {
  static Variant To(std::uint8_t v) { return v; }                  ///< The member's value as a Variant.
  static std::uint8_t From(const Variant& v) { return CByte(v); }  ///< The Variant converted to the member's type.
};
/// Conversion of `double` members: To makes a Variant of type Double; From converts as CDbl does and raises what it raises.
template <>
struct VariantTraits<double> {
  static Variant To(double v) { return v; }                 ///< The member's value as a Variant.
  static double From(const Variant& v) { return CDbl(v); }  ///< The Variant converted to the member's type.
};
/// Conversion of `float` members: To makes a Variant of type Single; From converts as CSng does and raises what it raises.
template <>
struct VariantTraits<float> {
  static Variant To(float v) { return v; }                 ///< The member's value as a Variant.
  static float From(const Variant& v) { return CSng(v); }  ///< The Variant converted to the member's type.
};
/// Conversion of `bool` members: To makes a Variant of type Boolean; From converts as CBool does and raises what it raises.
template <>
struct VariantTraits<bool> {
  static Variant To(bool v) { return v; }                  ///< The member's value as a Variant.
  static bool From(const Variant& v) { return CBool(v); }  ///< The Variant converted to the member's type.
};
/// Conversion of `Date` members: To makes a Variant of type Date; From converts as CDate does and raises what it raises.
template <>
struct VariantTraits<Date> {
  static Variant To(Date v) { return v; }                  ///< The member's value as a Variant.
  static Date From(const Variant& v) { return CDate(v); }  ///< The Variant converted to the member's type.
};
/// Conversion of `std::shared_ptr<U>` members: To makes a Variant of type an object; From answers null for Empty and Nothing, raises 13 (Type mismatch) for other types and for objects that are no U.
template <class U>
struct VariantTraits<std::shared_ptr<U>> {
  /// The object as a Variant (Nothing for null).
  static Variant To(const std::shared_ptr<U>& v) { return Variant(ObjectPtr(v)); }
  /// The object held, typed.
  static std::shared_ptr<U> From(const Variant& v) {
    if (v.IsEmpty()) return nullptr;
    if (!v.IsObject()) Raise(ERR_TypeMismatch);
    if (!v.ObjectRef()) return nullptr;
    auto typed = std::dynamic_pointer_cast<U>(v.ObjectRef());
    if (!typed) Raise(ERR_TypeMismatch);
    return typed;
  }
};

template <class T>
/// Late binding for a class T derived from DispatchTable<T>: T lists its
/// properties and methods once in `static void Describe(Members&)`, and Get,
/// Let and Call by name (names compare without regard to case) reach them. The
/// list is built on first use and shared by every object of T.
class QUILLMARK_EXPORT DispatchTable : public Dispatch {
 public:
  /// The list of a class's members that Describe fills in; the calls chain.
  class Members {
   public:
    using Getter = std::function<Variant(T&)>;  ///< Reads a property of an object.
    /// Assigns a property of an object from a Variant (converting it).
    using Setter = std::function<void(T&, const Variant&)>;
    /// Runs a method with its arguments (by reference, so it may assign them).
    using MethodFn = std::function<Variant(T&, std::vector<Variant>&)>;

    /// The class name that ClassName and TypeName answer.
    Members& Class(std::string name) {
      className_ = std::move(name);
      return *this;
    }
    /// A data member, readable and assignable.
    template <class V>
    Members& Property(std::string name, V T::*member) {
      return Add(
          std::move(name), [member](T& self) { return VariantTraits<V>::To(self.*member); },
          [member](T& self, const Variant& v) { self.*member = VariantTraits<V>::From(v); });
    }
    /// A property through a getter and a setter.
    template <class V, class W>
    Members& Property(std::string name, V (T::*getter)() const, void (T::*setter)(W)) {
      using Value = std::remove_cvref_t<W>;
      return Add(
          std::move(name), [getter](T& self) { return VariantTraits<std::remove_cvref_t<V>>::To((self.*getter)()); },
          [setter](T& self, const Variant& v) { (self.*setter)(VariantTraits<Value>::From(v)); });
    }
    /// A read-only property: assigning it raises 383.
    template <class V>
    Members& ReadOnly(std::string name, V (T::*getter)() const) {
      return Add(
          std::move(name), [getter](T& self) { return VariantTraits<std::remove_cvref_t<V>>::To((self.*getter)()); },
          nullptr);
    }
    /// A method taking its arguments by reference as Variants.
    Members& Method(std::string name, MethodFn method) {
      entries_.push_back({std::move(name), nullptr, nullptr, std::move(method)});
      return *this;
    }

   private:
    friend class DispatchTable;
    struct Entry {
      std::string Name;
      Getter Get;
      Setter Let;
      MethodFn Call;
    };
    Members& Add(std::string name, Getter get, Setter let) {
      entries_.push_back({std::move(name), std::move(get), std::move(let), nullptr});
      return *this;
    }
    const Entry* Find(std::string_view name) const {
      for (const auto& e : entries_)
        if (SameName(e.Name, name)) return &e;
      return nullptr;
    }
    std::string className_ = "Object";
    std::vector<Entry> entries_;
  };

  /// The name given to Members::Class in Describe ("Object" when none was given).
  std::string ClassName() const override { return Table().className_; }

  /// The declared property names, in declaration order.
  static std::vector<std::string> PropertyNames() {
    std::vector<std::string> names;
    for (const auto& e : Table().entries_)
      if (e.Get) names.push_back(e.Name);
    return names;
  }

 protected:
  /// A declared property's value, or a declared method's result; other names go to
  /// Dispatch (438 when the class has no such member).
  Variant GetMember(std::string_view name, std::vector<Variant>& args) override {
    const auto* e = Table().Find(name);
    if (e && e->Get) return e->Get(Self());
    if (e && e->Call) return e->Call(Self(), args);
    return Dispatch::GetMember(name, args);
  }
  /// Assigns a declared property; raises 383 (read-only) for a property without a
  /// setter; other names go to Dispatch (438).
  void LetMember(std::string_view name, const Variant& value, std::vector<Variant>& args) override {
    const auto* e = Table().Find(name);
    if (e && e->Let) return e->Let(Self(), value);
    if (e && e->Get) Raise(ERR_PropertyReadOnly);
    Dispatch::LetMember(name, value, args);
  }
  /// Calls a declared method (or reads a property when called without
  /// arguments); other names go to Dispatch (438).
  Variant CallMember(std::string_view name, std::vector<Variant>& args) override {
    const auto* e = Table().Find(name);
    if (e && e->Call) return e->Call(Self(), args);
    if (e && e->Get && args.empty()) return e->Get(Self());
    return Dispatch::CallMember(name, args);
  }

 private:
  T& Self() { return static_cast<T&>(*this); }
  // Built once per class on first use and never changed afterwards.
  static const Members& Table() {
    static const Members table = [] {
      Members m;
      T::Describe(m);
      return m;
    }();
    return table;
  }
};

}  // namespace qm
