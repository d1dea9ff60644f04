#include "quillmark/runtime/Collection.h"

#include <unordered_map>

#include "frame/PrivateState.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/values/Conversions.h"

namespace qm {

struct Collection::Impl {
  std::vector<Entry> items;
  std::unordered_map<std::string, std::size_t> keys;  // folded key -> position (0-based)
};

Collection::Collection() : impl_(std::make_unique<Impl>()) {}
Collection::Collection(const Collection& other) : Dispatch(other), impl_(frame::CopiedState(other.impl_)) {}
Collection& Collection::operator=(const Collection& other) {
  if (this != &other) impl_ = frame::CopiedState(other.impl_);
  return *this;
}
Collection::Collection(Collection&& other) noexcept = default;
Collection& Collection::operator=(Collection&& other) noexcept = default;
Collection::~Collection() = default;

// A collection moved from has no state until it is used again.
Collection::Impl& Collection::State() { return frame::WritableState(impl_); }

const Collection::Impl& Collection::State() const { return frame::ReadableState(impl_); }

Variant& Collection::Item(std::int32_t position) { return State().items.at(CheckedPosition(position)).Value; }
const Variant& Collection::Item(std::int32_t position) const {
  return State().items.at(CheckedPosition(position)).Value;
}
std::int32_t Collection::Count() const { return static_cast<std::int32_t>(State().items.size()); }
std::vector<Collection::Entry>::const_iterator Collection::begin() const { return State().items.begin(); }
std::vector<Collection::Entry>::const_iterator Collection::end() const { return State().items.end(); }

std::size_t Collection::CheckedPosition(std::int32_t position) const {
  if (position < 1 || position > Count()) Raise(ERR_SubscriptOutOfRange);
  return static_cast<std::size_t>(position - 1);
}

std::size_t Collection::PositionOf(const Variant& index) const {
  if (index.IsString()) {
    const auto found = State().keys.find(FoldCase(index.String()));
    if (found == State().keys.end()) Raise(ERR_InvalidProcedureCall);
    return found->second;
  }
  return CheckedPosition(CLng(index));
}

void Collection::Reindex(std::size_t from) {
  for (std::size_t i = from; i < State().items.size(); ++i) {
    if (!State().items[i].Key.empty()) State().keys[FoldCase(State().items[i].Key)] = i;
  }
}

void Collection::Add(Variant Item, const std::optional<std::string>& Key, const std::optional<Variant>& Before,
                     const std::optional<Variant>& After) {
  if (Before && After) Raise(ERR_InvalidProcedureCall);
  std::string folded;
  if (Key) {
    folded = FoldCase(*Key);
    if (State().keys.contains(folded)) Raise(ERR_DuplicateKey);
  }
  std::size_t at = State().items.size();
  if (Before) at = PositionOf(*Before);
  if (After) at = PositionOf(*After) + 1;
  State().items.insert(State().items.begin() + static_cast<std::ptrdiff_t>(at),
                       Entry{std::move(Item), Key.value_or("")});
  if (Key) State().keys[folded] = at;
  if (at + 1 < State().items.size()) Reindex(at + 1);
}

void Collection::Remove(const Variant& Index) {
  const std::size_t at = PositionOf(Index);
  if (!State().items[at].Key.empty()) State().keys.erase(FoldCase(State().items[at].Key));
  State().items.erase(State().items.begin() + static_cast<std::ptrdiff_t>(at));
  Reindex(at);
}

Variant& Collection::Item(const Variant& Index) { return State().items[PositionOf(Index)].Value; }
const Variant& Collection::Item(const Variant& Index) const { return State().items[PositionOf(Index)].Value; }

bool Collection::ContainsKey(const std::string& key) const { return State().keys.contains(FoldCase(key)); }

void Collection::Clear() {
  State().items.clear();
  State().keys.clear();
}

Variant Collection::GetMember(std::string_view name, std::vector<Variant>& args) {
  if (SameName(name, "Count")) return Variant(Count());
  if (SameName(name, "Item") && args.size() == 1) return Item(args[0]);
  return Dispatch::GetMember(name, args);
}

Variant Collection::CallMember(std::string_view name, std::vector<Variant>& args) {
  if (SameName(name, "Add") && !args.empty()) {
    std::optional<std::string> key;
    if (args.size() > 1 && !args[1].IsEmpty()) key = CStr(args[1]);
    std::optional<Variant> before, after;
    if (args.size() > 2 && !args[2].IsEmpty()) before = args[2];
    if (args.size() > 3 && !args[3].IsEmpty()) after = args[3];
    Add(args[0], key, before, after);
    return {};
  }
  if (SameName(name, "Remove") && args.size() == 1) {
    Remove(args[0]);
    return {};
  }
  return Dispatch::CallMember(name, args);
}

std::vector<Variant> Collection::EnumerateMembers() {
  std::vector<Variant> values;
  values.reserve(State().items.size());
  for (const auto& e : State().items) values.push_back(e.Value);
  return values;
}

}  // namespace qm
