#include "quillmark/runtime/Collection.h"

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/values/Conversions.h"

namespace qm {

std::size_t Collection::CheckedPosition(std::int32_t position) const {
  if (position < 1 || position > Count()) Raise(ERR_SubscriptOutOfRange);
  return static_cast<std::size_t>(position - 1);
}

std::size_t Collection::PositionOf(const Variant& index) const {
  if (index.IsString()) {
    const auto found = keys_.find(FoldCase(index.String()));
    if (found == keys_.end()) Raise(ERR_InvalidProcedureCall);
    return found->second;
  }
  return CheckedPosition(CLng(index));
}

void Collection::Reindex(std::size_t from) {
  for (std::size_t i = from; i < items_.size(); ++i) {
    if (!items_[i].Key.empty()) keys_[FoldCase(items_[i].Key)] = i;
  }
}

void Collection::Add(Variant Item, const std::optional<std::string>& Key, const std::optional<Variant>& Before,
                     const std::optional<Variant>& After) {
  if (Before && After) Raise(ERR_InvalidProcedureCall);
  std::string folded;
  if (Key) {
    folded = FoldCase(*Key);
    if (keys_.contains(folded)) Raise(ERR_DuplicateKey);
  }
  std::size_t at = items_.size();
  if (Before) at = PositionOf(*Before);
  if (After) at = PositionOf(*After) + 1;
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(at), Entry{std::move(Item), Key.value_or("")});
  if (Key) keys_[folded] = at;
  if (at + 1 < items_.size()) Reindex(at + 1);
}

void Collection::Remove(const Variant& Index) {
  const std::size_t at = PositionOf(Index);
  if (!items_[at].Key.empty()) keys_.erase(FoldCase(items_[at].Key));
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(at));
  Reindex(at);
}

Variant& Collection::Item(const Variant& Index) { return items_[PositionOf(Index)].Value; }
const Variant& Collection::Item(const Variant& Index) const { return items_[PositionOf(Index)].Value; }

bool Collection::ContainsKey(const std::string& key) const { return keys_.contains(FoldCase(key)); }

void Collection::Clear() {
  items_.clear();
  keys_.clear();
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
  values.reserve(items_.size());
  for (const auto& e : items_) values.push_back(e.Value);
  return values;
}

}  // namespace qm
