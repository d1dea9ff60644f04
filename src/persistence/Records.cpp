// Typed records: a description (RecordLayout) walked over the simple records'
// grammar (RecordLines), the one QMStream's simple records use. Each value is
// turned into its text, or read from it, once, by the scalar text forms of
// ScalarField, and straight into the member.

#include "quillmark/persistence/RecordStream.h"

#include <charconv>
#include <cmath>
#include <unordered_set>

#include "frame/FileErrors.h"
#include "frame/PrivateState.h"
#include "io/AtomicFile.h"
#include "persistence/RecordLines.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/values/Conversions.h"
#include "values/DateText.h"

namespace qm {
namespace {

using namespace std::chrono;
using detail::HeaderView;
using detail::kCollectionMarker;
using detail::kObjectMarker;
using detail::LTrimView;
using detail::RecordLines;
using FieldSpec = RecordLayout::FieldSpec;

enum Kind : std::size_t { kInt32, kInt64, kDouble, kString, kBool, kSys, kLocal, kDate };

// Records may nest this deep (a type may hold a vector of itself, and a file
// may nest as deep as it likes): the walk is recursive.
constexpr std::size_t kMaxDepth = 200;

// "Order @2" as the header carries it (no version part for 0 or less).
std::string HeaderText(std::string_view name, std::int32_t version) {
  std::string text(name);
  if (version > 0) text += " @" + std::to_string(version);
  return text;
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

// Where a walk is: "Day[3].Readings[17]", each step a record (the outermost
// one by its type's name, member collections by their field's name) and its
// position in its vector. Descriptions are checked once per walk.
class Walk {
 protected:
  // A collection whose count is being read has no element yet.
  static constexpr std::size_t kNoIndex = SIZE_MAX;
  struct Step {
    std::string_view Name;
    std::size_t Index = kNoIndex;
  };

  std::string Path(const FieldSpec* field) const {
    std::string path;
    for (const Step& step : steps_) {
      if (!path.empty()) path += '.';
      path += step.Name;
      if (step.Index != kNoIndex) path += '[' + std::to_string(step.Index) + ']';
    }
    if (field) path += (path.empty() ? "" : ".") + field->Name;
    return path;
  }

  // Checks the description and those of its member collections, each once,
  // before anything is read or written.
  void CheckAll(const RecordLayout& layout) {
    for (const RecordLayout* known : checked_)
      if (known == &layout) return;
    layout.Check();
    checked_.push_back(&layout);
    for (const FieldSpec& field : layout.Fields())
      if (field.List) CheckAll(field.List->Layout());
  }

  void CheckDepth() const {
    if (steps_.size() >= kMaxDepth)
      Raise(ERR_Overflow,
            "Overflow: records nest deeper than " + std::to_string(kMaxDepth) + " levels at " + Path(nullptr));
  }

  std::vector<Step> steps_;
  const FieldSpec* field_ = nullptr;  // the field being read or written

 private:
  std::vector<const RecordLayout*> checked_;
};

// ---- writing ----

class Writer : Walk {
 public:
  explicit Writer(QMStream& out) : lines_(out) {}

  void List(std::string_view name, const RecordList& list, const void* owner) {
    const RecordLayout& layout = list.Layout();
    if (steps_.empty()) CheckAll(layout);
    CheckDepth();
    const std::size_t count = list.Count(owner);
    if (count > static_cast<std::size_t>(INT32_MAX)) Raise(ERR_Overflow);
    lines_.WriteHeader(kCollectionMarker, name, 1, true);
    lines_.WriteCount(static_cast<std::int32_t>(count));
    lines_.Stream().Indent();
    steps_.push_back({steps_.empty() ? std::string_view(layout.RecordName()) : name, 0});
    for (std::size_t i = 0; i < count; ++i) {
      steps_.back().Index = i;
      Element(layout, list.At(owner, i));
    }
    steps_.pop_back();
    lines_.Stream().UnIndent();
  }

 private:
  void Element(const RecordLayout& layout, const void* element) {
    lines_.WriteHeader(kObjectMarker, layout.RecordName(), layout.RecordVersion(), true);
    lines_.Stream().Indent();
    for (const FieldSpec& field : layout.Fields()) {
      if (field.List || (field.Has && !field.Has(element))) continue;
      field_ = &field;
      lines_.WriteProperty(field.Name, Text(field.Get(element)));
    }
    field_ = nullptr;
    for (const FieldSpec& field : layout.Fields())
      if (field.List) List(field.Name, *field.List, element);
    lines_.Stream().UnIndent();
  }

  [[noreturn]] void Refuse(const std::string& detail) const {
    Raise(ERR_InvalidProcedureCall,
          std::string(StandardErrorText(ERR_InvalidProcedureCall)) + ": field " + Path(field_) + " " + detail);
  }

  // The text form of a string must read back as the same string.
  void CheckText(const std::string& text) const {
    if (!text.empty() && (text.front() == ' ' || text.back() == ' '))
      Refuse("begins or ends with blanks, which a record drops");
    if (text.find("\\n") != std::string::npos)
      Refuse("holds the two characters \\n, which a record reads as a line break");
    for (std::size_t i = 0; i < text.size(); ++i) {
      const bool pair = text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
      if (pair) ++i;
      else if (text[i] == '\r' || text[i] == '\n') Refuse("holds a line break other than CR LF");
    }
  }

  std::string_view DateText(sys_seconds when) {
    const auto day = floor<days>(when);
    const year_month_day ymd(day);
    const hh_mm_ss time(when - day);
    const int y = static_cast<int>(ymd.year());
    if (y < 1 || y > 9999) Refuse("holds a date outside the years 1 to 9999");
    text_ = CStr(
        Variant(MakeDate(y, static_cast<int>(static_cast<unsigned>(ymd.month())),
                         static_cast<int>(static_cast<unsigned>(ymd.day())), static_cast<int>(time.hours().count()),
                         static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()))));
    return text_;
  }

  template <class Integer>
  std::string_view Digits(Integer value) {
    return {digits_, static_cast<std::size_t>(std::to_chars(digits_, digits_ + sizeof digits_, value).ptr - digits_)};
  }

  // The field's text as ScalarField writes its type.
  std::string_view Text(const RecordValue& value) {
    switch (value.index()) {
      case kInt32: return Digits(std::get<kInt32>(value));
      case kInt64: return Digits(std::get<kInt64>(value));
      case kDouble: return text_ = WriteInvariantNumber(std::get<kDouble>(value));
      case kString: {
        const std::string& text = std::get<kString>(value);
        CheckText(text);
        if (text.find('\r') == std::string::npos) return text;  // the value lives while its line is written
        return text_ = detail::StringToText(text);
      }
      case kBool: return std::get<kBool>(value) ? "True" : "False";
      case kSys: return DateText(std::get<kSys>(value));
      case kLocal: return DateText(sys_seconds(std::get<kLocal>(value).time_since_epoch()));
      default: {
        const year_month_day date = std::get<kDate>(value);
        if (!date.ok()) Refuse("holds no valid date");
        return DateText(sys_days(date));
      }
    }
  }

  RecordLines lines_;
  std::string text_;
  char digits_[24];
};

// ---- reading ----

std::int64_t ReadInt64(std::string_view text) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec == std::errc() && ptr == end && !text.empty()) return value;
  // Other number forms round half to even, as an integer field reads them.
  double number = 0;
  if (!TryParseNumber(text, number)) Raise(ERR_TypeMismatch);
  number = RoundHalfEven(number);
  if (!(number >= -9223372036854775808.0 && number < 9223372036854775808.0)) Raise(ERR_Overflow);
  return static_cast<std::int64_t>(number);
}

