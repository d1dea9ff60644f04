#pragma once

/// @file
/// Typed records: plain structs saved as the simple object and collection
/// records, with no Variant, no version argument and no interface to derive.
///
///     struct Reading {
///       double Temp = 0;
///       std::optional<std::string> Note;            // left out of the record when empty
///       static void Describe(qm::RecordType<Reading>& r) {
///         r.Name("Reading").Field("Temp", &Reading::Temp).Field("Note", &Reading::Note);
///       }
///     };
///     struct Day {
///       std::chrono::year_month_day Date{};
///       std::vector<Reading> Readings;             // a member collection
///       static void Describe(qm::RecordType<Day>& r) {
///         r.Name("Day").Version(2).Field("Date", &Day::Date).Field("Readings", &Day::Readings);
///       }
///     };
///
///     qm::SaveRecords("days.qms", "Days", days);        // std::vector<Day>
///     std::vector<Day> back = qm::LoadRecords<Day>("days.qms", "Days");
///
/// The file is the record a QMStream writes for a collection of
/// IPersistableSimple objects (`%Collection Days @1`, the count, then each
/// `%Object Day @2` with its `%Property` lines), so programs built on the
/// published classes read it, and these functions read theirs. A member
/// collection (`std::vector` of another described struct, nested to any depth)
/// follows its element's properties as a collection record of its own, named
/// after the field and indented one level deeper than the element's header:
///
///     %Collection Days @1
///     1
///        %Object Day @2
///           %Property Date
///              2026-12-01
///           %Collection Readings @1
///           2
///              %Object Reading @1
///                 %Property Temp
///                     12.5
///              %Object Reading @1
///                 %Property Temp
///                     13
///                 %Property Note
///                    windy
///
/// A published reader reads it with a ReadCollectionSimple call of its own
/// after each ReadObjectSimple.
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
/// | `std::optional` of one of these | the value; no property at all when empty |
/// | `std::vector<U>`, U a described struct | a collection record after the element's properties |
///
/// Dates are whole seconds in the years 1 to 9999.
///
/// Loading: a field missing from a record keeps the value a default-made T
/// has, except an optional field, which is empty; a property or member
/// collection the type does not describe is passed over. A record written in
/// a version from 0 up to the type's version is read.
///
/// Errors (qm::Error):
/// - 9999 when a description is unusable, before it is used: no `Name` ("The
///   record type has no name: call Name(...) in Describe"), a name with "@",
///   blanks at either end or a line break, a field name that is empty, holds
///   blanks or repeats another (case ignored), or a version below 1;
/// - 5 when a value cannot come back as it was: a string with blanks at either
///   end, a line break other than CR LF, or the two characters `\n`; a date
///   outside the years 1 to 9999;
/// - 6 when records nest deeper than 200 levels;
/// - on loading, each naming the place by its field path, such as
///   `Day[3].Readings[17].Temp` (positions from 0, as in the vectors), and the
///   file: 10006 when a collection or record name is not the one asked for
///   ("... expected Reading, found Sample @1"), or the record's version is newer
///   than the type's; 10005 when a collection or object record is not where one
///   must be; 13 (Type mismatch) or 6 (Overflow) for a field whose text is no
///   value of its type; 62 for a file that ends inside a record; 53 for a
///   missing file.

#include <chrono>
#include <concepts>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
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

template <class T>
class RecordType;

/// A type saved as a record: default-constructible, with
/// `static void Describe(qm::RecordType<T>&)`.
template <class T>
concept Record = std::default_initializable<T> && std::movable<T> && requires(RecordType<T>& type) {
  {T::Describe(type)};
};

class RecordLayout;

/// A vector of records reached through the element that holds it (or, for
/// the outermost collection, the vector itself): what the record reader and
/// writer need of it, without its C++ type. Made by RecordType::Field.
class RecordList {
 public:
  virtual ~RecordList() = default;
  /// The description of the elements.
  virtual const RecordLayout& Layout() const = 0;
  /// The number of elements.
  virtual std::size_t Count(const void* owner) const = 0;
  /// The element at `index`.
  virtual const void* At(const void* owner, std::size_t index) const = 0;
  /// Removes every element.
  virtual void Clear(void* owner) const = 0;
  /// Appends a default-made element and gives it (valid until the next Append).
  virtual void* Append(void* owner) const = 0;
};

/// The description of a record type, without its C++ type: its name, version
/// and fields in record order. Made through RecordType<T>.
class QUILLMARK_EXPORT RecordLayout {
 public:
  /// Reads a field's value from an element.
  using Getter = std::function<RecordValue(const void* element)>;
  /// Stores a field's value into an element.
  using Setter = std::function<void(void* element, RecordValue&& value)>;

  /// The Kind of a member collection.
  static constexpr std::size_t kListKind = std::variant_size_v<RecordValue>;

  RecordLayout();  ///< No name, version 1, no fields.
  ///@{
  /// Copies the name, version and fields; a layout moved from is as new.
  RecordLayout(const RecordLayout& other);
  RecordLayout& operator=(const RecordLayout& other);
  RecordLayout(RecordLayout&& other) noexcept;
  RecordLayout& operator=(RecordLayout&& other) noexcept;
  ///@}
  ~RecordLayout();

