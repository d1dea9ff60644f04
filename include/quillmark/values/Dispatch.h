#pragma once
// qm::Dispatch: reaching an object's members by name (late binding).
//
// Names match without regard to case. A missing member raises 438 ("Object
// doesn't support this property or method"); assigning a read-only property
// raises 383 ("Property is read-only").

#include <string>
#include <string_view>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/values/Object.h"
#include "quillmark/values/Variant.h"

namespace qm {

/// An object whose members are reached by name at run time (Get, Let, Call),
/// as the run-time's late binding does. Derived classes answer the names they
/// know in GetMember, LetMember and CallMember and pass the rest to the base,
/// which raises 438; DispatchTable<T> writes those three from a list.
class QUILLMARK_EXPORT Dispatch : public virtual Object {
 public:
  /// Reads a property (with optional index arguments).
  Variant Get(std::string_view name, std::vector<Variant> args = {});
  /// Assigns a property.
  void Let(std::string_view name, const Variant& value, std::vector<Variant> args = {});
  ///@{
  /// Calls a method. Arguments are passed by reference: `args` receives what
  /// the method writes back.
  Variant Call(std::string_view name, std::vector<Variant>& args);
  Variant Call(std::string_view name, std::initializer_list<Variant> args = {});
  ///@}
  /// The items of a `For Each` over the object; raises 438 when it has no items
  /// to enumerate.
  std::vector<Variant> Enumerate();

 protected:
  /// Reads `name`; the base raises 438 (Object doesn't support this property or
  /// method). Overrides answer their own names and call the base for others.
  virtual Variant GetMember(std::string_view name, std::vector<Variant>& args);
  /// Assigns `name`; the base raises 438.
  virtual void LetMember(std::string_view name, const Variant& value, std::vector<Variant>& args);
  /// Runs method `name` with `args` (which it may assign); the base raises 438.
  virtual Variant CallMember(std::string_view name, std::vector<Variant>& args);
  /// The items of a `For Each`; the base raises 438.
  virtual std::vector<Variant> EnumerateMembers();
};

/// A shared reference to a late-bound object.
using DispatchPtr = std::shared_ptr<Dispatch>;

/// True when `a` and `b` name the same member (ASCII case-insensitive).
QUILLMARK_EXPORT bool SameName(std::string_view a, std::string_view b);

///@{
/// Late-bound access through a Variant or object pointer: 91 for Nothing or
/// Empty, 438 when the object is not a Dispatch; then as Dispatch's Call, Get
/// and Let.
QUILLMARK_EXPORT Dispatch& AsDispatch(const ObjectPtr& object);
QUILLMARK_EXPORT Dispatch& AsDispatch(const Variant& object);
QUILLMARK_EXPORT Variant CallByName(const Variant& object, std::string_view name, std::vector<Variant> args = {});
QUILLMARK_EXPORT Variant GetProperty(const Variant& object, std::string_view name, std::vector<Variant> args = {});
QUILLMARK_EXPORT void LetProperty(const Variant& object, std::string_view name, const Variant& value,
                                  std::vector<Variant> args = {});
///@}

}  // namespace qm
