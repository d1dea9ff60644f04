// Typed records over the simple records of QMStream: a description
// (RecordLayout) and the element accessors it holds stand in for a client's
// IPersistableSimple and IPersistableCollection classes.

#include "quillmark/persistence/RecordStream.h"

#include <charconv>
#include <cmath>
#include <unordered_set>

#include "frame/FileErrors.h"
#include "io/AtomicFile.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/persistence/IPersistable.h"
#include "quillmark/persistence/ScalarField.h"
#include "quillmark/persistence/ScalarFields.h"
#include "quillmark/runtime/Conversions.h"

namespace qm {
namespace {

using namespace std::chrono;

enum Kind : std::size_t { kInt32, kInt64, kDouble, kString, kBool, kSys, kLocal, kDate };

// "Order @2" as the header carries it (no version part for 0 or less).
std::string HeaderText(const std::string& name, std::int32_t version) {
  return version > 0 ? name + " @" + std::to_string(version) : name;
}

// A name read back from a header is trimmed and ends at "@"; a line break splits the header.
void CheckName(const std::string& name, std::string_view what) {
  if (name.empty())
    Raise(ERR_General, what == "collection" ? std::string("The collection has no name: give one to the call")
                                            : "The " + std::string(what) + " has no name: call Name(...) in Describe");
  if (name.find('@') != std::string::npos || name.front() == ' ' || name.back() == ' ' ||
      name.find_first_of("\r\n") != std::string::npos)
    Raise(ERR_General, "The " + std::string(what) + " name \"" + name +
                           "\" cannot be read back: it holds \"@\", a line break or blanks at either end");
}

[[noreturn]] void RaiseForField(std::int32_t number, const std::string& detail, const RecordLayout::FieldSpec& field,
                                const std::string& record) {
  Raise(number, std::string(StandardErrorText(number)) + ": field " + field.Name + " of " + record + " " + detail);
}

// The text form of a string field must read back as the same string.
void CheckText(const std::string& text, const RecordLayout::FieldSpec& field, const std::string& record) {
  if (!text.empty() && (text.front() == ' ' || text.back() == ' '))
    RaiseForField(ERR_InvalidProcedureCall, "begins or ends with blanks, which a record drops", field, record);
  if (text.find("\\n") != std::string::npos)
    RaiseForField(ERR_InvalidProcedureCall, "holds the two characters \\n, which a record reads as a line break", field,
                  record);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool pair = text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
    if (pair) ++i;
    else if (text[i] == '\r' || text[i] == '\n')
      RaiseForField(ERR_InvalidProcedureCall, "holds a line break other than CR LF", field, record);
  }
}

Date ToSerial(sys_seconds when, const RecordLayout::FieldSpec& field, const std::string& record) {
  const auto day = floor<days>(when);
  const year_month_day ymd(day);
  const hh_mm_ss time(when - day);
  const int y = static_cast<int>(ymd.year());
  if (y < 1 || y > 9999)
    RaiseForField(ERR_InvalidProcedureCall, "holds a date outside the years 1 to 9999", field, record);
  return MakeDate(y, static_cast<int>(static_cast<unsigned>(ymd.month())),
                  static_cast<int>(static_cast<unsigned>(ymd.day())), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
}

sys_seconds FromSerial(Date serial) {
  const DateParts p = SplitDate(serial);
  return sys_days(year{p.Year} / p.Month / p.Day) + hours{p.Hour} + minutes{p.Minute} + seconds{p.Second};
}

// The field as the published writer takes it: a scalar type and a value.
ScalarFieldPtr ToField(const RecordLayout::FieldSpec& field, RecordValue value, const std::string& record) {
  auto out = std::make_shared<ScalarField>();
  out->SetName(field.Name);
  switch (value.index()) {
    case kInt32: out->SetScalarType(ST_Integer), out->SetValue(Variant(std::get<kInt32>(value))); break;
    case kInt64:  // the decimal text an integer field writes, without the 32-bit limit
      out->SetScalarType(ST_String), out->SetValue(Variant(std::to_string(std::get<kInt64>(value))));
      break;
    case kDouble: out->SetScalarType(ST_FloatingPoint), out->SetValue(Variant(std::get<kDouble>(value))); break;
    case kString:
      CheckText(std::get<kString>(value), field, record);
      out->SetScalarType(ST_String), out->SetValue(Variant(std::move(std::get<kString>(value))));
      break;
    case kBool: out->SetScalarType(ST_Boolean), out->SetValue(Variant(std::get<kBool>(value))); break;
    case kSys:
      out->SetScalarType(ST_DateTime), out->SetValue(Variant(ToSerial(std::get<kSys>(value), field, record)));
      break;
    case kLocal: {
      const sys_seconds wall(std::get<kLocal>(value).time_since_epoch());
      out->SetScalarType(ST_DateTime), out->SetValue(Variant(ToSerial(wall, field, record)));
      break;
    }
    default: {
      const year_month_day date = std::get<kDate>(value);
      if (!date.ok()) RaiseForField(ERR_InvalidProcedureCall, "holds no valid date", field, record);
      out->SetScalarType(ST_DateTime), out->SetValue(Variant(ToSerial(sys_days(date), field, record)));
      break;
    }
  }
  return out;
}

std::int64_t ReadInt64(const std::string& text, const RecordLayout::FieldSpec& field, const std::string& record) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec == std::errc() && ptr == end && !text.empty()) return value;
  // Other number forms round half to even, as an integer field reads them.
  double number = 0;
  if (!TryParseNumber(text, number))
    RaiseForField(ERR_TypeMismatch, "holds \"" + text + "\", which is no number", field, record);
  number = RoundHalfEven(number);
  if (!(number >= -9223372036854775808.0 && number < 9223372036854775808.0))
    RaiseForField(ERR_Overflow, "holds \"" + text + "\", beyond 64 bits", field, record);
  return static_cast<std::int64_t>(number);
}

