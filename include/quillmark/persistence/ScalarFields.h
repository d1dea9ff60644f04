#pragma once
// ScalarFields: the ordered list of fields an object hands to the record
// writer and receives back from the reader. Positions are 1-based; names need
// not be unique, lookups by name take the first match.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/persistence/ScalarField.h"
#include "quillmark/values/Object.h"
#include "quillmark/values/Variant.h"

namespace qm {

/// The ordered list of fields an object hands to the record writer and gets
/// back from the reader; positions 1-based, names need not be unique.
class QUILLMARK_EXPORT ScalarFields : public virtual Object {
 public:
  /// Creates a field with Name, ScalarType and Value, appends and returns it.
  ScalarFieldPtr AddDetails(std::string_view Name, ScalarTypeConstants ScalarType, Variant Value);
  /// Appends the given field itself (not a copy).
  void Add(const ScalarFieldPtr& ScalarField);
  /// Removes the field at the 1-based Index (9 when out of range).
  void Remove(std::int32_t Index);
  /// The field at the 1-based Index (9 when out of range).
  ScalarFieldPtr Item(std::int32_t Index) const;
  /// The first field whose name equals Name ignoring case; nullptr when none.
  ScalarFieldPtr ItemName(const std::string& Name) const;
  /// The count of fields.
  std::int32_t Count() const { return static_cast<std::int32_t>(fields_.size()); }
  /// Removes every field.
  void Clear();
  /// True when each list's names are all found in the other (case ignored;
  /// types, values, order and repetitions not compared).
  bool HasSameFields(const std::shared_ptr<ScalarFields>& Fields) const;
  /// The first reference field whose ReferenceClass equals the argument
  /// exactly; nullptr when none.
  ScalarFieldPtr ItemByRefClass(const std::string& ReferenceClass) const;

  ///@{
  /// Enumeration in order (the list's NewEnum).
  auto begin() const { return fields_.begin(); }
  auto end() const { return fields_.end(); }
  ///@}

  std::string ClassName() const override { return "ScalarFields"; }

 private:
  std::vector<ScalarFieldPtr> fields_;
};

/// A shared reference to a ScalarFields list.
using ScalarFieldsPtr = std::shared_ptr<ScalarFields>;

}  // namespace qm