sys_seconds ReadDate(std::string_view text) {
  const DateParts p = SplitDate(detail::DateFromText(text));
  return sys_days(year{p.Year} / p.Month / p.Day) + hours{p.Hour} + minutes{p.Minute} + seconds{p.Second};
}

// The value a field's text stands for, by ScalarField::SetStreamValue's rules
// (the same helpers, RecordText.h).
RecordValue ReadValue(std::size_t kind, std::string_view text) {
  switch (kind) {
    case kInt32: return detail::ReadIntegerText(text);
    case kInt64: return ReadInt64(text);
    case kDouble: return Val(text);
    case kString: return detail::StringFromText(text);
    case kBool: return detail::ReadBoolean(text);
    case kSys: return ReadDate(text);
    case kLocal: return local_seconds(ReadDate(text).time_since_epoch());
    default: return year_month_day(floor<days>(ReadDate(text)));
  }
}

class Reader : Walk {
 public:
  Reader(QMStream& in, std::string file) : lines_(in), file_(std::move(file)) {}

  void Outermost(const std::string& name, const RecordList& list, void* owner) {
    try {
      CheckAll(list.Layout());
      const HeaderView header = CollectionHeader();
      if (header.Name != name)
        Fail(ERR_StreamObjectIncompatible, "Collection is incompatible with stream collection: expected " + name +
                                               ", found " + HeaderText(header.Name, header.Version));
      List(name, list, owner);
    } catch (const Error& e) {
      if (placed_) throw;
      // Raised by the line layer or a conversion: the place is added.
      std::string where = steps_.empty() && !field_ ? std::string() : " at " + Path(field_);
      if (!file_.empty()) where += " in " + file_;
      throw Error(e.Number(), e.Errc(), e.Source(), e.Description() + where);
    }
  }

