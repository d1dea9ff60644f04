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

template <>
struct VariantTraits<Variant> {
  static Variant To(const Variant& v) { return v; }
  static Variant From(const Variant& v) { return v; }
};
template <>
struct VariantTraits<std::string> {
  static Variant To(const std::string& v) { return v; }
  static std::string From(const Variant& v) { return CStr(v); }
};
template <>
struct VariantTraits<std::int32_t> {
  static Variant To(std::int32_t v) { return v; }
  static std::int32_t From(const Variant& v) { return CLng(v); }
};
template <>
struct VariantTraits<std::int16_t> {
  static Variant To(std::int16_t v) { return v; }
  static std::int16_t From(const Variant& v) { return CInt(v); }
};
template <>
struct VariantTraits<std::uint8_t> {
  static Variant To(std::uint8_t v) { return v; }
  static std::uint8_t From(const Variant& v) { return CByte(v); }
};
template <>
struct VariantTraits<double> {
  static Variant To(double v) { return v; }
  static double From(const Variant& v) { return CDbl(v); }
};
template <>
struct VariantTraits<float> {
  static Variant To(float v) { return v; }
  static float From(const Variant& v) { return CSng(v); }
};
template <>
struct VariantTraits<bool> {
  static Variant To(bool v) { return v; }
  static bool From(const Variant& v) { return CBool(v); }
};
template <>
struct VariantTraits<Date> {
  static Variant To(Date v) { return v; }
  static Date From(const Variant& v) { return CDate(v); }
};
template <class U>
struct VariantTraits<std::shared_ptr<U>> {
  static Variant To(const std::shared_ptr<U>& v) { return Variant(ObjectPtr(v)); }
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
class QUILLMARK_EXPORT DispatchTable : public Dispatch {
 public:
  class Members {
   public:
    using Getter = std::function<Variant(T&)>;
    using Setter = std::function<void(T&, const Variant&)>;
    using MethodFn = std::function<Variant(T&, std::vector<Variant>&)>;

    Members& Class(std::string name) {
      className_ = std::move(name);
      return *this;
    }
    /// A data member, readable and assignable.
    template <class V>
    Members& Property(std::string name, V T::*member) {
      return Add(std::move(name), [member](T& self) { return VariantTraits<V>::To(self.*member); },
                 [member](T& self, const Variant& v) { self.*member = VariantTraits<V>::From(v); });
    }
    /// A property through a getter and a setter.
    template <class V, class W>
    Members& Property(std::string name, V (T::*getter)() const, void (T::*setter)(W)) {
      using Value = std::remove_cvref_t<W>;
      return Add(std::move(name), [getter](T& self) { return VariantTraits<std::remove_cvref_t<V>>::To((self.*getter)()); },
                 [setter](T& self, const Variant& v) { (self.*setter)(VariantTraits<Value>::From(v)); });
    }
    /// A read-only property: assigning it raises 383.
    template <class V>
    Members& ReadOnly(std::string name, V (T::*getter)() const) {
      return Add(std::move(name), [getter](T& self) { return VariantTraits<std::remove_cvref_t<V>>::To((self.*getter)()); },
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

  std::string ClassName() const override { return Table().className_; }

  /// The declared property names, in declaration order.
  static std::vector<std::string> PropertyNames() {
    std::vector<std::string> names;
    for (const auto& e : Table().entries_)
      if (e.Get) names.push_back(e.Name);
    return names;
  }

 protected:
  Variant GetMember(std::string_view name, std::vector<Variant>& args) override {
    const auto* e = Table().Find(name);
    if (e && e->Get) return e->Get(Self());
    if (e && e->Call) return e->Call(Self(), args);
    return Dispatch::GetMember(name, args);
  }
  void LetMember(std::string_view name, const Variant& value, std::vector<Variant>& args) override {
    const auto* e = Table().Find(name);
    if (e && e->Let) return e->Let(Self(), value);
    if (e && e->Get) Raise(ERR_PropertyReadOnly);
    Dispatch::LetMember(name, value, args);
  }
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
