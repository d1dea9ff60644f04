// QMStream: its lines (push back, indentation, reading ahead in big files),
// the simple records, the property-list records, and their scalar fields.

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "PropertyClients.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/persistence/IPersistable.h"
#include "quillmark/persistence/PersistanceContext.h"
#include "quillmark/persistence/QMStream.h"
#include "quillmark/persistence/RecordStream.h"
#include "quillmark/persistence/ScalarFields.h"
#include "quillmark/runtime/Settings.h"
#include "support/ErrorTrail.h"
#include "support/TestEnvironment.h"

namespace {

using namespace qm;
using namespace qm::test;
using Lines = std::vector<std::string>;
using Describer = std::function<void(ScalarFields&)>;

QMStream On(const TextStreamPtr& text) {
  QMStream s;
  s.Use(text);
  return s;
}

QMStream Reader(std::string text) { return On(TextStream::FromText(std::move(text))); }

// What `write` writes on a record stream into a fresh text in memory.
std::string Written(const std::function<void(QMStream&)>& write) {
  const auto out = TextStream::InMemory();
  QMStream w = On(out);
  write(w);
  return out->Text();
}

// Fields of these names, types and first values; a reference refers to a Customer.
Describer Fields(const std::vector<std::tuple<const char*, ScalarTypeConstants, Variant>>& list) {
  return [list](ScalarFields& f) {
    for (const auto& [name, type, value] : list) {
      const auto field = f.AddDetails(name, type, value);
      if (type == ST_Reference) field->SetReferenceClass("Customer");
    }
  };
}

Variant List(std::initializer_list<const char*> names) {
  std::vector<Variant> v;
  for (const char* n : names) v.emplace_back(n);
  return VariantArray::FromVector(std::move(v));
}

const Describer kId = Fields({{"Id", ST_Integer, 0}});

// A Base that answers Compatible with Accept and remembers what it was asked: "Name @Version".
template <class Base>
struct Checked : Base {
  bool Compatible(const std::string& Name, std::int32_t Version) override {
    Seen = Name + " @" + std::to_string(Version);
    return Accept;
  }
  bool Accept = true;
  std::string Seen;
};

// An object whose fields are built by a callback; it remembers how the stream called it.
class Thing : public Checked<IPersistableSimple> {
 public:
  explicit Thing(Describer describe = {}, std::string title = "Thing")
      : Describe(std::move(describe)), Title(std::move(title)) {}
  ScalarFieldsPtr GetScalarFields(std::int32_t Version) override {
    FieldsVersion = Version;
    if (NoFields) return nullptr;
    auto fields = std::make_shared<ScalarFields>();
    if (Describe) Describe(*fields);
    return fields;
  }
  void SetScalarFields(std::int32_t Version, const ScalarFieldsPtr& Fields) override {
    SetVersion = Version;
    Received = Fields;
  }
  std::string Name(std::int32_t Version) override {
    NameVersion = Version;
    return Title;
  }
  // The value read for a field, as text.
  std::string Text(const std::string& name) const { return CStr(Received->ItemName(name)->Value()); }

  Describer Describe;
  std::string Title;
  bool NoFields = false;
  std::int32_t FieldsVersion = -99, SetVersion = -99, NameVersion = -99;
  ScalarFieldsPtr Received;
};

// A Thing that also hears about unknown fields.
class Listener : public Thing, public IPersistableHdleUnknown {
 public:
  using Thing::Thing;
  void SetUnknownField(std::int32_t Version, const std::string& FieldName, const Variant& FieldValue) override {
    Unknown.push_back(std::to_string(Version) + ":" + FieldName + "=" + CStr(FieldValue));
  }
  Lines Unknown;
};

// A referenceable object with a key.
class Keyed : public Thing, public IPersistableReference {
 public:
  Keyed(std::string cls, std::string key) : Class(std::move(cls)), Id(std::move(key)) {}
  std::string ReferenceClass(std::int32_t) override { return Class; }
  std::string Key(std::int32_t) override { return Id; }
  std::string Class, Id;
};

// A collection of Things, which it makes by Make (with an Id field unless told otherwise).
class Things : public Checked<IPersistableCollection> {
 public:
  explicit Things(std::string title = "Things") : Title(std::move(title)) {}
  std::string Name(std::int32_t) override { return Title; }
  IPersistableSimplePtr NewChild(std::int32_t Version) override {
    Calls.push_back("NewChild" + std::to_string(Version));
    return Make();
  }
  void Add(const IPersistableSimplePtr& Child, std::int32_t) override {
    Items.push_back(std::dynamic_pointer_cast<Thing>(Child));
  }
  void Clear(std::int32_t Version) override {
    Calls.push_back("Clear" + std::to_string(Version));
    Items.clear();
  }
  IPersistableSimplePtr Item(std::int32_t Index, std::int32_t) override { return Items.at(Index - 1); }
  std::int32_t Count(std::int32_t) override { return static_cast<std::int32_t>(Items.size()); }
  std::int32_t GetChildVersion(std::int32_t) override { return 1; }
  void LoadCompleted() override { Calls.push_back("LoadCompleted"); }