// The value a field's text stands for, read by the published field's rules.
RecordValue FromText(const RecordLayout::FieldSpec& field, const std::string& text, const std::string& record) {
  if (field.Kind == kString) return text;
  if (field.Kind == kInt64) return ReadInt64(text, field, record);
  static constexpr ScalarTypeConstants kTypes[] = {ST_Integer, ST_String,   ST_FloatingPoint, ST_String,
                                                   ST_Boolean, ST_DateTime, ST_DateTime,      ST_DateTime};
  ScalarField parsed(field.Name, kTypes[field.Kind], Variant());
  try {
    parsed.SetStreamValue(ReplaceAll(text, "\r\n", "\\n"));
  } catch (const Error& e) {
    RaiseForField(e.Number(), "holds \"" + text + "\"", field, record);
  }
  const Variant& v = parsed.Value();
  switch (field.Kind) {
    case kInt32: return CLng(v);
    case kDouble: return CDbl(v);
    case kBool: return CBool(v);
    case kSys: return FromSerial(CDate(v));
    case kLocal: return local_seconds(FromSerial(CDate(v)).time_since_epoch());
    default: return year_month_day(floor<days>(FromSerial(CDate(v))));
  }
}

// One element as an object record. Writing, it reads the element's fields;
// reading, it offers every field as text and stores those the record held.
class ElementRecord : public IPersistableSimple {
 public:
  ElementRecord(const RecordLayout& layout, const void* element) : layout_(layout), element_(element) {}
  ElementRecord(const RecordLayout& layout, RecordSink& sink, std::size_t index)
      : layout_(layout), sink_(&sink), index_(index) {}

  ScalarFieldsPtr GetScalarFields(std::int32_t) override {
    auto fields = std::make_shared<ScalarFields>();
    for (const auto& field : layout_.Fields()) {
      // Reading: Empty until the record's text arrives (a string, perhaps empty).
      if (sink_) fields->Add(std::make_shared<ScalarField>(field.Name, ST_String, Variant()));
      else fields->Add(ToField(field, field.Get(element_), layout_.RecordName()));
    }
    return fields;
  }

  void SetScalarFields(std::int32_t, const ScalarFieldsPtr& fields) override {
    void* element = sink_->At(index_);
    for (const auto& field : layout_.Fields()) {
      const ScalarFieldPtr read = fields->ItemName(field.Name);
      const auto* text = read ? read->Value().GetIf<std::string>() : nullptr;
      if (text) field.Set(element, FromText(field, *text, layout_.RecordName()));
    }
  }

  std::string Name(std::int32_t) override { return layout_.RecordName(); }

  bool Compatible(const std::string& name, std::int32_t version) override {
    if (name != layout_.RecordName() || version > layout_.RecordVersion())
      Raise(ERR_StreamObjectIncompatible,
            "Object is incompatible with stream object: expected " + layout_.RecordName() + " (version " +
                std::to_string(layout_.RecordVersion()) + " or older), found " + HeaderText(name, version));
    return true;
  }

  std::string ClassName() const override { return "ElementRecord"; }

 private:
  const RecordLayout& layout_;
  const void* element_ = nullptr;
  RecordSink* sink_ = nullptr;
  std::size_t index_ = 0;
};

// The elements as a collection record, written in version 1 as
// VectorCollection writes; any collection version is read.
class ListRecord : public IPersistableCollection {
 public:
  ListRecord(std::string name, const RecordLayout& layout, std::size_t count,
             const std::function<const void*(std::size_t)>* at, RecordSink* sink)
      : name_(std::move(name)), layout_(layout), count_(count), at_(at), sink_(sink) {}

