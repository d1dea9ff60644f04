#pragma once

/// @file
/// Typed records: plain structs saved as the simple object and collection
/// records, with no Variant, no version argument and no interface to derive.
///
///     struct Order {
///       std::int64_t Id = 0;
///       std::string Customer;
///       double Amount = 0;
///       bool Paid = false;
///       std::chrono::sys_seconds Placed{};
///
///       static void Describe(qm::RecordType<Order>& r) {
///         r.Name("Order").Version(2)
///             .Field("Id", &Order::Id).Field("Customer", &Order::Customer)
///             .Field("Amount", &Order::Amount).Field("Paid", &Order::Paid)
///             .Field("Placed", &Order::Placed);
///       }
///     };
///
///     qm::SaveRecords("orders.qms", "Orders", orders);        // std::vector<Order>
///     std::vector<Order> back = qm::LoadRecords<Order>("orders.qms", "Orders");
///
/// The file is the record a QMStream writes for a collection of
/// IPersistableSimple objects (`%Collection Orders @1`, the count, then each
/// `%Object Order @2` with its `%Property` lines), so programs built on the
/// published classes read it, and these functions read theirs.
///
/// Field types and their text:
/// | member type | written as |
/// |---|---|
/// | `std::int32_t`, `std::int64_t` | decimal text (an ST_Integer field's text; a 64-bit value beyond 32 bits only typed readers take) |
/// | `double` | the locale-independent number text: 15 significant digits, so a double needing more comes back rounded to 15 |
/// | `std::string` | the text; a CR LF pair becomes `\n` and back |
/// | `bool` | True / False |
/// | `std::chrono::sys_seconds` | the UTC date and time, `yyyy-mm-dd hh:mm:ss`: no time zone is applied, so the same instant comes back on any machine |
/// | `std::chrono::local_seconds` | that wall-clock date and time as given, without a zone (what the published ST_DateTime fields hold) |
/// | `std::chrono::year_month_day` | the date, `yyyy-mm-dd` |
///
/// Dates are whole seconds in the years 1 to 9999.
///
/// Loading: a field missing from a record keeps the value a default-made T
/// has; a property the type does not describe is passed over. A record
/// written in a version from 0 up to the type's version is read.
///
/// Errors (qm::Error):
/// - 9999 when the description is unusable, before anything is written: no
///   `Name` ("The record type has no name: call Name(...) in Describe"), a name
///   with "@", blanks at either end or a line break, a field name that is empty,
///   holds blanks or repeats another (case ignored), or a version below 1;
/// - 5 when a value cannot come back as it was: a string with blanks at either
///   end, a line break other than CR LF, or the two characters `\n`; a date
///   outside the years 1 to 9999;
/// - 10006 when the file's collection or record name is not the one asked for,
///   naming both ("... expected Order, found Invoice @1"), or the record's
///   version is newer than the type's;
/// - 10005 when the file does not start with a collection record, 53 for a
///   missing file, 13 (Type mismatch) or 6 (Overflow) for a field whose text
///   is no value of its type, naming the field.

#include <chrono>
#include <concepts>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "quillmark/Export.h"

namespace qm {

/// A field's value while it crosses into the record layer.
using RecordValue = std::variant<std::int32_t, std::int64_t, double, std::string, bool, std::chrono::sys_seconds,
                                 std::chrono::local_seconds, std::chrono::year_month_day>;

/// A member type a record field may have.
template <class M>
concept RecordFieldType = std::same_as<M, std::int32_t> || std::same_as<M, std::int64_t> || std::same_as<M, double> ||
    std::same_as<M, std::string> || std::same_as<M, bool> || std::same_as<M, std::chrono::sys_seconds> ||
    std::same_as<M, std::chrono::local_seconds> || std::same_as<M, std::chrono::year_month_day>;

/// The description of a record type, without its C++ type: its name, version
/// and fields in record order. Made through RecordType<T>.
class QUILLMARK_EXPORT RecordLayout {
 public:
  /// Reads a field's value from an element.
  using Getter = std::function<RecordValue(const void* element)>;
  /// Stores a field's value into an element.
  using Setter = std::function<void(void* element, RecordValue&& value)>;