 private:
  // Raises with the place named: the path (unless the description names it) and the file.
  [[noreturn]] void Fail(std::int32_t number, const std::string& description, bool named = false) {
    std::string text = description;
    if (!named && (!steps_.empty() || field_)) text += " at " + Path(field_);
    if (!file_.empty()) text += " in " + file_;
    placed_ = true;
    Raise(number, text);
  }

  HeaderView CollectionHeader() {
    const std::string_view line = lines_.Peek();
    if (!LTrimView(line).starts_with(kCollectionMarker))
      Fail(ERR_StreamNotPointingToObject, "Stream not pointing to collection");
    return detail::ParseHeader(line, kCollectionMarker.size());
  }

  // At the collection header, already matched to `name`.
  void List(std::string_view name, const RecordList& list, void* owner) {
    const RecordLayout& layout = list.Layout();
    CheckDepth();
    lines_.Read();
    steps_.push_back({steps_.empty() ? std::string_view(layout.RecordName()) : name});
    const std::int32_t count = lines_.ReadCount();
    list.Clear(owner);
    // Elements are made one at a time as their records come, so a damaged
    // count costs no more than the records the file holds.
    for (std::int32_t i = 0; i < count; ++i) {
      steps_.back().Index = static_cast<std::size_t>(i);
      Element(layout, list.Append(owner));
    }
    steps_.pop_back();
  }

  void Element(const RecordLayout& layout, void* element) {
    const std::string_view line = lines_.Peek();
    const std::size_t indent = detail::Indentation(line);
    if (!LTrimView(line).starts_with(kObjectMarker))
      Fail(ERR_StreamNotPointingToObject, "Stream not pointing to object");
    const HeaderView header = detail::ParseHeader(line, kObjectMarker.size());
    if (header.Name != layout.RecordName() || header.Version > layout.RecordVersion())
      Fail(ERR_StreamObjectIncompatible, "Object is incompatible with stream object: expected " + layout.RecordName() +
                                             " (version " + std::to_string(layout.RecordVersion()) +
                                             " or older), found " + HeaderText(header.Name, header.Version));
    lines_.Read();

    const std::vector<FieldSpec>& fields = layout.Fields();
    for (const FieldSpec& field : fields)
      if (field.Reset) field.Reset(element);
    std::size_t next = 0;  // fields come in their written order: the next one is tried first
    std::string_view value;
    while (lines_.NextProperty(name_, value)) {
      const FieldSpec* field = next < fields.size() && fields[next].Name == name_ ? &fields[next] : nullptr;
      for (std::size_t i = 0; !field && i < fields.size(); ++i)
        if (detail::SameFieldName(fields[i].Name, name_)) field = &fields[next = i];
      if (field && !field->List) {
        ++next;
        field_ = field;
        try {
          field->Set(element, ReadValue(field->Kind, value));
        } catch (const Error& e) {
          Fail(e.Number(),
               std::string(StandardErrorText(e.Number())) + ": field " + Path(field) + " holds \"" +
                   (value.size() > 80 ? std::string(value.substr(0, 77)) + "..." : std::string(value)) + "\"",
               true);
        }
        field_ = nullptr;
      }
      if (name_.empty()) break;  // an unnamed property ends the record, as for the published reader
    }

    // Member collections: collection records indented deeper than the header.
    for (;;) {
      const std::string_view next_line = lines_.Peek();
      if (detail::Indentation(next_line) <= indent || !LTrimView(next_line).starts_with(kCollectionMarker)) break;
      const HeaderView member = detail::ParseHeader(next_line, kCollectionMarker.size());
      const FieldSpec* field = nullptr;
      for (const FieldSpec& f : fields)
        if (f.List && detail::SameFieldName(f.Name, member.Name)) field = &f;
      if (field) List(field->Name, *field->List, element);
      else SkipDeeperThan(detail::Indentation(next_line));
    }
  }

  // A member collection the type does not describe: its header, its count and
  // every line indented deeper than the header.
  void SkipDeeperThan(std::size_t indent) {
    lines_.Read();
    if (!lines_.Stream().AtEndOfStream()) lines_.Read();
    while (!lines_.Stream().AtEndOfStream()) {
      const std::string_view line = lines_.Peek();
      if (detail::Indentation(line) <= indent && !line.empty()) break;
      lines_.Read();
    }
  }