  std::string Title;
  std::vector<std::shared_ptr<Thing>> Items;
  Lines Calls;
  std::function<std::shared_ptr<Thing>()> Make = [] { return std::make_shared<Thing>(kId); };
};

TEST(QMStreamLines, PushBackPeekIndentationErrorsAndClose) {
  QMStream s = Reader("A\r\nB\nC");
  EXPECT_EQ(s.CurrentLine(), "");
  for (int i = 0; i < 2; ++i) s.ReadLine();
  for (int i = 0; i < 2; ++i) s.UnReadLine();
  EXPECT_EQ(s.CurrentLine(), "");
  EXPECT_EQ((Lines{s.ReadLine(), s.ReadLine(), s.ReadLine()}), (Lines{"A", "B", "C"}));
  EXPECT_EQ((std::pair{s.AtEndOfStream(), s.Peek()}), std::pair(true, std::string()));
  s.UnReadLine();
  EXPECT_FALSE(s.AtEndOfStream());
  EXPECT_EQ((Lines{s.Peek(), s.Peek(), s.CurrentLine()}), (Lines{"C", "C", "B"}));
  // An empty first line is a line. (Pushing back past the first line:
  // PushedBackLinesAreTheLinesReadWhateverHappensToTheFile.)
  s.Use(TextStream::FromText("\n\nx\n"));
  EXPECT_EQ((Lines{s.ReadLine(), s.ReadLine(), s.Peek()}), (Lines{"", "", "x"}));

  EXPECT_EQ(Written([](QMStream& w) {
              for (int i = 0; i < 2; ++i) w.Indent();
              w.WriteLine("x");
              w.WriteLine();
              w.WriteLine("a\r\nb");
              w.WriteBlankLines(2);
              for (int i = 0; i < 3; ++i) w.UnIndent();  // one more than indented
              EXPECT_EQ(w.IndentWidth(), 0);
              w.WriteLine("x");
            }),
            "      x\r\n      \r\n      a\r\nb\r\n\r\n\r\nx\r\n");
  // A second Use forgets the pushed-back lines but keeps the indentation.
  s.Indent();
  s.Use(TextStream::FromText("P\nQ\n"));
  EXPECT_EQ(s.ReadLine(), "P");
  s.UnReadLine();
  s.Use(TextStream::FromText("R\n"));
  EXPECT_EQ((std::pair{s.ReadLine(), s.IndentWidth()}), std::pair(std::string("R"), 3));

  // Errors carry the stream's elements.
  EXPECT_EQ(Trail([&] { s.SkipLine(); }),
            "62: Input past end of file @ QuillmarkLibrary.QMStream|[QMStream]Public Function ReadLine()|"
            "[QMStream]Public Sub SkipLine()");
  QMStream unbound;
  EXPECT_NO_THROW(unbound.UnReadLine());
  EXPECT_EQ((std::pair{unbound.CurrentLine(), ErrorOf([&] { unbound.WriteLine("x"); })}), std::pair(std::string(), 91));

  // Close closes the bound stream and forgets the lines.
  s.Close_();
  EXPECT_EQ((std::pair{s.CurrentLine(), Described([&] { s.ReadLine(); })}),
            std::pair(std::string(), std::string("52: Bad file name or number")));
}

// A file larger than a read block is read ahead on a thread, into blocks of
// 2 MiB whose first 64 KiB are kept free for the line a block ends inside.
// A CR LF pair parted by a block boundary, a line longer than that room
// across one, a line of several blocks, and a line ending right at a boundary
// come back whole; the bytes still to come count the blocks read ahead; a
// file that grows meanwhile is read to its new end. (Streams let go while
// their blocks are read ahead: ReadAheadMemory, BackgroundFailures.)
TEST(QMStreamLines, FileReadAheadAcrossBlockBoundaries) {
  constexpr std::size_t kText = (std::size_t{2} << 20) - (std::size_t{64} << 10);  // the text of a block
  Lines lines;
  std::string bytes;
  const auto add = [&](std::string line, const char* end) {
    bytes += line + end;
    lines.push_back(std::move(line));
  };
  const auto fillUntil = [&](std::size_t next) {  // the next line starts at `next`
    while (next - bytes.size() > 64) add("filler " + std::to_string(lines.size()), "\n");
    add(std::string(next - bytes.size() - 1, 'f'), "\n");
  };
  fillUntil(kText - 5);
  add("abcd", "\r\n");  // CR at the block's last byte, LF at the next one's first
  fillUntil(2 * kText - 80000);
  add(std::string(100000, 'L'), "\r\n");
  fillUntil(3 * kText);
  add("first of the fourth block", "\n");
  add(std::string(5 * kText / 2, 'M'), "\n");  // across three block boundaries
  fillUntil(7 * kText + kText / 2);
  add("the end of the file as opened", "\n");

  ScratchDir dir;
  WriteFile(dir / "big.txt", bytes);
  const auto stream = TextStream::Open(dir / "big.txt", IOMode::ForReading);
  QMStream s = On(stream);
  const auto readOn = [&](std::size_t from) {  // `bytes` are still to come
    std::uint64_t remaining = stream->RemainingBytes();
    EXPECT_EQ(remaining, bytes.size());
    for (std::size_t i = from; i < lines.size(); ++i) {
      ASSERT_EQ(s.ReadLine(), lines[i]);
      ASSERT_LE(stream->RemainingBytes(), remaining);
      remaining = stream->RemainingBytes();
    }
    EXPECT_EQ(remaining, 0u);
  };
  readOn(0);
  // Once its last line is read, the file grows by more than a block: the
  // reading goes on to the new end, as a stream reading without a thread's
  // help would.
  const std::size_t grownFrom = lines.size();
  bytes.clear();
  while (bytes.size() < 3 * kText) add("grown " + std::to_string(lines.size()), "\n");
  add("the end", "");
  std::ofstream(dir / "big.txt", std::ios::binary | std::ios::app) << bytes;
  readOn(grownFrom);
  EXPECT_TRUE(s.AtEndOfStream());
  for (std::size_t back = 0; back < lines.size(); ++back) s.UnReadLine();
  for (const std::string& line : lines) ASSERT_EQ(s.ReadLine(), line);
}

// Lines pushed back are handed out again exactly as they were first read,
// even when the file was rewritten or cut short meanwhile: nothing is read
// from the file twice.
TEST(QMStreamLines, PushedBackLinesAreTheLinesReadWhateverHappensToTheFile) {
  ScratchDir dir;
  constexpr int kLines = 70000;  // about 3 MB: more than one read block
  const char* ends[] = {"\r\n", "\n", "\r"};
  const auto line = [](int i) { return "   line " + std::to_string(i) + std::string(30, '.'); };
  std::string plain, utf16 = "\xFF\xFE";
  for (int i = 0; i < kLines; ++i) plain += line(i) + ends[i % 3];
  for (char c : plain) utf16 += std::string{c, '\0'};
  for (const std::string& bytes : {"\xEF\xBB\xBF" + plain, utf16}) {
    SCOPED_TRACE(bytes.substr(0, 2));
    const auto path = dir / "lines.txt";
    WriteFile(path, bytes);
    const auto stream = TextStream::Open(path, IOMode::ForReading, true, TextFormat::SystemDefault);
    EXPECT_EQ(stream->ReadLine(), line(0)) << "read by the client before Use";
    QMStream s = On(stream);
    for (int i = 1; i < kLines / 2; ++i) ASSERT_EQ(s.ReadLine(), line(i));
    EXPECT_EQ(stream->ReadLine(), line(kLines / 2)) << "the client reads the stream itself in between";

    // Rewritten in place with other text of the same size, then cut short.
    std::string other = bytes;
    for (std::size_t i = 3; i < other.size(); ++i)
      if (other[i] == 'l') other[i] = 'L';
    WriteFile(path, other);
    for (int back = 1; back < kLines / 2; ++back) s.UnReadLine();
    for (int i = 1; i < kLines / 2; ++i) ASSERT_EQ(s.ReadLine(), line(i));
    std::filesystem::resize_file(path, 10);
    for (int back = 1; back < kLines / 2 + 5; ++back) s.UnReadLine();
    for (int i = 0; i < 5; ++i) EXPECT_EQ(s.ReadLine(), "") << "pushed back before the first line";
    for (int i = 1; i < kLines / 2; ++i) ASSERT_EQ(s.ReadLine(), line(i));
    EXPECT_EQ(s.CurrentLine(), line(kLines / 2 - 1));
  }

  // A memory stream: the lines read stay as they were while more is written to it.
  const auto memory = TextStream::FromText("a\nb\n");
  QMStream m = On(memory);
  EXPECT_EQ(m.ReadLine(), "a");
  memory->Write("c\n");
  EXPECT_EQ((Lines{m.ReadLine(), m.ReadLine()}), (Lines{"b", "c"}));
  for (int i = 0; i < 3; ++i) m.UnReadLine();
  EXPECT_EQ((Lines{m.ReadLine(), m.Peek()}), (Lines{"a", "b"}));

  // A memory stream's text moves into blocks of 2 MiB: a CR LF pair across
  // the boundary is still one line end.
  const std::string first((std::size_t{2} << 20) - 1, 'x');
  m.Use(TextStream::FromText(first + "\r\ny"));
  EXPECT_EQ((Lines{m.ReadLine(), m.ReadLine()}), (Lines{first, "y"}));
  EXPECT_TRUE(m.AtEndOfStream());
}

TEST(SimpleRecords, TheCollectionFormatVersionsAndSharedReferences) {
  auto orders = std::make_shared<Things>("Orders");
  for (const auto& [id, note] : {std::pair{17, "first line\r\nsecond line"}, {18, ""}})
    orders->Items.push_back(
        std::make_shared<Thing>(Fields({{"Id", ST_Integer, id}, {"Note", ST_String, note}}), "Order"));
  std::string text = Written([&](QMStream& w) {
    w.WriteCollectionSimple(orders, 2);
    EXPECT_EQ(w.IndentWidth(), 0);
  });
  EXPECT_EQ(text,
            "%Collection Orders @2\r\n2\r\n"
            "   %Object Order @1\r\n      %Property Id\r\n         17\r\n"
            "      %Property Note\r\n         first line\\nsecond line\r\n"
            "   %Object Order @1\r\n      %Property Id\r\n         18\r\n"
            "      %Property Note\r\n         \r\n");
  auto back = std::make_shared<Things>();
  back->Make = [] { return std::make_shared<Thing>(Fields({{"Id", ST_Integer, 0}, {"Note", ST_String, "unset"}})); };
  QMStream r = Reader(text);
  r.ReadCollectionSimple(back, true);
  EXPECT_EQ(back->Calls, (Lines{"Clear2", "NewChild2", "NewChild2", "LoadCompleted"}));
  ASSERT_EQ(back->Items.size(), 2u);
  EXPECT_EQ(back->Seen + "|" + std::to_string(back->Items[0]->SetVersion) + "|" + back->Items[0]->Text("Note") + "|" +
                back->Items[1]->Text("Id") + "|" + back->Items[1]->Text("Note"),
            "Orders @2|1|first line\r\nsecond line|18|");
  EXPECT_TRUE(r.AtEndOfStream());

  // Versions: written unless 0 or negative for an object, unless 0 for a collection.
  auto thing = std::make_shared<Thing>();
  auto none = std::make_shared<Things>();
  EXPECT_EQ(Written([&](QMStream& w) {
              for (const auto& [written, named] : {std::pair{3, -1}, {0, -1}, {3, 5}, {2, -4}}) {
                w.WriteObjectSimple(thing, written, named);
                EXPECT_EQ(std::pair(thing->NameVersion, thing->FieldsVersion),
                          std::pair(named == -1 ? written : named, written));
              }
              for (std::int32_t version : {-1, 0}) w.WriteCollectionSimple(none, version);
            }),
            "%Object Thing @3\r\n%Object Thing\r\n%Object Thing @5\r\n%Object Thing\r\n"
            "%Collection Things @-1\r\n0\r\n%Collection Things\r\n0\r\n");
  Reader("%Collection Things @-1\r\n0\r\n").ReadCollectionSimple(none, false);
  EXPECT_EQ(none->Seen, "Things @-1");
  r = Reader("  %Object My Thing @ 2  \r\n%Object Other@7.5\r\n%Object   Lone  \r\n");
  for (const char* seen : {"My Thing @2", "Other @8", "  Lone @0"}) {
    r.ReadObjectSimple(thing);
    EXPECT_EQ(thing->Seen, seen);
  }

  // Shared references resolve through the context.
  auto ada = std::make_shared<Keyed>("Customer", "ada");
  auto customers = std::make_shared<Things>();
  customers->Items = {ada, std::make_shared<Keyed>("Customer", "bob")};
  orders->Items.assign(3, std::make_shared<Thing>(Fields({{"Customer", ST_Reference, ObjectPtr(ada)}})));
  text = Written([&](QMStream& w) {
    w.WriteCollectionSimple(customers, 1);
    w.WriteCollectionSimple(orders, 1);
  });
  auto context = std::make_shared<PersistanceContext>();
  customers->Make = [n = 0]() mutable { return std::make_shared<Keyed>("Customer", n++ == 0 ? "ada" : "bob"); };
  orders->Make = [] { return std::make_shared<Thing>(Fields({{"Customer", ST_Reference, Variant()}})); };
  r = Reader(text);
  r.ReadCollectionSimple(customers, true, context);
  r.ReadCollectionSimple(orders, true, context);
  ASSERT_EQ(orders->Items.size(), 3u);
  EXPECT_NE(customers->Items[0], ada);
  for (const auto& order : orders->Items)
    EXPECT_EQ(order->Received->ItemName("Customer")->Value().ObjectRef(), ObjectPtr(customers->Items[0]));
}

// (An object that does not hear about unknown fields ignores them: see DiagnosticLog.)
TEST(SimpleRecords, FieldsReadBackAndFindNextObject) {
  QMStream r = Reader(
      "%Object Thing @1\r\n"
      "   %Property id extra words\r\n      12\r\n"
      "   %Property Extra\r\n      some value  \r\n"
      "   %Property Name\r\n        padded  \r\n"
      "%Object Next\r\n");
  auto listener = std::make_shared<Listener>(
      Fields({{"Id", ST_Integer, 0}, {"Name", ST_String, "x"}, {"Missing", ST_String, "kept"}}));
  r.ReadObjectSimple(listener);
  EXPECT_EQ(listener->Text("Id") + "|" + listener->Text("Name") + "|" + listener->Text("Missing"), "12|padded|kept");
  EXPECT_EQ(listener->Unknown, (Lines{"1:Extra=some value"}));
  EXPECT_EQ(r.Peek(), "%Object Next") << "the next header stays unread";

  // An empty field name ends the record after its entry.
  r = Reader("%Object Thing\r\n%Property  Id\r\n1\r\n%Property Id\r\n2\r\n");
  auto stops = std::make_shared<Listener>(kId);
  r.ReadObjectSimple(stops);
  EXPECT_EQ(std::pair(stops->Unknown, r.Peek()), std::pair(Lines{"0:=1"}, std::string("%Property Id")));

  const std::string records =
      "noise\r\n   %Object Skip @1\r\n%Property a\r\n%Object Skip @1 \r\n%Collection Keep\r\n%Object Last\r\n";
  r = Reader(records);
  const auto find = [&](const Variant& ignored, const std::optional<Variant>& end = std::nullopt) {
    r.FindNextObject(ignored, end);
    return r.Peek();
  };
  const Variant skip = List({"%Object Skip @1"});
  // A header not in the list stays unread.
  EXPECT_EQ((Lines{find(skip), find(skip), find(List({"%Collection Keep", "x"}))}),
            (Lines{"%Collection Keep", "%Collection Keep", "%Object Last"}));
  // The first header is not ignored; the search stops just past the end marker.
  r = Reader(records);
  EXPECT_EQ((Lines{find(VariantArray(), Variant("%Property a")), find(skip, Variant("%Property a")),
                   find(List({"%Object Skip @1", "%Collection Keep", "%Object Last"}))}),
            (Lines{"   %Object Skip @1", "%Object Skip @1 ", ""}));
  EXPECT_TRUE(r.AtEndOfStream());
  EXPECT_EQ(ErrorOf([&] { Reader("%Object A\r\n").FindNextObject(Variant("x")); }), 13);
}

TEST(SimpleRecords, ErrorsLeaveTheStreamInPlaceAndChildCounts) {
  auto thing = std::make_shared<Thing>(kId), refusing = std::make_shared<Thing>(kId);
  auto noFields = std::make_shared<Thing>();
  auto things = std::make_shared<Things>(), refusingMany = std::make_shared<Things>();
  refusing->Accept = refusingMany->Accept = false;
  noFields->NoFields = true;
  const auto object = [](auto o) { return [o](QMStream& r) { r.ReadObjectSimple(o); }; };
  const auto many = [](auto c) { return [c](QMStream& r) { r.ReadCollectionSimple(c, true); }; };
  // The error, then the next line.
  const std::tuple<const char*, std::function<void(QMStream&)>, const char*> cases[] = {
      {"   %Collection Things\r\n0\r\n", object(thing), "10005: Stream not pointing to object|   %Collection Things"},
      {"", object(thing), "10005: Stream not pointing to object|"},
      {"%Object Thing\r\n", many(things), "10005: Stream not pointing to collection|%Object Thing"},
      {"%Object Thing @4\r\n%Property Id\r\n1\r\n", object(refusing),
       "10006: Object is incompatible with stream object|%Object Thing @4"},
      {"%Collection Things\r\n0\r\n", many(refusingMany),
       "10006: Collection is incompatible with stream collection|%Collection Things"},
      {"%Object Thing\r\n", object(noFields), "9999: GetScalarFields() did not return a fields collection|"},
  };
  for (const auto& [text, read, says] : cases) {
    QMStream r = Reader(text);
    const std::string said = Described([&, &read = read] { read(r); });
    EXPECT_EQ(said + "|" + r.Peek(), says) << text;
  }
  QMStream r = Reader("   %Collection Things\r\n");
  EXPECT_EQ(
      Trail([&] { r.ReadObjectSimple(thing); }),
      "10005: Stream not pointing to object @ QuillmarkLibrary.QMStream|[QMStream]Public Sub ReadObjectSimple(?, ?)");
  EXPECT_EQ(Written([&](QMStream& w) {
              EXPECT_EQ(ErrorOf([&] { w.WriteObjectSimple(nullptr, 1); }), 91);
              EXPECT_EQ(ErrorOf([&] { w.WriteObjectSimple(noFields, 1); }), 91);
            }),
            "%Object Thing @1\r\n");

  // A value line missing at the end, and a bad value, inside a collection.
  for (const auto& [text, number] : {std::pair{"1\r\n%Object Thing\r\n%Property Id\r\n", 62}, {"many\r\n", 13}}) {
    r = Reader(std::string("%Collection Things\r\n") + text);
    EXPECT_EQ(ErrorOf([&] { r.ReadCollectionSimple(things, true); }), number) << text;
  }
  r = Reader("%Collection Things\r\n1\r\n%Object Thing\r\n%Property Id\r\nabc\r\n");
  EXPECT_EQ(Trail([&] { r.ReadCollectionSimple(things, true); }),
            "13: Type mismatch @ QuillmarkLibrary.ScalarField|[ScalarField]Public Sub SetStreamValue(\"abc\", ?)|"
            "[QMStream]Public Sub ReadObjectSimple(?, ?)|[QMStream]Public Sub ReadCollectionSimple(?, True, ?)");

  // Without re-creation the existing children are filled in order.
  things->Items = {std::make_shared<Thing>(kId)};
  things->Calls.clear();
  r = Reader("%Collection Things\r\n2\r\n%Object Thing\r\n%Property Id\r\n1\r\n%Object Thing\r\n");
  r.ReadCollectionSimple(things, false);
  EXPECT_EQ(std::tuple(things->Calls, things->Items[0]->Text("Id"), r.Peek()),
            std::tuple(Lines{"LoadCompleted"}, "1", "%Object Thing"));
  // A count the stream cannot hold makes one child more than there are headers.
  r = Reader("%Collection Things\r\n2000000000\r\n%Object Thing\r\n%Property Id\r\n1\r\nEnd\r\n");
  EXPECT_EQ((std::tuple{ErrorOf([&] { r.ReadCollectionSimple(things, true); }), things->Items.size(), r.Peek()}),
            std::tuple(10005, 2u, "End"));
  Reader("%Collection Things\r\n-3\r\n").ReadCollectionSimple(things, true);
  EXPECT_TRUE(things->Items.empty());
}

// The log of a field read, and of a known field set.
std::string Got(const std::string& name, const std::string& value) {
  return "reading for fieldname = " + name + ", field value=" + value + "\r\nGot field object okay\r\n";
}
std::string Set(const std::string& name, int type) {
  return "About to set field value for " + name + "\r\n" + name + " has a scalartype of " + std::to_string(type) +
         "\r\n";
}

// The switch is asked at every log line: flipped in the middle of one
// collection, it takes effect from the next line on. (That a flip by another
// process is seen is Settings.ForkedChildAndParentKeepEveryWrite.)
TEST(SimpleRecords, DiagnosticLog) {
  std::filesystem::remove(LogFilePath());
  SaveSetting("Quillmark Library", "Init", "Logging", "yes");
  auto context = std::make_shared<PersistanceContext>();
  auto keyed = std::make_shared<Keyed>("Customer", "c1");
  keyed->Describe = Fields({{"Id", ST_Integer, 0}, {"Owner", ST_Reference, Variant()}});
  QMStream r = Reader("%Object Thing\r\n%Property Id\r\n5\r\n%Property Owner\r\nK\r\n%Property Other\r\nx\r\n");
  r.ReadObjectSimple(keyed, context);
  EXPECT_EQ(context->GetReference("Customer", "k2"), nullptr);
  Reader("%Object Thing\r\n%Property Other\r\ny\r\n").ReadObjectSimple(std::make_shared<Listener>());

  SaveSetting("Quillmark Library", "Init", "Logging", "no");
  auto things = std::make_shared<Things>();
  int read = 0;  // logging on from the third object's fields on, off again at the fourth's
  things->Make = [&] {
    return std::make_shared<Thing>([&](ScalarFields& f) {
      if (++read >= 3) SaveSetting("Quillmark Library", "Init", "Logging", read == 3 ? "Yes" : "no");
      kId(f);
    });
  };
  std::string text = "%Collection Things\r\n4\r\n";
  for (int i = 1; i <= 4; ++i) text += "%Object Thing\r\n%Property Id\r\n" + std::to_string(i) + "\r\n";
  Reader(text).ReadCollectionSimple(things, true);
  EXPECT_FALSE(LoggingEnabled());
  DeleteSetting("Quillmark Library", "Init");
  EXPECT_EQ(ReadFile(LogFilePath()),
            Got("Id", "5") + Set("Id", 1) + Got("Owner", "K") + Set("Owner", 5) +
                "Getting the reference for Owner\r\nReference Class Customer does not exist, trying key K\r\n" +
                Got("Other", "x") + "Ignored field Other\r\nAbout to set scalar fields\r\n" +
                "About to add reference to this object to context\r\n"
                "Key k2 does not exist in reference class Customer, returning Nothing\r\n"
                "Keys are : 'Customer, '\r\n" +
                Got("Other", "y") + "Found unknown field, calling IPersistableHdleUnknown for Other\r\n" +
                "About to set scalar fields\r\n" + Got("Id", "3") + Set("Id", 1) + "About to set scalar fields\r\n");
}

const Variant kAll = List({"Name", "Age", "Height", "Ratio", "Member", "Rank", "Code", "Since"});

std::shared_ptr<Person> Ada() {
  auto p = std::make_shared<Person>();
  std::tie(p->Name, p->Age, p->Height, p->Ratio, p->Member, p->Rank, p->Code, p->Since) =
      std::tuple("Ada\r\nLovelace", 36, 0.25, 0.1f, true, std::int16_t{-3}, std::uint8_t{200}, MakeDate(1843, 7, 1));
  return p;
}

// The numbers are written and read the same way whatever the numeric locale.
TEST(PropertyRecords, RoundTripWithoutAccessorsInAnyNumericLocale) {
  for (const char* locale : {"C", "de_DE.UTF-8"}) {
    if (!std::setlocale(LC_NUMERIC, locale)) continue;  // not installed
    const std::string text = Written([](QMStream& w) { w.WriteObject(Ada(), kAll); });
    auto back = std::make_shared<Person>();
    QMStream r = Reader(text);
    const auto result = r.ReadObject(back, kAll);
    const std::string again = Written([&](QMStream& w) { w.WriteObject(back, kAll); });
    const std::string refused = Described([&] { Written([&](QMStream& w) { w.WriteObject(back, Variant("Name")); }); });
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(text,
              "%Object Person\r\n"
              "   %Property Name\r\n      Ada Lovelace\r\n"
              "   %Property Age\r\n      36\r\n"
              "   %Property Height\r\n       .25\r\n"
              "   %Property Ratio\r\n       .1\r\n"
              "   %Property Member\r\n      True\r\n"
              "   %Property Rank\r\n      -3\r\n"
              "   %Property Code\r\n      200\r\n"
              "   %Property Since\r\n      1843-07-01\r\n")
        << locale;
    EXPECT_EQ(std::pair(result, r.AtEndOfStream()), std::pair(QMS_Success, true));
    EXPECT_EQ(again, text) << "every property read back as written";
    EXPECT_EQ(refused, "9999: WriteForObject must be called with an array argument.");
  }
}

TEST(PropertyRecords, ReadingRulesAndCollections) {
  auto p = std::make_shared<Person>();
  p->Age = 7;
  QMStream r = Reader(
      "%Object Person\r\n"
      "%Property NAME\r\n  Bob  \r\n"
      "%Property Member\r\nVrai\r\n"
      "%Property Height\r\n 1.5e1xyz\r\n"
      "%Property Code\r\n9\r\n"
      "%Property Unlisted\r\nwhatever\r\n"
      "%Object Other\r\n");
  EXPECT_EQ(r.ReadObject(p, List({"name", "member", "height"})), QMS_Success);
  // Code is not in the list, Age in no record.
  EXPECT_EQ(std::tuple(p->Name, p->Member, p->Height, p->Code, p->Age), std::tuple("Bob", true, 15.0, 0, 7));
  EXPECT_EQ((std::pair{r.ReadObject(p, kAll), r.Peek()}), std::pair(QMS_ObjectNotFound, std::string("%Object Other")));

  r = Reader("%Object Person\r\n%Property Member\r\nyes\r\n%Property Badge\r\nB1\r\n%Property Age\r\n41\r\n");
  p->Member = true;
  EXPECT_EQ((std::tuple{r.ReadObject(p, List({"Member", "Badge", "Age"})), p->Member, p->Age}),
            std::tuple(QMS_BadField, false, 41));

  // Before any assignment the error carries ReadObject's element; after one, not.
  const std::string readObject = " @ QuillmarkLibrary.QMStream|[QMStream]Public Function ReadObject(?, ?)";
  const std::tuple<const char*, Variant, std::string> refused[] = {
      {"%Property Age\r\nabc\r\n", kAll, "13: Type mismatch" + readObject},
      {"%Property Rank\r\n1\r\n%Property Age\r\nabc\r\n", kAll, "13: Type mismatch @ QuillmarkLibrary.QMStream"},
      {"%Property Age\r\n1\r\n", Variant("Age"), "13: Type mismatch" + readObject},
      {"%Property Age\r\n1\r\n", VariantArray::FromVector({Variant("Age")}, 1),
       "9: Subscript out of range" + readObject},
  };
  for (const auto& [text, names, raised] : refused)
    EXPECT_EQ(Trail([&, &text = text, &names = names] {
                Reader(std::string("%Object Person\r\n") + text).ReadObject(p, names);
              }),
              raised)
        << text;

  auto people = std::make_shared<People>();
  people->Items = {Ada(), std::make_shared<Person>()};
  people->Items[1]->Name = "Bob";
  const auto write = [](auto people) {
    return Written([&](QMStream& w) { w.WriteCollection(people, List({"Name", "Age"})); });
  };
  const std::string text = write(people);
  EXPECT_EQ(text,
            "%Collection People\r\n2\r\n"
            "   %Object Person\r\n      %Property Name\r\n         Ada Lovelace\r\n"
            "      %Property Age\r\n         36\r\n"
            "   %Object Person\r\n      %Property Name\r\n         Bob\r\n"
            "      %Property Age\r\n         0\r\n");
  auto back = std::make_shared<People>();
  back->Items = {std::make_shared<Person>(), std::make_shared<Person>(), std::make_shared<Person>()};
  r = Reader(text);
  EXPECT_EQ((std::pair{r.ReadCollection(back, true, List({"Name", "Age"})), write(back)}),
            std::pair(QMS_Success, text));

  // Without re-creation, extra children find no record.
  back->Items.push_back(std::make_shared<Person>());
  r = Reader(text);
  EXPECT_EQ(r.ReadCollection(back, false, List({"Name"})), QMS_ObjectNotFound);
  r = Reader("%Collection Others\r\n0\r\n");
  EXPECT_EQ((std::tuple{r.ReadCollection(back, true, List({"Name"})), back->Items.size(), r.Peek()}),
            std::tuple(QMS_Success, 3u, "%Collection Others"));
}

ScalarFieldPtr Field(ScalarTypeConstants type, Variant value = {}) {
  auto f = std::make_shared<ScalarField>();
  f->SetName("F");
  f->SetScalarType(type);
  f->SetValue(std::move(value));
  return f;
}

TEST(ScalarField, StreamValuesAndReferences) {
  const auto odd = static_cast<ScalarTypeConstants>(9);
  const std::tuple<ScalarTypeConstants, Variant, const char*> written[] = {
      {ST_String, Variant("one\r\ntwo\rthree\nfour"), "one\\ntwo\rthree\nfour"},
      {ST_FloatingPoint, Variant(-1.25), "-1.25"},
      {ST_Integer, Variant(std::int32_t{-17}), "-17"},
      {ST_Boolean, Variant(true), "True"},
      {ST_Boolean, Variant(), "False"},
      {ST_DateTime, Variant(MakeDate(2024, 2, 29, 13, 45, 10)), "2024-02-29 13:45:10"},
      {odd, Variant(7), "7"}};
  for (const auto& [type, value, text] : written) EXPECT_EQ(Field(type, value)->GetStreamValue(1), text);
  // What a field holding 5 reads from a text: the value, or the error and the value it keeps.
  const auto reads = [](ScalarTypeConstants type, const char* text) {
    auto f = Field(type, Variant(std::int32_t{5}));
    const std::string said = Described([&] { f->SetStreamValue(text); });
    return (said == "0: no error" ? "" : said + ", kept ") + f->Value().TypeName() + ":" + CStr(f->Value());
  };
  const std::tuple<ScalarTypeConstants, std::vector<const char*>, const char*> read[] = {
      {ST_String, {""}, "String:"},
      {ST_FloatingPoint, {"  7.5xyz"}, "Double:7.5"},
      {ST_Integer, {"2.5"}, "Long:2"},
      {ST_Integer, {"3000000000"}, "6: Overflow, kept Long:5"},
      {ST_Boolean, {"TRUE", "Vrai", "true"}, "Boolean:True"},
      {ST_Boolean, {"yes", "1", "", " true"}, "Boolean:False"},
      {ST_DateTime, {"2024-02-29 13:45:10"}, "Date:2024-02-29 13:45:10"},
      {ST_DateTime, {"not a date"}, "13: Type mismatch, kept Long:5"},
      {odd, {"8"}, "9999: Unknown scalar type encountered, kept Long:5"}};
  for (const auto& [type, texts, value] : read)
    for (const char* text : texts) EXPECT_EQ(reads(type, text), value) << text;

  auto context = std::make_shared<PersistanceContext>();
  auto ada = std::make_shared<Keyed>("Customer", "C1");
  context->Add(ada, 1);

  auto r = Field(ST_Reference);
  EXPECT_EQ(Described([&] { Field(ST_String)->ReferenceClass(); }),
            "9999: ReferenceClass only available for reference scalar types");
  EXPECT_EQ(Trail([&] { Field(ST_Integer)->SetReferenceClass("X"); }),
            "9999: ReferenceClass only available for reference scalar types @ "
            "QuillmarkLibrary.ScalarField|[ScalarField]Public Property Let ReferenceClass(\"X\")");
  r->SetReferenceClass("Customer");
  EXPECT_EQ(r->GetStreamValue(1), "") << "no object";

  r->SetStreamValue("C1", context);
  EXPECT_EQ(r->Value().ObjectRef(), ObjectPtr(ada));
  for (const char* missing : {"c1", ""}) {  // keys compare exactly
    r->SetStreamValue(missing, context);
    EXPECT_TRUE(r->Value().IsObject() && !r->Value().ObjectRef()) << missing;
  }
  EXPECT_EQ(r->GetStreamValue(1), "");

  r->SetValue(Variant(ObjectPtr(ada)));
  EXPECT_EQ(Trail([&] { r->SetStreamValue("C1"); }),
            "91: Object variable or With block variable not set @ QuillmarkLibrary.ScalarField|[ScalarField]Public "
            "Sub SetStreamValue(\"C1\", ?)");
  EXPECT_EQ(r->Value().ObjectRef(), ObjectPtr(ada));

  r->SetReferenceClass("Client");
  EXPECT_EQ(Trail([&] { r->GetStreamValue(4); }),
            "9999: The reference class of the object (Customer) and of this field (Client) do not match @ "
            "QuillmarkLibrary.ScalarField|[ScalarField]Public Function GetStreamValue(4)");
}

TEST(ScalarFields, ListOperations) {
  auto fields = std::make_shared<ScalarFields>();
  auto amount = fields->AddDetails("Amount", ST_FloatingPoint, Variant(2.5));
  auto owner = fields->AddDetails("Owner", ST_Reference, Variant());
  owner->SetReferenceClass("Customer");
  auto shared = Field(ST_String, Variant("x"));
  fields->Add(shared);
  EXPECT_EQ(std::tuple(fields->Count(), fields->Item(3), fields->ItemName("AMOUNT")), std::tuple(3, shared, amount));
  auto size = fields->AddDetails("Größe", ST_String, Variant());
  EXPECT_EQ(fields->ItemName("GRÖßE"), size);  // every letter, not only ASCII
  fields->Remove(4);
  EXPECT_EQ((std::vector{fields->ItemName("missing"), fields->ItemByRefClass("Customer"),
                         fields->ItemByRefClass("customer")}),
            (std::vector<ScalarFieldPtr>{nullptr, owner, nullptr}));
  EXPECT_EQ(std::pair(ErrorOf([&] { fields->Item(0); }), ErrorOf([&] { fields->Remove(4); })), std::pair(9, 9));
  fields->Remove(1);
  Lines names;
  for (const auto& f : *fields) names.push_back(f->Name());
  EXPECT_EQ(names, (Lines{"Owner", "F"}));

  auto a = std::make_shared<ScalarFields>(), b = std::make_shared<ScalarFields>();
  for (const char* n : {"A", "B", "b"}) a->AddDetails(n, ST_String, Variant());
  // Names alone count, compared without regard to case.
  for (const auto& [name, type, same] :
       {std::tuple{"a", ST_Integer, false}, {"B", ST_Boolean, true}, {"C", ST_String, false}}) {
    b->AddDetails(name, type, Variant(1));  // values differ from a's
    EXPECT_EQ(std::pair(a->HasSameFields(b), b->HasSameFields(a)), std::pair(same, same)) << name;
  }
}

std::string Joined(const Variant& array) {
  std::string out;
  for (const auto& v : array.Array().Data()) out += CStr(v) + ",";
  return out;
}

TEST(PersistanceContext, RegistersByClassAndKey) {
  PersistanceContext context;
  auto c1 = std::make_shared<Keyed>("Customer", "k1"), o1 = std::make_shared<Keyed>("Order", "k1");
  for (const auto& keyed : {c1, o1}) context.Add(keyed, 1);
  EXPECT_EQ((std::vector{context.GetReference("Customer", "k1"), context.GetReference("Order", "k1"),
                         context.GetReference("Customer", "K1"), context.GetReference("customer", "k1")}),
            (std::vector<std::shared_ptr<IPersistableReference>>{c1, o1, nullptr, nullptr}));

  EXPECT_EQ(Trail([&] { context.Add(std::make_shared<Keyed>("Customer", "k1"), 1); }),
            "457: This key is already associated with an element of this collection @ "
            "QuillmarkLibrary.PersistanceContext|[PersistanceContext]Public Sub Add(?, 1)");
  EXPECT_EQ(context.GetReference("Customer", "k1"), c1);
  EXPECT_EQ(Described([&] { context.Add(nullptr, 2); }), "9999: Can't add Nothing to a PersistanceContext");

  context.Add(std::make_shared<Keyed>("Customer", "k0"), 1);
  EXPECT_EQ(Joined(context.GetReferenceClasses()) + Joined(context.GetReferenceObjects("Customer")),
            "Customer,Order,k1,k0,");
  EXPECT_EQ(Described([&] { context.GetReferenceObjects("Nobody"); }), "9999: Reference class Nobody does not exist.");

  std::weak_ptr<Keyed> released = c1;
  c1.reset();
  EXPECT_FALSE(released.expired()) << "the context keeps its objects alive";
  context.Clear();
  EXPECT_TRUE(released.expired());
  const Variant none = context.GetReferenceClasses();
  EXPECT_EQ(std::pair(none.Array().LBound(), none.Array().UBound()), std::pair(0, -1));
}

// Typed records on the caller's stream.
struct Item {
  std::int32_t Id = 0;
  std::string Note;
  std::int64_t Big = 0;
  std::chrono::sys_seconds At{};
  std::chrono::year_month_day Day{std::chrono::year{2000} / 1 / 1};
  std::vector<Item> Parts;
  static void Describe(RecordType<Item>& r) {
    r.Name("Item").Field("Id", &Item::Id).Field("Note", &Item::Note).Field("Big", &Item::Big);
    r.Field("At", &Item::At).Field("Day", &Item::Day).Field("Parts", &Item::Parts);
  }
};

TEST(TypedRecords, RoundTripFieldsInAnyOrderAndWhatTheyRefuse) {
  using namespace std::chrono;
  const auto write = [](std::string note, sys_days at = {}, year_month_day day = year{2000} / 1 / 1) {
    return [i = Item{0, std::move(note), 0, at, day, {}}] {
      return Written([&](QMStream& w) { WriteRecords(w, "Items", std::vector{i}); });
    };
  };
  const std::string text = write("a\r\nb")();
  EXPECT_TRUE(text.starts_with("%Collection Items @1\r\n1\r\n   %Object Item @1\r\n")) << text;
  QMStream r = Reader(text);
  const Item back = ReadRecords<Item>(r, "Items").at(0);
  EXPECT_EQ(std::tuple(back.Note, back.Day, r.AtEndOfStream()), std::tuple("a\r\nb", year{2000} / 1 / 1, true));

  // Fields out of order and in another case; a property named as a collection
  // is passed over; an unnamed property ends the record.
  const std::string item = "%Collection Items\r\n1\r\n%Object Item\r\n%Property ";
  r = Reader(item +
             "Note\r\nx\r\n%Property id\r\n5\r\n%Property Parts\r\n1\r\n%Property Big\r\n2.5\r\n%Property\r\n\r\n");
  const Item read = ReadRecords<Item>(r, "Items").at(0);
  EXPECT_EQ(std::tuple(read.Id, read.Note, read.Big, read.Parts.size()), std::tuple(5, "x", 2, 0u));

  const auto load = [](std::string text) {
    return [in = std::make_shared<QMStream>(Reader(std::move(text)))] { ReadRecords<Item>(*in, "Items"); };
  };
  const std::string refused = "5: Invalid procedure call or argument: field Item[0].";
  const std::pair<std::function<void()>, std::string> cases[] = {
      {write(" x"), refused + "Note begins or ends with blanks, which a record drops"},
      {write("a\\nb"), refused + "Note holds the two characters \\n, which a record reads as a line break"},
      {write("a\r"), refused + "Note holds a line break other than CR LF"},
      {write("", sys_days{year{0} / 1 / 1}), refused + "At holds a date outside the years 1 to 9999"},
      {write("", {}, year{2026} / 2 / 30), refused + "Day holds no valid date"},
      {[] { Written([](QMStream& w) { WriteRecords(w, "A@1", std::vector<Item>{}); }); },
       "9999: The collection name \"A@1\" cannot be read back: it holds \"@\", a line break or blanks at either end"},
      {load("%Collection Other @2\r\n0\r\n"),
       "10006: Collection is incompatible with stream collection: expected Items, found Other @2"},
      {load(item + "Big\r\n1e30\r\n"), "6: Overflow: field Item[0].Big holds \"1e30\""},
      {load(item + "Id\r\n" + std::string(90, 'x') + "\r\n"),
       "13: Type mismatch: field Item[0].Id holds \"" + std::string(77, 'x') + "...\""},
  };
  for (const auto& [call, says] : cases) EXPECT_EQ(Described(call), says);

  // Unusable descriptions; a copy of one is deep, and one moved from is as new.
  RecordType<Item> bad;
  bad.Name("Bad").Version(0);
  EXPECT_EQ(Described([&] { bad.Check(); }), "9999: The record type Bad has version 0: versions start at 1");
  bad.Version(1).Field("my id", &Item::Id);
  EXPECT_TRUE(Described([&] { bad.Check(); }).starts_with("9999: The record type Bad has a field named \"my id\":"));
  RecordLayout copy = bad, moved = std::move(copy);
  copy = moved;
  moved = RecordLayout();
  EXPECT_EQ(std::tuple(copy.RecordName(), copy.Fields().size(), moved.RecordName()), std::tuple("Bad", 1u, ""));
}

}  // namespace
