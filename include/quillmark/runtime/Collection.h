#pragma once
// qm::Collection: an ordered list with 1-based positions and optional unique
// keys compared without regard to case.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/values/Dispatch.h"
#include "quillmark/values/Variant.h"

namespace qm {

/// The run-time's Collection: items in order, reached by 1-based position or
/// by an optional string key (keys compare without regard to case).
class QUILLMARK_EXPORT Collection : public Dispatch {
 public:
  /// An empty collection.
  Collection();
  ///@{
  /// Copies the items and keys; a collection moved from is empty.
  Collection(const Collection& other);
  Collection& operator=(const Collection& other);
  Collection(Collection&& other) noexcept;
  Collection& operator=(Collection&& other) noexcept;
  ///@}
  ~Collection() override;

  /// Adds Item at the end, or before/after the given position or key.
  /// A key already present raises 457.
  void Add(Variant Item, const std::optional<std::string>& Key = std::nullopt,
           const std::optional<Variant>& Before = std::nullopt, const std::optional<Variant>& After = std::nullopt);
  /// Removes by position (1-based) or key.
  void Remove(const Variant& Index);
  ///@{
  /// Item by position (9 when out of range) or key (5 when unknown).
  Variant& Item(const Variant& Index);
  const Variant& Item(const Variant& Index) const;
  Variant& Item(std::int32_t position);
  const Variant& Item(std::int32_t position) const;
  ///@}
  /// True when an item was added with `key` (case ignored).
  bool ContainsKey(const std::string& key) const;
  /// The count of items.
  std::int32_t Count() const;
  /// Removes every item and key.
  void Clear();

  std::string ClassName() const override { return "Collection"; }

  /// An item and its key (empty when it was added without one).
  struct Entry {
    Variant Value;    ///< The item.
    std::string Key;  ///< Its key, or empty.
  };
  ///@{
  /// The items in order, for range-based for.
  std::vector<Entry>::const_iterator begin() const;
  std::vector<Entry>::const_iterator end() const;
  ///@}

 protected:
  Variant GetMember(std::string_view name, std::vector<Variant>& args) override;
  Variant CallMember(std::string_view name, std::vector<Variant>& args) override;
  std::vector<Variant> EnumerateMembers() override;

 private:
  std::size_t CheckedPosition(std::int32_t position) const;
  std::size_t PositionOf(const Variant& index) const;
  void Reindex(std::size_t from);

  // The items and the key index, defined in the library's sources.
  struct Impl;
  Impl& State();
  const Impl& State() const;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
