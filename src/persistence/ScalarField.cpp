// ScalarField: a field's text form and its reading back.
// The plain accessors cannot fail and carry no call frame.

#include "quillmark/persistence/ScalarField.h"

#include "persistence/RecordText.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/persistence/IPersistable.h"
#include "quillmark/persistence/PersistanceContext.h"
#include "quillmark/persistence/ScalarFields.h"
#include "quillmark/values/Conversions.h"
#include "values/DateText.h"

namespace qm {

std::string ScalarField::GetStreamValue(std::int32_t Version) {
  QM_FRAME_TRY {
    switch (scalarType_) {
      case ST_String:
        if (const auto* text = value_.GetIf<std::string>()) return detail::StringToText(*text);
        return detail::StringToText(CStr(value_));
      case ST_FloatingPoint: return WriteInvariantNumber(CDbl(value_));
      case ST_Boolean: return CBool(value_) ? "True" : "False";
      case ST_Reference: {
        if (!value_.IsObject() || !value_.ObjectRef()) return {};
        auto target = std::dynamic_pointer_cast<IPersistableReference>(value_.ObjectRef());
        if (!target) Raise(ERR_TypeMismatch);
        const std::string targetClass = target->ReferenceClass(Version);
        if (targetClass != referenceClass_) {
          Raise(ERR_General, "The reference class of the object (" + targetClass + ") and of this field (" +
                                 referenceClass_ + ") do not match");
        }
        return target->Key(Version);
      }
      case ST_Integer:
        if (const auto* number = value_.GetIf<std::int32_t>()) return std::to_string(*number);
        return CStr(value_);
      default:  // ST_DateTime and unknown types: the general conversion
        return CStr(value_);
    }
  }
  QM_FRAME_CATCH("ScalarField", "Public Function GetStreamValue", Version);
}

void ScalarField::SetStreamValue(const std::string& StreamValue, const std::shared_ptr<PersistanceContext>& Context) {
  QM_FRAME_TRY {
    if (LoggingEnabled()) QMWriteLog(name_ + " has a scalartype of " + std::to_string(scalarType_));
    switch (scalarType_) {
      case ST_String: value_ = detail::StringFromText(StreamValue); break;
      case ST_Integer: value_ = detail::ReadIntegerText(StreamValue); break;
      case ST_FloatingPoint: value_ = Val(StreamValue); break;
      case ST_DateTime: value_ = detail::DateFromText(StreamValue); break;
      case ST_Boolean: value_ = detail::ReadBoolean(StreamValue); break;
      case ST_Reference: {
        if (LoggingEnabled()) QMWriteLog("Getting the reference for " + name_);
        if (!Context) Raise(ERR_ObjectNotSet);
        ObjectPtr target = Context->GetReference(referenceClass_, StreamValue);
        value_ = std::move(target);
        break;
      }
      default: Raise(ERR_General, "Unknown scalar type encountered");
    }
  }
  QM_FRAME_CATCH("ScalarField", "Public Sub SetStreamValue", StreamValue, Context);
}

const std::string& ScalarField::ReferenceClass() const {
  QM_FRAME_TRY {
    if (scalarType_ != ST_Reference) Raise(ERR_General, "ReferenceClass only available for reference scalar types");
    return referenceClass_;
  }
  QM_FRAME_CATCH("ScalarField", "Public Property Get ReferenceClass");
}

void ScalarField::SetReferenceClass(const std::string& ReferenceClass) {
  QM_FRAME_TRY {
    if (scalarType_ != ST_Reference) Raise(ERR_General, "ReferenceClass only available for reference scalar types");
    referenceClass_ = ReferenceClass;
  }
  QM_FRAME_CATCH("ScalarField", "Public Property Let ReferenceClass", ReferenceClass);
}

void ScalarField::SetOwner(const std::shared_ptr<ScalarFields>& Fields) {
  QM_FRAME_TRY { owner_ = Fields; }
  QM_FRAME_CATCH("ScalarField", "Public Sub SetOwner", Fields);
}

}  // namespace qm