  /// One field: its name, the RecordValue alternative it holds, and its accessors.
  struct FieldSpec {
    std::string Name;      ///< the property's name in the record
    std::size_t Kind = 0;  ///< the index of the RecordValue alternative
    Getter Get;            ///< reads the member from an element
    Setter Set;            ///< stores the member into an element
  };

  /// The name after "%Object " (empty until given).
  const std::string& RecordName() const { return name_; }
  /// The version written after " @" (1 unless given).
  std::int32_t RecordVersion() const { return version_; }
  /// The fields, in the order they are written.
  const std::vector<FieldSpec>& Fields() const { return fields_; }

  /// Raises 9999 when the description cannot be saved or loaded (see the file comment).
  void Check() const;

 protected:
  /// Sets the record's name (RecordType::Name).
  void SetName(std::string name) { name_ = std::move(name); }
  /// Sets the record's version (RecordType::Version).
  void SetVersion(std::int32_t version) { version_ = version; }
  /// Appends a field (RecordType::Field).
  void AddField(FieldSpec field) { fields_.push_back(std::move(field)); }

 private:
  std::string name_;
  std::int32_t version_ = 1;
  std::vector<FieldSpec> fields_;
};

/// The description of T's record, filled by T's static Describe.
template <class T>
class RecordType : public RecordLayout {
 public:
  /// The record's name, written after "%Object " and required on loading.
  RecordType& Name(std::string name) {
    SetName(std::move(name));
    return *this;
  }
  /// The record's version (1 by default); records of this version or older load.
  RecordType& Version(std::int32_t version) {
    SetVersion(version);
    return *this;
  }
  /// A field named `name` holding the member.
  template <RecordFieldType M>
  RecordType& Field(std::string name, M T::*member) {
    AddField({std::move(name), RecordValue(std::in_place_type<M>).index(),
              [member](const void* e) { return RecordValue(static_cast<const T*>(e)->*member); },
              [member](void* e, RecordValue&& v) { static_cast<T*>(e)->*member = std::get<M>(std::move(v)); }});
    return *this;
  }
};

/// A type saved as a record: default-constructible, with
/// `static void Describe(qm::RecordType<T>&)`.
template <class T>
concept Record = std::default_initializable<T> && std::movable<T> && requires(RecordType<T>& type) {
  {T::Describe(type)};
};

/// T's description (made once, on first use).
template <Record T>
const RecordType<T>& RecordTypeOf() {
  static const RecordType<T> type = [] {
    RecordType<T> made;
    T::Describe(made);
    return made;
  }();
  return type;
}

/// Elements being read, reached by position; the typed functions hand one to
/// the record reader.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  /// Removes every element.
  virtual void Clear() = 0;
  /// Appends a default-made element.
  virtual void Append() = 0;
  /// The element at `index` (valid until the next Append or Clear).
  virtual void* At(std::size_t index) = 0;
};

namespace detail {

template <class T>
class VectorSink final : public RecordSink {
 public:
  explicit VectorSink(std::vector<T>& items) : items_(items) {}
  void Clear() override { items_.clear(); }
  void Append() override { items_.emplace_back(); }
  void* At(std::size_t index) override { return &items_.at(index); }

 private:
  std::vector<T>& items_;
};

/// WriteRecordList as the only record of `file`, replaced in one step.
QUILLMARK_EXPORT void SaveRecordList(const std::filesystem::path& file, const std::string& name,
                                     const RecordLayout& layout, std::size_t count,
                                     const std::function<const void*(std::size_t)>& at);
/// ReadRecordList from the start of `file`.
QUILLMARK_EXPORT void LoadRecordList(const std::filesystem::path& file, const std::string& name,
                                     const RecordLayout& layout, RecordSink& sink);

}  // namespace detail

/// Saves `items` as the collection `name`, the only record of `file`. The
/// file is replaced in one step: a failed save leaves the old file.
template <Record T>
void SaveRecords(const std::filesystem::path& file, const std::string& name, const std::vector<T>& items) {
  detail::SaveRecordList(file, name, RecordTypeOf<T>(), items.size(), [&items](std::size_t i) { return &items[i]; });
}

/// Loads the collection `name` from the start of `file`.
template <Record T>
std::vector<T> LoadRecords(const std::filesystem::path& file, const std::string& name) {
  std::vector<T> items;
  detail::VectorSink<T> sink(items);
  detail::LoadRecordList(file, name, RecordTypeOf<T>(), sink);
  return items;
}

}  // namespace qm
