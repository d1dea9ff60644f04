// ScalarFields: the ordered field list of a persistable object.

#include "quillmark/persistence/ScalarFields.h"

#include "persistence/RecordText.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/values/Text.h"

namespace qm {
namespace {

// Most objects have a handful of fields: one allocation instead of four.
constexpr std::size_t kTypicalFields = 8;

std::size_t Position(std::int32_t index, std::size_t count) {
  if (index < 1 || static_cast<std::size_t>(index) > count) Raise(ERR_SubscriptOutOfRange);
  return static_cast<std::size_t>(index - 1);
}

}  // namespace

ScalarFieldPtr ScalarFields::AddDetails(std::string_view Name, ScalarTypeConstants ScalarType, Variant Value) {
  QM_FRAME_TRY {
    if (fields_.empty()) fields_.reserve(kTypicalFields);
    // The field is handed back from here, not read back from the vector just
    // written (a load that would wait for those stores to land).
    auto field = std::make_shared<ScalarField>(std::string(Name), ScalarType, std::move(Value));
    fields_.push_back(field);
    return field;
  }
  QM_FRAME_CATCH("ScalarFields", "Public Function AddDetails", Name, ScalarType, Value);
}

void ScalarFields::Add(const ScalarFieldPtr& ScalarField) {
  QM_FRAME_TRY {
    if (!ScalarField) Raise(ERR_ObjectNotSet);  // the list holds fields only
    if (fields_.empty()) fields_.reserve(kTypicalFields);
    fields_.push_back(ScalarField);
  }
  QM_FRAME_CATCH("ScalarFields", "Public Sub Add", ScalarField);
}

void ScalarFields::Remove(std::int32_t Index) {
  QM_FRAME_TRY { fields_.erase(fields_.begin() + static_cast<std::ptrdiff_t>(Position(Index, fields_.size()))); }
  QM_FRAME_CATCH("ScalarFields", "Public Sub Remove", Index);
}

ScalarFieldPtr ScalarFields::Item(std::int32_t Index) const {
  QM_FRAME_TRY { return fields_[Position(Index, fields_.size())]; }
  QM_FRAME_CATCH("ScalarFields", "Public Function Item", Index);
}

ScalarFieldPtr ScalarFields::ItemName(const std::string& Name) const {
  QM_FRAME_TRY {
    for (const auto& field : fields_)
      if (detail::SameFieldName(field->Name(), Name)) return field;
    return nullptr;
  }
  QM_FRAME_CATCH("ScalarFields", "Public Function ItemName", Name);
}

void ScalarFields::Clear() {
  QM_FRAME_TRY { fields_.clear(); }
  QM_FRAME_CATCH("ScalarFields", "Public Sub Clear");
}

bool ScalarFields::HasSameFields(const std::shared_ptr<ScalarFields>& Fields) const {
  QM_FRAME_TRY {
    if (!Fields) Raise(ERR_ObjectNotSet);
    for (const auto& field : *Fields)
      if (!ItemName(field->Name())) return false;
    for (const auto& field : fields_)
      if (!Fields->ItemName(field->Name())) return false;
    return true;
  }
  QM_FRAME_CATCH("ScalarFields", "Public Function HasSameFields", Fields);
}

ScalarFieldPtr ScalarFields::ItemByRefClass(const std::string& ReferenceClass) const {
  QM_FRAME_TRY {
    for (const auto& field : fields_)
      if (field->ScalarType() == ST_Reference && field->ReferenceClass() == ReferenceClass) return field;
    return nullptr;
  }
  QM_FRAME_CATCH("ScalarFields", "Public Function ItemByRefClass", ReferenceClass);
}

}  // namespace qm
