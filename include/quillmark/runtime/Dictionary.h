#pragma once
// qm::Dictionary: Variant keys in insertion order, O(1) Exists / Item / Add.

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/values/Dispatch.h"
#include "quillmark/values/Text.h"
#include "quillmark/values/Variant.h"

namespace qm {

/// The scripting Dictionary: unique keys of any simple type, each with an item,
/// kept in insertion order; keys compare binary (default) or without regard to
/// case (SetCompareMode). Lookups hash, so they cost the same for any count.
class QUILLMARK_EXPORT Dictionary : public Dispatch {
 public:
  Dictionary();  ///< An empty dictionary comparing keys binary.
  /// Copies the pairs; the copy builds its own key index when first needed.
  Dictionary(const Dictionary& other);
  Dictionary& operator=(const Dictionary& other);  ///< Copies the pairs and the compare mode.
  ///@{
  /// Moves the pairs, leaving `other` empty.
  Dictionary(Dictionary&&) noexcept;
  Dictionary& operator=(Dictionary&&) noexcept;
  ~Dictionary() override;
  ///@}

  /// Adds a key; 457 when it is already present.
  void Add(const Variant& Key, Variant Item);
  /// True when Key is present.
  bool Exists(const Variant& Key) const;
  /// Makes room for `count` keys, so that adding them does not rehash.
  void Reserve(std::size_t count);
  /// The item of Key; like the scripting dictionary, reading a missing key adds it with Empty.
  Variant& Item(const Variant& Key);
  /// The item of Key without adding it; 32811 (Element not found) when missing.
  const Variant& Get(const Variant& Key) const;
  /// Renames a key; 32811 when missing, 457 when the new key exists.
  void SetKey(const Variant& OldKey, const Variant& NewKey);
  /// Removes Key and its item; 32811 (Element not found) when missing.
  void Remove(const Variant& Key);
  /// Removes every pair.
  void RemoveAll();
  /// The count of pairs.
  std::int32_t Count() const;
  /// Keys and items as 0-based arrays, in insertion order.
  ///@{
  VariantArray Keys() const;
  VariantArray Items() const;
  ///@}
  /// Only while empty; 5 otherwise.
  void SetCompareMode(CompareMethod mode);
  /// How keys compare (BinaryCompare or TextCompare).
  CompareMethod CompareMode() const;

  std::string ClassName() const override { return "Dictionary"; }

  /// A key and its item.
  struct Entry {
    Variant Key;    ///< The key (a string, number or date).
    Variant Value;  ///< The item.
  };
  ///@{
  /// The pairs in insertion order, for range-based for.
  std::list<Entry>::const_iterator begin() const;
  std::list<Entry>::const_iterator end() const;
  ///@}

  /// Appends a pair whose key is distinct from the keys present, as when
  /// copying another dictionary's pairs, without looking the key up. The key
  /// index is completed on the next keyed access; a repeated key found then
  /// is dropped (the first one stays) and reported as 457.
  void AppendUnique(const Entry& pair);

 protected:
  Variant GetMember(std::string_view name, std::vector<Variant>& args) override;
  void LetMember(std::string_view name, const Variant& value, std::vector<Variant>& args) override;
  Variant CallMember(std::string_view name, std::vector<Variant>& args) override;
  std::vector<Variant> EnumerateMembers() override;

 private:
  std::string HashKey(const Variant& key) const;

  // Indexes the entries appended by AppendUnique (the last ones not yet indexed).
  void CompleteIndex() const;

  // The entries, their index and the compare mode, defined in the library's
  // sources; a dictionary moved from is empty.
  struct Impl;
  Impl& State();
  const Impl& State() const;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
