#include "quillmark/values/Dispatch.h"

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/values/Text.h"

namespace qm {

bool SameName(std::string_view a, std::string_view b) { return EqualsIgnoringCase(a, b); }

Variant Dispatch::Get(std::string_view name, std::vector<Variant> args) { return GetMember(name, args); }

void Dispatch::Let(std::string_view name, const Variant& value, std::vector<Variant> args) {
  LetMember(name, value, args);
}

Variant Dispatch::Call(std::string_view name, std::vector<Variant>& args) { return CallMember(name, args); }

Variant Dispatch::Call(std::string_view name, std::initializer_list<Variant> args) {
  std::vector<Variant> values(args);
  return CallMember(name, values);
}

std::vector<Variant> Dispatch::Enumerate() { return EnumerateMembers(); }

Variant Dispatch::GetMember(std::string_view, std::vector<Variant>&) { Raise(ERR_ObjectDoesntSupport); }

void Dispatch::LetMember(std::string_view, const Variant&, std::vector<Variant>&) { Raise(ERR_ObjectDoesntSupport); }

// A property read with no arguments is also how a late-bound call without
// parentheses reaches a property, so methods fall back on it.
Variant Dispatch::CallMember(std::string_view name, std::vector<Variant>& args) { return GetMember(name, args); }

std::vector<Variant> Dispatch::EnumerateMembers() { Raise(ERR_ObjectDoesntSupport); }

Dispatch& AsDispatch(const ObjectPtr& object) {
  if (!object) Raise(ERR_ObjectNotSet);
  auto* dispatch = dynamic_cast<Dispatch*>(object.get());
  if (!dispatch) Raise(ERR_ObjectDoesntSupport);
  return *dispatch;
}

Dispatch& AsDispatch(const Variant& object) {
  if (!object.IsObject()) Raise(object.IsEmpty() ? ERR_ObjectNotSet : ERR_ObjectDoesntSupport);
  return AsDispatch(object.ObjectRef());
}

Variant CallByName(const Variant& object, std::string_view name, std::vector<Variant> args) {
  return AsDispatch(object).Call(name, args);
}

Variant GetProperty(const Variant& object, std::string_view name, std::vector<Variant> args) {
  return AsDispatch(object).Get(name, std::move(args));
}

void LetProperty(const Variant& object, std::string_view name, const Variant& value, std::vector<Variant> args) {
  AsDispatch(object).Let(name, value, std::move(args));
}

}  // namespace qm
