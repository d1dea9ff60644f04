// QMStream's simple records: objects made of scalar fields, collections of
// them, and skipping forward to a wanted record.

#include "persistence/RecordLines.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/persistence/QMStream.h"
#include "quillmark/values/Conversions.h"

namespace qm {
namespace {

struct Header {
  std::string Name;
  std::int32_t Version = 0;
};

using detail::FindField;
using detail::kCollectionMarker;
using detail::kObjectMarker;
using detail::LTrimView;
using detail::RecordLines;
using detail::TrimView;

std::string Join(std::string_view a, std::string_view b) {
  std::string text;
  text.reserve(a.size() + b.size());
  text += a;
  text += b;
  return text;
}

}  // namespace

// ---- line access for the records ----

void QMStream::WriteLine(std::string_view prefix, std::string_view text) {
  QM_FRAME_TRY {
    TextStream& out = Bound();
    Own().lineBuffer_.assign(static_cast<std::size_t>(Own().indentWidth_), ' ');
    Own().lineBuffer_ += prefix;
    Own().lineBuffer_ += text;
    out.WriteLine(Own().lineBuffer_);
  }
  QM_FRAME_CATCH("QMStream", "Public Sub WriteLine", Join(prefix, text));
}

// ---- simple records ----

void QMStream::WriteObjectSimple(const IPersistableSimplePtr& Object, std::int32_t WrittenVersion,
                                 std::int32_t SignedVersion) {
  QM_FRAME_TRY {
    if (SignedVersion == -1) SignedVersion = WrittenVersion;
    if (!Object) Raise(ERR_ObjectNotSet);
    RecordLines lines(*this);
    lines.WriteHeader(kObjectMarker, Object->Name(SignedVersion), SignedVersion, SignedVersion > 0);
    Indent();
    const ScalarFieldsPtr fields = Object->GetScalarFields(WrittenVersion);
    if (!fields) Raise(ERR_ObjectNotSet);
    // By position, so that a client changing the list from a callback cannot
    // invalidate the walk.
    for (std::int32_t i = 1; i <= fields->Count(); ++i) {
      const ScalarFieldPtr& listed = *(fields->begin() + (i - 1));
      // A value holding an object runs client code to become text (a key, a
      // default property): that field is held while it is written. Other
      // values are written through the list's own reference.
      const ScalarFieldPtr held = listed->Value().IsObject() ? listed : nullptr;
      ScalarField& field = *listed;
      lines.WriteProperty(field.Name(), field.GetStreamValue(WrittenVersion));
    }
    UnIndent();
  }
  QM_FRAME_CATCH("QMStream", "Public Sub WriteObjectSimple", Object, WrittenVersion, SignedVersion);
}

// The logging switch is asked before every line (LoggingEnabled is cheap), so
// a switch flipped by another process shows from the next line on.
void QMStream::ReadObjectSimple(const IPersistableSimplePtr& Object, const PersistanceContextPtr& Context) {
  QM_FRAME_TRY {
    RecordLines lines(*this);
    const std::string_view headerLine = PeekView();
    if (!LTrimView(headerLine).starts_with(kObjectMarker))
      Raise(ERR_StreamNotPointingToObject, "Stream not pointing to object");
    const detail::HeaderView view = detail::ParseHeader(headerLine, kObjectMarker.size());
    const Header header{std::string(view.Name), view.Version};
    if (!Object) Raise(ERR_ObjectNotSet);
    if (!Object->Compatible(header.Name, header.Version))
      Raise(ERR_StreamObjectIncompatible, "Object is incompatible with stream object");
    SkipLine();

    const ScalarFieldsPtr fields = Object->GetScalarFields(header.Version);
    if (!fields) Raise(ERR_General, "GetScalarFields() did not return a fields collection");
    std::string fieldName;
    std::string value;
    std::string_view valueLine;
    while (lines.NextProperty(fieldName, valueLine)) {
      value.assign(valueLine);
      const bool last = fieldName.empty();
      if (LoggingEnabled()) QMWriteLog("reading for fieldname = " + fieldName + ", " + "field value=" + value);
      // Through the list's own reference, unless the value to be replaced
      // holds an object: letting that go may run client code, so the field
      // is held while it is set.
      ScalarField* const field = FindField(*fields, fieldName);
      const ScalarFieldPtr held = field && field->Value().IsObject() ? fields->ItemName(fieldName) : nullptr;
      if (LoggingEnabled()) QMWriteLog("Got field object okay");
      if (field) {
        if (LoggingEnabled()) QMWriteLog("About to set field value for " + field->Name());
        field->SetStreamValue(value, Context);
      } else if (auto handler = std::dynamic_pointer_cast<IPersistableHdleUnknown>(Object)) {
        if (LoggingEnabled())
          QMWriteLog("Found unknown field, calling " + std::string("IPersistableHdleUnknown for ") + fieldName);
        handler->SetUnknownField(header.Version, fieldName, Variant(value));
      } else if (LoggingEnabled()) {
        QMWriteLog("Ignored field " + fieldName);
      }
      if (last) break;
    }

    if (LoggingEnabled()) QMWriteLog("About to set scalar fields");
    Object->SetScalarFields(header.Version, fields);
    if (Context) {
      if (auto reference = std::dynamic_pointer_cast<IPersistableReference>(Object)) {
        if (LoggingEnabled()) QMWriteLog("About to add reference to this object to context");
        Context->Add(reference, header.Version);
      }
    }
  }
  QM_FRAME_CATCH("QMStream", "Public Sub ReadObjectSimple", Object, Context);
}

void QMStream::WriteCollectionSimple(const IPersistableCollectionPtr& Collection, std::int32_t Version) {
  QM_FRAME_TRY {
    if (!Collection) Raise(ERR_ObjectNotSet);
    RecordLines lines(*this);
    lines.WriteHeader(kCollectionMarker, Collection->Name(Version), Version, Version != 0);
    const std::int32_t count = Collection->Count(Version);
    lines.WriteCount(count);
    Indent();
    const std::int32_t childVersion = Collection->GetChildVersion(Version);
    for (std::int32_t i = 1; i <= count; ++i) WriteObjectSimple(Collection->Item(i, childVersion), childVersion, -1);
    UnIndent();
  }
  QM_FRAME_CATCH("QMStream", "Public Sub WriteCollectionSimple", Collection, Version);
}

void QMStream::ReadCollectionSimple(const IPersistableCollectionPtr& Collection, bool RecreateChildren,
                                    const PersistanceContextPtr& Context) {
  QM_FRAME_TRY {
    RecordLines lines(*this);
    const std::string_view headerLine = PeekView();
    if (!LTrimView(headerLine).starts_with(kCollectionMarker))
      Raise(ERR_StreamNotPointingToObject, "Stream not pointing to collection");
    const detail::HeaderView view = detail::ParseHeader(headerLine, kCollectionMarker.size());
    const Header header{std::string(view.Name), view.Version};
    if (!Collection) Raise(ERR_ObjectNotSet);
    if (!Collection->Compatible(header.Name, header.Version))
      Raise(ERR_StreamObjectIncompatible, "Collection is incompatible with stream collection");
    SkipLine();
    const std::int32_t stored = lines.ReadCount();

    if (RecreateChildren) {
      Collection->Clear(header.Version);
      const std::int32_t n = CountChildren(stored);
      for (std::int32_t i = 1; i <= n; ++i) Collection->Add(Collection->NewChild(header.Version), header.Version);
    }
    const std::int32_t count = Collection->Count(header.Version);
    for (std::int32_t i = 1; i <= count; ++i) ReadObjectSimple(Collection->Item(i, header.Version), Context);
    Collection->LoadCompleted();
  }
  QM_FRAME_CATCH("QMStream", "Public Sub ReadCollectionSimple", Collection, RecreateChildren, Context);
}

// A stored count larger than the object headers left in the stream cannot be
// read: the child after the last header fails. Children are made only up to
// that one, so that a damaged count never drives an allocation the stream
// cannot back. A header takes at least 9 bytes ("%Object " and a line end),
// so only a count above what the remaining bytes could hold is checked by
// looking ahead (which pushes every line back).
std::int32_t QMStream::CountChildren(std::int32_t stored) {
  QM_FRAME_TRY {
    if (stored <= 0) return stored;
    const std::uint64_t pending = static_cast<std::uint64_t>(StackSize() - Own().stackPos_);
    if (static_cast<std::uint64_t>(stored) <= pending + Bound().RemainingBytes() / 9 + 1) return stored;
    std::int32_t headers = 0;
    std::int64_t read = 0;
    while (headers < stored && !AtEndOfStream()) {
      if (LTrimView(ReadLineView()).starts_with(kObjectMarker)) ++headers;
      ++read;
    }
    Own().stackPos_ -= read;
    return headers < stored ? headers + 1 : stored;
  }
  QM_FRAME_CATCH("QMStream", "Private Function CountChildren", stored);
}

void QMStream::FindNextObject(const Variant& ToIgnore, const std::optional<Variant>& ObjectEndSig) {
  QM_FRAME_TRY {
    if (LoggingEnabled()) QMWriteLog("FindNextObject: Begin");
    std::optional<std::string> endSig;
    if (ObjectEndSig) endSig = CStr(*ObjectEndSig);
    while (!AtEndOfStream()) {
      const std::string_view line = TrimView(PeekView());
      if (endSig && line == *endSig) {
        if (LoggingEnabled()) QMWriteLog("FindNextObject: Found end of object marker, exiting");
        SkipLine();
        break;
      }
      if (line.starts_with(kObjectMarker) || line.starts_with(kCollectionMarker)) {
        if (LoggingEnabled()) QMWriteLog("FindNextObject: Candidate next object -- " + std::string(line));
        const VariantArray& ignore = ToIgnore.Array();
        bool ignored = false;
        for (std::int32_t i = 0; i <= ignore.UBound() && !ignored; ++i) {
          const Variant& entry = ignore(i);
          ignored = !entry.IsNull() && (entry.IsString() ? entry.String() == line : CStr(entry) == line);
        }
        if (!ignored) {
          if (LoggingEnabled()) QMWriteLog("FindNextObject: Found next object");
          break;
        }
        if (LoggingEnabled()) QMWriteLog("FindNextObject: Candidate was exception");
      }
      SkipLine();
    }
  }
  QM_FRAME_CATCH("QMStream", "Public Sub FindNextObject", ToIgnore, ObjectEndSig);
}

}  // namespace qm