  RecordLines lines_;
  std::string file_;
  std::string name_;     // the property being read
  bool placed_ = false;  // the error raised names its place
};

}  // namespace

struct RecordLayout::Impl {
  std::string name;
  std::int32_t version = 1;
  std::vector<FieldSpec> fields;
};

RecordLayout::RecordLayout() : impl_(std::make_unique<Impl>()) {}
RecordLayout::RecordLayout(const RecordLayout& other) : impl_(frame::CopiedState(other.impl_)) {}
RecordLayout& RecordLayout::operator=(const RecordLayout& other) {
  if (this != &other) impl_ = frame::CopiedState(other.impl_);
  return *this;
}
RecordLayout::RecordLayout(RecordLayout&&) noexcept = default;
RecordLayout& RecordLayout::operator=(RecordLayout&&) noexcept = default;
RecordLayout::~RecordLayout() = default;

RecordLayout::Impl& RecordLayout::State() { return frame::WritableState(impl_); }

const RecordLayout::Impl& RecordLayout::State() const { return frame::ReadableState(impl_); }

const std::string& RecordLayout::RecordName() const { return State().name; }
std::int32_t RecordLayout::RecordVersion() const { return State().version; }
const std::vector<RecordLayout::FieldSpec>& RecordLayout::Fields() const { return State().fields; }
void RecordLayout::SetName(std::string name) { State().name = std::move(name); }
void RecordLayout::SetVersion(std::int32_t version) { State().version = version; }
void RecordLayout::AddField(FieldSpec field) { State().fields.push_back(std::move(field)); }

void RecordLayout::Check() const {
  const auto& [name, version, fields] = State();
  CheckName(name, "record type");
  if (version < 1)
    Raise(ERR_General, "The record type " + name + " has version " + std::to_string(version) + ": versions start at 1");
  std::unordered_set<std::string> seen;
  for (const auto& field : fields) {
    if (field.Name.empty() || field.Name.find_first_of(" \t\r\n") != std::string::npos ||
        (field.List && field.Name.find('@') != std::string::npos))
      Raise(ERR_General, "The record type " + name + " has a field named \"" + field.Name +
                             "\": field names are not empty and hold no blanks (nor \"@\" for collections)");
    std::string key;
    for (char c : field.Name) key += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (!seen.insert(key).second)
      Raise(ERR_General, "The record type " + name + " names the field " + field.Name +
                             " twice (names are compared without regard to case)");
  }
}

namespace detail {

void WriteRecordList(QMStream& out, const std::string& name, const RecordList& list, const void* owner) {
  QM_FRAME_TRY {
    CheckName(name, "collection");
    const std::int32_t indent = out.IndentWidth();
    try {
      Writer(out).List(name, list, owner);
    } catch (...) {
      RecordLines(out).SetIndentWidth(indent);  // the stream stays usable
      throw;
    }
  }
  QM_FRAME_CATCH("Records", "Public Sub WriteRecords", out, name);
}

void ReadRecordList(QMStream& in, const std::string& name, const RecordList& list, void* owner) {
  QM_FRAME_TRY {
    CheckName(name, "collection");
    Reader(in, {}).Outermost(name, list, owner);
  }
  QM_FRAME_CATCH("Records", "Public Function ReadRecords", in, name);
}

void SaveRecordList(const std::filesystem::path& file, const std::string& name, const RecordList& list,
                    const void* owner) {
  QM_FRAME_TRY {
    // The records are built in memory and replace the file in one step.
    const auto text = TextStream::InMemory();
    QMStream out;
    out.Use(text);
    WriteRecordList(out, name, list, owner);
    try {
      io::AtomicFile::WriteWhole(file, text->Text());
    } catch (...) {
      frame::RethrowForTarget(file);
    }
  }
  QM_FRAME_CATCH("Records", "Public Sub SaveRecords", file.string(), name);
}

void LoadRecordList(const std::filesystem::path& file, const std::string& name, const RecordList& list, void* owner) {
  QM_FRAME_TRY {
    CheckName(name, "collection");
    QMStream in;
    try {
      in.Use(TextStream::Open(file, IOMode::ForReading));
    } catch (...) {
      frame::RethrowForInput(file);
    }
    Reader(in, file.string()).Outermost(name, list, owner);
    in.Close_();
  }
  QM_FRAME_CATCH("Records", "Public Function LoadRecords", file.string(), name);
}

}  // namespace detail
}  // namespace qm
