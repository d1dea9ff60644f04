#include "quillmark/runtime/Dictionary.h"

#include <cstring>
#include <unordered_map>

#include "frame/PrivateState.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/values/Conversions.h"

namespace qm {

// Keys hash to a tagged text: numbers of any numeric type by value (so 1 and
// 1.0 are one key), strings by their text (folded under TextCompare),
// objects by identity.
struct Dictionary::Impl {
  // Entries are mutable so that a const lookup can index (and drop repeated)
  // entries appended by AppendUnique.
  mutable std::list<Entry> entries;
  mutable std::unordered_map<std::string, std::list<Entry>::iterator> index;
  mutable std::size_t pending = 0;  // entries at the end not yet in the index
  CompareMethod mode = BinaryCompare;
};

Dictionary::Dictionary() : impl_(std::make_unique<Impl>()) {}

Dictionary::Dictionary(const Dictionary& other) : Object(other), Dispatch(other), impl_(std::make_unique<Impl>()) {
  impl_->entries = other.State().entries;
  impl_->pending = impl_->entries.size();
  impl_->mode = other.State().mode;
}

Dictionary& Dictionary::operator=(const Dictionary& other) {
  if (this != &other) *this = Dictionary(other);
  return *this;
}

Dictionary::Dictionary(Dictionary&&) noexcept = default;
Dictionary& Dictionary::operator=(Dictionary&&) noexcept = default;
Dictionary::~Dictionary() = default;

Dictionary::Impl& Dictionary::State() { return frame::WritableState(impl_); }

const Dictionary::Impl& Dictionary::State() const { return frame::ReadableState(impl_); }

std::int32_t Dictionary::Count() const { return static_cast<std::int32_t>(State().entries.size()); }
CompareMethod Dictionary::CompareMode() const { return State().mode; }
std::list<Dictionary::Entry>::const_iterator Dictionary::begin() const { return State().entries.cbegin(); }
std::list<Dictionary::Entry>::const_iterator Dictionary::end() const { return State().entries.cend(); }

std::string Dictionary::HashKey(const Variant& key) const {
  if (key.IsString()) {
    std::string h = "s";
    h += State().mode == TextCompare ? FoldCase(key.String()) : key.String();
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

// One lookup: the key's slot is taken first and filled once the entry exists.
void Dictionary::Add(const Variant& Key, Variant Item) {
  CompleteIndex();
  const auto [slot, inserted] = State().index.try_emplace(HashKey(Key));
  if (!inserted) Raise(ERR_DuplicateKey);
  try {
    State().entries.push_back(Entry{Key, std::move(Item)});
  } catch (...) {
    State().index.erase(slot);
    throw;
  }
  slot->second = std::prev(State().entries.end());
}

void Dictionary::Reserve(std::size_t count) { State().index.reserve(count); }

void Dictionary::AppendUnique(const Entry& pair) {
  State().entries.push_back(pair);
  ++State().pending;
}

void Dictionary::CompleteIndex() const {
  if (State().pending == 0) return;
  auto& entries = State().entries;
  auto entry = std::prev(entries.end(), static_cast<std::ptrdiff_t>(State().pending));
  State().pending = 0;
  bool repeated = false;
  while (entry != entries.end()) {
    if (State().index.try_emplace(HashKey(entry->Key), entry).second) {
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
  return State().index.contains(HashKey(Key));
}

Variant& Dictionary::Item(const Variant& Key) {
  CompleteIndex();
  std::string hash = HashKey(Key);
  if (auto found = State().index.find(hash); found != State().index.end()) return found->second->Value;
  State().entries.push_back(Entry{Key, Variant()});
  State().index.emplace(std::move(hash), std::prev(State().entries.end()));
  return State().entries.back().Value;
}

const Variant& Dictionary::Get(const Variant& Key) const {
  CompleteIndex();
  const auto found = State().index.find(HashKey(Key));
  if (found == State().index.end()) Raise(ERR_ElementNotFound);
  return found->second->Value;
}

void Dictionary::SetKey(const Variant& OldKey, const Variant& NewKey) {
  CompleteIndex();
  const auto found = State().index.find(HashKey(OldKey));
  if (found == State().index.end()) Raise(ERR_ElementNotFound);
  std::string newHash = HashKey(NewKey);
  if (State().index.contains(newHash)) Raise(ERR_DuplicateKey);
  auto entry = found->second;
  State().index.erase(found);
  entry->Key = NewKey;
  State().index.emplace(std::move(newHash), entry);
}

void Dictionary::Remove(const Variant& Key) {
  CompleteIndex();
  const auto found = State().index.find(HashKey(Key));
  if (found == State().index.end()) Raise(ERR_ElementNotFound);
  State().entries.erase(found->second);
  State().index.erase(found);
}

void Dictionary::RemoveAll() {
  State().entries.clear();
  State().index.clear();
  State().pending = 0;
}

VariantArray Dictionary::Keys() const {
  std::vector<Variant> keys;
  keys.reserve(State().entries.size());
  for (const auto& e : State().entries) keys.push_back(e.Key);
  return VariantArray::FromVector(std::move(keys));
}

VariantArray Dictionary::Items() const {
  std::vector<Variant> items;
  items.reserve(State().entries.size());
  for (const auto& e : State().entries) items.push_back(e.Value);
  return VariantArray::FromVector(std::move(items));
}

void Dictionary::SetCompareMode(CompareMethod mode) {
  if (!State().entries.empty()) Raise(ERR_InvalidProcedureCall);
  State().mode = mode;
}

Variant Dictionary::GetMember(std::string_view name, std::vector<Variant>& args) {
  if (SameName(name, "Count")) return Variant(Count());
  if (SameName(name, "Item") && args.size() == 1) return Item(args[0]);
  if (SameName(name, "Keys")) return Variant(Keys());
  if (SameName(name, "Items")) return Variant(Items());
  if (SameName(name, "CompareMode")) return Variant(static_cast<std::int32_t>(State().mode));
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
  for (const auto& e : State().entries) keys.push_back(e.Key);
  return keys;
}

}  // namespace qm
