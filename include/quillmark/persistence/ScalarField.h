#pragma once
// ScalarField: one named, typed value of a persistable object, with the rule
// that turns the value into the single line of text a record stores and back.

#include <cstdint>
#include <memory>
#include <string>

#include "quillmark/Export.h"
#include "quillmark/values/Object.h"
#include "quillmark/values/Variant.h"

namespace qm {

class PersistanceContext;
class ScalarFields;

/// The scalar types and their text forms.
enum ScalarTypeConstants : std::int32_t {
  ST_String = 0,         ///< CR LF written as the two characters backslash and n
  ST_Integer = 1,        ///< 32-bit integer, general number text
  ST_FloatingPoint = 2,  ///< Double, locale-independent number text (" 2.5", "-1.25", " .5")
  ST_DateTime = 3,       ///< "yyyy-mm-dd hh:mm:ss" (the date or the time alone when the other part is 0)
  ST_Boolean = 4,        ///< "True" / "False"; read: "true" or "vrai" in any case is True
  ST_Reference = 5,      ///< the referenced object's Key, resolved through a PersistanceContext
};

/// One named, typed value of a persistable object and the rule between the
/// value and the one line of text a record stores for it.
class QUILLMARK_EXPORT ScalarField : public virtual Object {
 public:
  /// A field with no name, of type ST_String, holding Empty.
  ScalarField() = default;
  /// A field with its name, type and value.
  ScalarField(std::string Name, ScalarTypeConstants ScalarType, Variant Value)
      : name_(std::move(Name)), scalarType_(ScalarType), value_(std::move(Value)) {}

  /// The name the record stores the value under.
  const std::string& Name() const { return name_; }
  /// Renames the field (not checked; a record needs it free of "=" and line ends).
  void SetName(std::string Name) { name_ = std::move(Name); }
  /// The rule between value and text.
  ScalarTypeConstants ScalarType() const { return scalarType_; }
  /// Changes the rule; the value is kept as it is.
  void SetScalarType(ScalarTypeConstants ScalarType) { scalarType_ = ScalarType; }
  /// The value (the default member). An object value is stored as the object.
  const Variant& Value() const { return value_; }
  /// Replaces the value (not converted: GetStreamValue converts).
  void SetValue(Variant Value) { value_ = std::move(Value); }

  /// The text form of Value by ScalarType. Version is passed to a referenced
  /// object's ReferenceClass and Key.
  std::string GetStreamValue(std::int32_t Version);
  /// Sets Value from its text form; Context resolves reference fields (91
  /// when a reference field is read without one). The value is unchanged when
  /// this fails.
  void SetStreamValue(const std::string& StreamValue, const std::shared_ptr<PersistanceContext>& Context = nullptr);

  /// For ST_Reference fields only (9999 otherwise): the class under which the
  /// referenced objects are registered in a context. Set ScalarType first.
  ///@{
  const std::string& ReferenceClass() const;
  void SetReferenceClass(const std::string& ReferenceClass);

  ///@}
  /// Keeps a counted reference to the list that owns the field.
  void SetOwner(const std::shared_ptr<ScalarFields>& Fields);

  std::string ClassName() const override { return "ScalarField"; }

 private:
  std::string name_;
  ScalarTypeConstants scalarType_ = ST_String;
  Variant value_;
  std::string referenceClass_;
  std::shared_ptr<ScalarFields> owner_;
};

/// A shared reference to a ScalarField.
using ScalarFieldPtr = std::shared_ptr<ScalarField>;

}  // namespace qm