  std::string Name(std::int32_t) override { return name_; }
  IPersistableSimplePtr NewChild(std::int32_t) override {
    sink_->Append();
    return std::make_shared<ElementRecord>(layout_, *sink_, children_.size() + pending_++);
  }
  void Add(const IPersistableSimplePtr& child, std::int32_t) override {
    children_.push_back(child);
    --pending_;
  }
  void Clear(std::int32_t) override {
    sink_->Clear();
    children_.clear();
    pending_ = 0;
  }
  IPersistableSimplePtr Item(std::int32_t index, std::int32_t) override {
    const auto i = static_cast<std::size_t>(index - 1);
    if (sink_) return children_.at(i);
    return std::make_shared<ElementRecord>(layout_, (*at_)(i));
  }
  std::int32_t Count(std::int32_t) override { return static_cast<std::int32_t>(sink_ ? children_.size() : count_); }
  bool Compatible(const std::string& name, std::int32_t version) override {
    if (name != name_)
      Raise(ERR_StreamObjectIncompatible, "Collection is incompatible with stream collection: expected " + name_ +
                                              ", found " + HeaderText(name, version));
    return true;
  }
  std::int32_t GetChildVersion(std::int32_t) override { return layout_.RecordVersion(); }
  std::string ClassName() const override { return "ListRecord"; }

 private:
  std::string name_;
  const RecordLayout& layout_;
  std::size_t count_;
  const std::function<const void*(std::size_t)>* at_;
  RecordSink* sink_;
  std::vector<IPersistableSimplePtr> children_;
  std::size_t pending_ = 0;
};

void CheckCount(std::size_t count) {
  if (count > static_cast<std::size_t>(INT32_MAX)) Raise(ERR_Overflow);
}

}  // namespace

void RecordLayout::Check() const {
  CheckName(name_, "record type");
  if (version_ < 1)
    Raise(ERR_General,
          "The record type " + name_ + " has version " + std::to_string(version_) + ": versions start at 1");
  std::unordered_set<std::string> seen;
  for (const auto& field : fields_) {
    if (field.Name.empty() || field.Name.find_first_of(" \t\r\n") != std::string::npos)
      Raise(ERR_General, "The record type " + name_ + " has a field named \"" + field.Name +
                             "\": field names are not empty and hold no blanks");
    std::string key;
    for (char c : field.Name) key += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (!seen.insert(key).second)
      Raise(ERR_General, "The record type " + name_ + " names the field " + field.Name +
                             " twice (names are compared without regard to case)");
  }
}

namespace detail {

void WriteRecordList(QMStream& out, const std::string& name, const RecordLayout& layout, std::size_t count,
                     const std::function<const void*(std::size_t)>& at) {
  QM_FRAME_TRY {
    layout.Check();
    CheckName(name, "collection");
    CheckCount(count);
    out.WriteCollectionSimple(std::make_shared<ListRecord>(name, layout, count, &at, nullptr), 1);
  }
  QM_FRAME_CATCH("Records", "Public Sub WriteRecords", out, name);
}

void ReadRecordList(QMStream& in, const std::string& name, const RecordLayout& layout, RecordSink& sink,
                    const PersistanceContextPtr& context) {
  QM_FRAME_TRY {
    layout.Check();
    CheckName(name, "collection");
    in.ReadCollectionSimple(std::make_shared<ListRecord>(name, layout, 0, nullptr, &sink), true,
                            context ? context : std::make_shared<PersistanceContext>());
  }
  QM_FRAME_CATCH("Records", "Public Function ReadRecords", in, name);
}

void SaveRecordList(const std::filesystem::path& file, const std::string& name, const RecordLayout& layout,
                    std::size_t count, const std::function<const void*(std::size_t)>& at) {
  QM_FRAME_TRY {
    // The records are built in memory and replace the file in one step.
    const auto text = TextStream::InMemory();
    QMStream out;
    out.Use(text);
    WriteRecordList(out, name, layout, count, at);
    try {
      io::AtomicFile::WriteWhole(file, text->Text());
    } catch (...) {
      frame::RethrowForTarget(file);
    }
  }
  QM_FRAME_CATCH("Records", "Public Sub SaveRecords", file.string(), name);
}

void LoadRecordList(const std::filesystem::path& file, const std::string& name, const RecordLayout& layout,
                    RecordSink& sink) {
  QM_FRAME_TRY {
    QMStream in;
    in.Use(TextStream::Open(file.string(), IOMode::ForReading));
    ReadRecordList(in, name, layout, sink, nullptr);
    in.Close_();
  }
  QM_FRAME_CATCH("Records", "Public Function LoadRecords", file.string(), name);
}

}  // namespace detail
}  // namespace qm
