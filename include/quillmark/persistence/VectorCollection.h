#pragma once

/// @file
/// A std::vector of persistable objects as a collection record, without a
/// hand-written collection class.
///
///     std::vector<std::shared_ptr<Order>> orders = ...;
///     qm::SaveObjects("orders.qms", "Orders", orders);
///     auto loaded = qm::LoadObjects<Order>("orders.qms", "Orders");
///
/// The element type implements qm::IPersistableSimple and can be made empty
/// (`std::make_shared<T>()`); it names, describes and accepts its own records
/// as before. The record is the one QMStream::WriteCollectionSimple writes for
/// any collection of that name, so files stay readable both ways. Several
/// collections go to one file through a QMStream and VectorCollection
/// directly; a shared PersistanceContext then resolves references between
/// them (objects read earlier in the file are found by later ones).

#include <concepts>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/persistence/IPersistable.h"
#include "quillmark/persistence/PersistanceContext.h"
#include "quillmark/persistence/QMStream.h"

namespace qm {

/// An element type VectorCollection can hold.
template <class T>
concept PersistableElement = std::derived_from<T, IPersistableSimple> && std::default_initializable<T>;

/// A collection named `name` whose children are the elements of `Items`,
/// written in `childVersion`. It accepts records of its name in any version.
template <PersistableElement T>
class VectorCollection : public IPersistableCollection {
 public:
  /// A collection named `name` holding `items`, its children written in `childVersion`.
  explicit VectorCollection(std::string name, std::int32_t childVersion = 1, std::vector<std::shared_ptr<T>> items = {})
      : Items(std::move(items)), name_(std::move(name)), childVersion_(childVersion) {}

  /// The elements, in record order.
  std::vector<std::shared_ptr<T>> Items;

  /// The collection's name, whatever the version.
  std::string Name(std::int32_t) override { return name_; }
  /// A new, default-made T.
  IPersistableSimplePtr NewChild(std::int32_t) override { return std::make_shared<T>(); }
  /// Raises 13 (Type mismatch) for a child that is no T.
  void Add(const IPersistableSimplePtr& child, std::int32_t) override { Items.push_back(Element(child)); }
  /// Empties Items.
  void Clear(std::int32_t) override { Items.clear(); }
  /// 9 (Subscript out of range) outside 1 to Count.
  IPersistableSimplePtr Item(std::int32_t index, std::int32_t) override {
    if (index < 1 || static_cast<std::size_t>(index) > Items.size()) Raise(ERR_SubscriptOutOfRange);
    return Items[static_cast<std::size_t>(index) - 1];
  }
  /// The count of Items.
  std::int32_t Count(std::int32_t) override { return static_cast<std::int32_t>(Items.size()); }
  /// True for records of the collection's name (compared exactly), in any version.
  bool Compatible(const std::string& name, std::int32_t) override { return name == name_; }
  /// The childVersion given at construction.
  std::int32_t GetChildVersion(std::int32_t) override { return childVersion_; }

  std::string ClassName() const override { return "VectorCollection"; }

 private:
  static std::shared_ptr<T> Element(const IPersistableSimplePtr& child) {
    auto element = std::dynamic_pointer_cast<T>(child);
    if (!element) Raise(ERR_TypeMismatch);
    return element;
  }

  std::string name_;
  std::int32_t childVersion_;
};

/// Writes `collection` as the only record of `file` (replaced in one step:
/// a failed save leaves the old file), in record version `version`.
QUILLMARK_EXPORT void SaveCollection(const std::filesystem::path& file, const IPersistableCollectionPtr& collection,
                                     std::int32_t version = 1);

/// Fills `collection` anew from the first record of `file`, resolving
/// references through `context` (a fresh one when null). Raises 53 for a
/// missing file, 10005 when the file does not start with a collection record
/// and 10006 when the record's name is not the collection's.
QUILLMARK_EXPORT void LoadCollection(const std::filesystem::path& file, const IPersistableCollectionPtr& collection,
                                     const PersistanceContextPtr& context = nullptr);

/// Saves the objects as the collection `name` (see SaveCollection); each is
/// written in `childVersion`.
template <PersistableElement T>
void SaveObjects(const std::filesystem::path& file, std::string name, const std::vector<std::shared_ptr<T>>& items,
                 std::int32_t childVersion = 1) {
  SaveCollection(file, std::make_shared<VectorCollection<T>>(std::move(name), childVersion, items));
}

/// Loads the objects of the collection `name` (see LoadCollection).
template <PersistableElement T>
std::vector<std::shared_ptr<T>> LoadObjects(const std::filesystem::path& file, std::string name,
                                            const PersistanceContextPtr& context = nullptr) {
  auto collection = std::make_shared<VectorCollection<T>>(std::move(name));
  LoadCollection(file, collection, context);
  return std::move(collection->Items);
}

}  // namespace qm
