// QMStream's property-list records: any Dispatch object, saved and loaded by
// naming its properties; values are converted by each property's run-time type.

#include <charconv>

#include "persistence/RecordText.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/persistence/QMStream.h"
#include "quillmark/values/Conversions.h"

namespace qm {
namespace {

using detail::After;
using detail::LTrimView;
using detail::TrimView;

constexpr std::string_view kProperty = "%Property ";

// A Single in the locale-independent form, with the digits a Single holds.
std::string WriteInvariantSingle(float value) {
  char digits[32];
  const auto written = std::to_chars(digits, digits + sizeof digits, value);
  double shortest = value;
  std::from_chars(digits, written.ptr, shortest);
  return WriteInvariantNumber(shortest);
}

// The text written for a property value, by the value's run-time type.
std::string ValueText(const Variant& value) {
  if (const auto* b = value.GetIf<bool>()) return *b ? "True" : "False";
  if (const auto* d = value.GetIf<double>()) return WriteInvariantNumber(*d);
  if (const auto* f = value.GetIf<float>()) return WriteInvariantSingle(*f);
  if (const auto* s = value.GetIf<std::string>()) return *s;
  return CStr(value);
}

// The value text converted for a property whose current value has `typeName`.
Variant ConvertValue(const std::string& typeName, std::string_view text) {
  if (typeName == "Boolean") return detail::ReadBoolean(text);
  if (typeName == "Double") return Val(text);
  if (typeName == "Single") return CSng(Variant(Val(text)));
  if (typeName == "Long") return CLng(Variant(text));
  if (typeName == "Integer") return CInt(Variant(text));
  if (typeName == "Byte") return CByte(Variant(text));
  return Variant(text);
}

// True when `name` is among the elements 0 to UBound of the array, compared
// without regard to case.
bool Listed(const Variant& properties, const std::string& name) {
  const VariantArray& list = properties.Array();
  for (std::int32_t i = 0; i <= list.UBound(); ++i)
    if (EqualsIgnoringCase(CStr(list(i)), name)) return true;
  return false;
}

const ObjectPtr& ObjectOf(const Variant& item) {
  if (!item.IsObject()) Raise(ERR_TypeMismatch);
  return item.ObjectRef();
}

}  // namespace

std::string QMStream::RemoveCRs(const std::string& Text) {
  QM_FRAME_TRY {
    if (Text.find("\r\n") == std::string::npos) return Text;
    std::string out;
    out.reserve(Text.size());
    for (std::size_t i = 0; i < Text.size(); ++i) {
      if (Text[i] == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') {
        out += ' ';
        ++i;
      } else {
        out += Text[i];
      }
    }
    return out;
  }
  QM_FRAME_CATCH("QMStream", "Private Function RemoveCRs", Text);
}

std::string QMStream::TypeNameString(const ObjectPtr& Object, const std::string& PropertyName) {
  QM_FRAME_TRY { return AsDispatch(Object).Get(PropertyName).TypeName(); }
  QM_FRAME_CATCH("QMStream", "Private Function TypeNameString", Object, PropertyName);
}

void QMStream::WriteObject(const ObjectPtr& Object, const Variant& Properties) {
  QM_FRAME_TRY {
    if (!Properties.IsArray()) Raise(ERR_General, "WriteForObject must be called with an array argument.");
    if (!Object) Raise(ERR_ObjectNotSet);
    WriteLine("%Object " + Object->ClassName());
    Indent();
    const VariantArray& list = Properties.Array();
    for (std::int32_t i = list.LBound(); i <= list.UBound(); ++i) {
      const std::string name = CStr(list(i));
      const std::string text = ValueText(AsDispatch(Object).Get(name));
      WriteLine(kProperty, name);
      Indent();
      WriteLine({}, RemoveCRs(text));
      UnIndent();
    }
    UnIndent();
  }
  QM_FRAME_CATCH("QMStream", "Public Sub WriteObject", Object, Properties);
}

QMStreamErrors QMStream::ReadObject(const ObjectPtr& Object, const Variant& Properties) {
  // Once a property has been assigned, errors leave without this procedure's
  // element (its handler is switched off around the assignments).
  bool assigned = false;
  try {
    if (!Object) Raise(ERR_ObjectNotSet);
    if (LTrimView(PeekView()) != "%Object " + Object->ClassName()) return QMS_ObjectNotFound;
    SkipLine();
    QMStreamErrors result = QMS_Success;
    while (!AtEndOfStream()) {
      if (!LTrimView(PeekView()).starts_with(kProperty)) break;
      const std::string name(After(TrimView(ReadLineView()), kProperty.size()));
      const std::string_view value = TrimView(ReadLineView());
      if (Listed(Properties, name)) {
        const Variant converted = ConvertValue(TypeNameString(Object, name), value);
        assigned = true;
        try {
          AsDispatch(Object).Let(name, converted);
        } catch (...) {
          result = QMS_BadField;
        }
      }
      if (name.empty()) break;
    }
    return result;
  } catch (...) {
    if (!assigned) frame::Rethrow("QMStream", "Public Function ReadObject", Object, Properties);
    try {
      throw;
    } catch (Error& e) {
      if (e.Source().empty()) e.SetSource(frame::DefaultSource("QMStream"));
      throw;
    }
  }
}

void QMStream::WriteCollection(const ObjectPtr& Collection, const Variant& Properties) {
  QM_FRAME_TRY {
    if (!Collection) Raise(ERR_ObjectNotSet);
    Dispatch& collection = AsDispatch(Collection);
    WriteLine("%Collection " + Collection->ClassName());
    WriteLine(CStr(collection.Get("Count")));
    Indent();
    for (const Variant& item : collection.Enumerate()) WriteObject(ObjectOf(item), Properties);
    UnIndent();
  }
  QM_FRAME_CATCH("QMStream", "Public Sub WriteCollection", Collection, Properties);
}

QMStreamErrors QMStream::ReadCollection(const ObjectPtr& Collection, bool RecreateChildren, const Variant& Properties) {
  QM_FRAME_TRY {
    QMStreamErrors result = QMS_Success;
    if (!Collection) Raise(ERR_ObjectNotSet);
    if (TrimView(PeekView()) != "%Collection " + Collection->ClassName()) return result;
    Dispatch& collection = AsDispatch(Collection);
    SkipLine();
    const std::int32_t stored = CLng(Variant(TrimView(ReadLineView())));
    if (RecreateChildren) {
      while (CLng(collection.Get("Count")) > 0) collection.Call("Remove", {Variant(1)});
      const std::int32_t n = CountChildren(stored);
      for (std::int32_t i = 1; i <= n; ++i) collection.Call("Add", {collection.Call("NewChild")});
    }
    for (const Variant& item : collection.Enumerate()) {
      const QMStreamErrors itemResult = ReadObject(ObjectOf(item), Properties);
      if (itemResult != QMS_Success) result = itemResult;
    }
    return result;
  }
  QM_FRAME_CATCH("QMStream", "Public Function ReadCollection", Collection, RecreateChildren, Properties);
}

}  // namespace qm
