#include "quillmark/runtime/Dictionary.h"

#include <cstring>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/values/Conversions.h"

namespace qm {

// Keys hash to a tagged text: numbers of any numeric type by value (so 1 and
// 1.0 are one key), strings by their text (folded under TextCompare),
// objects by identity.
std::string Dictionary::HashKey(const Variant& key) const {
  if (key.IsString()) {
    std::string h = "s";
    h += mode_ == TextCompare ? FoldCase(key.String()) : key.String();
    return h;
  }
  if (key.IsObject()) {
    const void* p = key.ObjectRef().get();
    std::string h = "o";
    h.append(reinterpret_cast<const char*>(&p), sizeof p);
    return h;
  }
  if (key.IsEmpty()) return "e";
  if (key.IsNull()) return "z";
  if (key.IsArray()) Raise(ERR_TypeMismatch);
  if (const auto* d = key.GetIf<Date>()) {
    std::string h = "d";
    h.append(reinterpret_cast<const char*>(&d->Serial), sizeof d->Serial);
    return h;
  }
  double value = CDbl(key);
  if (value == 0) value = 0;  // -0 and 0 are one key
  std::string h = "n";
  h.append(reinterpret_cast<const char*>(&value), sizeof value);
  return h;
}

Dictionary::Dictionary(const Dictionary& other)
    : Object(other), Dispatch(other), entries_(other.entries_), pending_(entries_.size()), mode_(other.mode_) {}

Dictionary& Dictionary::operator=(const Dictionary& other) {
  if (this != &other) {
    entries_ = other.entries_;
    index_.clear();
    mode_ = other.mode_;
    pending_ = entries_.size();
  }
  return *this;
}

// One lookup: the key's slot is taken first and filled once the entry exists.
void Dictionary::Add(const Variant& Key, Variant Item) {
  CompleteIndex();
  const auto [slot, inserted] = index_.try_emplace(HashKey(Key));
  if (!inserted) Raise(ERR_DuplicateKey);
  try {
    entries_.push_back(Entry{Key, std::move(Item)});
  } catch (...) {
    index_.erase(slot);
    throw;
  }
  slot->second = std::prev(entries_.end());
}

void Dictionary::Reserve(std::size_t count) { index_.reserve(count); }

void Dictionary::AppendUnique(const Entry& pair) {
  entries_.push_back(pair);
  ++pending_;
}

void Dictionary::CompleteIndex() const {
  if (pending_ == 0) return;
  auto& entries = const_cast<std::list<Entry>&>(entries_);
  auto entry = std::prev(entries.end(), static_cast<std::ptrdiff_t>(pending_));
  pending_ = 0;
  bool repeated = false;
  while (entry != entries.end()) {
    if (index_.try_emplace(HashKey(entry->Key), entry).second) {
      ++entry;
    } else {
      entry = entries.erase(entry);
      repeated = true;
    }
  }
  if (repeated) Raise(ERR_DuplicateKey);
}

bool Dictionary::Exists(const Variant& Key) const {
  CompleteIndex();
  return index_.contains(HashKey(Key));
}

Variant& Dictionary::Item(const Variant& Key) {
  CompleteIndex();
  std::string hash = HashKey(Key);
  if (auto found = index_.find(hash); found != index_.end()) return found->second->Value;
  entries_.push_back(Entry{Key, Variant()});
  index_.emplace(std::move(hash), std::prev(entries_.end()));
  return entries_.back().Value;
}

const Variant& Dictionary::Get(const Variant& Key) const {
  CompleteIndex();
  const auto found = index_.find(HashKey(Key));
  if (found == index_.end()) Raise(ERR_ElementNotFound);
  return found->second->Value;
}

void Dictionary::SetKey(const Variant& OldKey, const Variant& NewKey) {
  CompleteIndex();
  const auto found = index_.find(HashKey(OldKey));
  if (found == index_.end()) Raise(ERR_ElementNotFound);
  std::string newHash = HashKey(NewKey);
  if (index_.contains(newHash)) Raise(ERR_DuplicateKey);
  auto entry = found->second;
  index_.erase(found);
  entry->Key = NewKey;
  index_.emplace(std::move(newHash), entry);
}

void Dictionary::Remove(const Variant& Key) {
  CompleteIndex();
  const auto found = index_.find(HashKey(Key));
  if (found == index_.end()) Raise(ERR_ElementNotFound);
  entries_.erase(found->second);
  index_.erase(found);
}

void Dictionary::RemoveAll() {
  entries_.clear();
  index_.clear();
  pending_ = 0;
}

VariantArray Dictionary::Keys() const {
  std::vector<Variant> keys;
  keys.reserve(entries_.size());
  for (const auto& e : entries_) keys.push_back(e.Key);
  return VariantArray::FromVector(std::move(keys));
}

VariantArray Dictionary::Items() const {
  std::vector<Variant> items;
  items.reserve(entries_.size());
  for (const auto& e : entries_) items.push_back(e.Value);
  return VariantArray::FromVector(std::move(items));
}

void Dictionary::SetCompareMode(CompareMethod mode) {
  if (!entries_.empty()) Raise(ERR_InvalidProcedureCall);
  mode_ = mode;
}

Variant Dictionary::GetMember(std::string_view name, std::vector<Variant>& args) {
  if (SameName(name, "Count")) return Variant(Count());
  if (SameName(name, "Item") && args.size() == 1) return Item(args[0]);
  if (SameName(name, "Keys")) return Variant(Keys());
  if (SameName(name, "Items")) return Variant(Items());
  if (SameName(name, "CompareMode")) return Variant(static_cast<std::int32_t>(mode_));
  return Dispatch::GetMember(name, args);
}

void Dictionary::LetMember(std::string_view name, const Variant& value, std::vector<Variant>& args) {
  if (SameName(name, "Item") && args.size() == 1) {
    Item(args[0]) = value;
    return;
  }
  if (SameName(name, "CompareMode")) {
    SetCompareMode(static_cast<CompareMethod>(CLng(value)));
    return;
  }
  Dispatch::LetMember(name, value, args);
}

Variant Dictionary::CallMember(std::string_view name, std::vector<Variant>& args) {
  if (SameName(name, "Add") && args.size() == 2) {
    Add(args[0], args[1]);
    return {};
  }
  if (SameName(name, "Exists") && args.size() == 1) return Variant(Exists(args[0]));
  if (SameName(name, "Remove") && args.size() == 1) {
    Remove(args[0]);
    return {};
  }
  if (SameName(name, "RemoveAll")) {
    RemoveAll();
    return {};
  }
  return Dispatch::CallMember(name, args);
}

std::vector<Variant> Dictionary::EnumerateMembers() {
  std::vector<Variant> keys;
  for (const auto& e : entries_) keys.push_back(e.Key);
  return keys;
}

}  // namespace qm