  /// One field: its name, the RecordValue alternative it holds, and its accessors.
  struct FieldSpec {
    std::string Name;                              ///< the property's (or member collection's) name in the record
    std::size_t Kind = 0;                          ///< the index of the RecordValue alternative, or kListKind
    Getter Get;                                    ///< reads the member (an optional one only when Has)
    Setter Set;                                    ///< stores the member
    std::function<bool(const void* element)> Has;  ///< optional fields: whether the member holds a value
    std::function<void(void* element)> Reset;      ///< optional fields: empties the member
    std::shared_ptr<const RecordList> List;        ///< member collections: the vector
  };

  /// The name after "%Object " (empty until given).
  const std::string& RecordName() const;
  /// The version written after " @" (1 unless given).
  std::int32_t RecordVersion() const;
  /// The fields, in the order they are written.
  const std::vector<FieldSpec>& Fields() const;

  /// Raises 9999 when the description cannot be saved or loaded (see the file
  /// comment). The descriptions of member collections are checked when used.
  void Check() const;

 protected:
  /// Sets the record's name (RecordType::Name).
  void SetName(std::string name);
  /// Sets the record's version (RecordType::Version).
  void SetVersion(std::int32_t version);
  /// Appends a field (RecordType::Field).
  void AddField(FieldSpec field);

 private:
  // The name, version and fields, defined in the library's sources; a layout
  // moved from has no name, version 1 and no fields.
  struct Impl;
  Impl& State();
  const Impl& State() const;
  std::unique_ptr<Impl> impl_;
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

namespace detail {

/// A vector of U: the member `Member` of an Owner, or the outermost vector
/// itself when Owner is std::vector<U>. The element type's description is
/// asked for only when used, so a type may hold a vector of itself.
template <class Owner, class U>
class VectorList final : public RecordList {
 public:
  using Member = std::vector<U> Owner::*;
  explicit VectorList(Member member = nullptr) : member_(member) {}
  const RecordLayout& Layout() const override { return RecordTypeOf<U>(); }
  std::size_t Count(const void* owner) const override { return Of(owner).size(); }
  const void* At(const void* owner, std::size_t index) const override { return &Of(owner)[index]; }
  void Clear(void* owner) const override { Of(owner).clear(); }
  void* Append(void* owner) const override { return &Of(owner).emplace_back(); }

 private:
  const std::vector<U>& Of(const void* owner) const { return Of(const_cast<void*>(owner)); }
  std::vector<U>& Of(void* owner) const {
    if constexpr (std::is_same_v<Owner, std::vector<U>>) return *static_cast<std::vector<U>*>(owner);
    else return static_cast<Owner*>(owner)->*member_;
  }
  Member member_;
};

}  // namespace detail

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
              [member](void* e, RecordValue&& v) { static_cast<T*>(e)->*member = std::get<M>(std::move(v)); }, nullptr,
              nullptr, nullptr});
    return *this;
  }
  /// An optional field: written only when it holds a value, empty when the
  /// record has no property of its name.
  template <RecordFieldType M>
  RecordType& Field(std::string name, std::optional<M> T::*member) {
    AddField({std::move(name), RecordValue(std::in_place_type<M>).index(),
              [member](const void* e) { return RecordValue(*(static_cast<const T*>(e)->*member)); },
              [member](void* e, RecordValue&& v) { static_cast<T*>(e)->*member = std::get<M>(std::move(v)); },
              [member](const void* e) { return (static_cast<const T*>(e)->*member).has_value(); },
              [member](void* e) { (static_cast<T*>(e)->*member).reset(); }, nullptr});
    return *this;
  }
  /// A member collection named `name`: a collection record of the elements,
  /// written after the element's properties.
  template <Record U>
  RecordType& Field(std::string name, std::vector<U> T::*member) {
    AddField({std::move(name), kListKind, nullptr, nullptr, nullptr, nullptr,
              std::make_shared<const detail::VectorList<T, U>>(member)});
    return *this;
  }
};

namespace detail {

/// Writes `list` (of `owner`) as the only record of `file`, replaced in one step.
QUILLMARK_EXPORT void SaveRecordList(const std::filesystem::path& file, const std::string& name, const RecordList& list,
                                     const void* owner);
/// Reads the collection record `name` from the start of `file` into `list` (of `owner`).
QUILLMARK_EXPORT void LoadRecordList(const std::filesystem::path& file, const std::string& name, const RecordList& list,
                                     void* owner);

}  // namespace detail

/// Saves `items` as the collection `name`, the only record of `file`. The
/// file is replaced in one step: a failed save leaves the old file.
template <Record T>
void SaveRecords(const std::filesystem::path& file, const std::string& name, const std::vector<T>& items) {
  const detail::VectorList<std::vector<T>, T> list;
  detail::SaveRecordList(file, name, list, &items);
}

/// Loads the collection `name` from the start of `file`.
template <Record T>
std::vector<T> LoadRecords(const std::filesystem::path& file, const std::string& name) {
  const detail::VectorList<std::vector<T>, T> list;
  std::vector<T> items;
  detail::LoadRecordList(file, name, list, &items);
  return items;
}

}  // namespace qm
