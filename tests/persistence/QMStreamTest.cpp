// QMStream: its lines (push back, indentation, reading ahead in big files),
// the simple records, the property-list records, and their scalar fields.

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Clients.h"
#include "PropertyClients.h"
#include "quillmark/errors/Error.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/persistence/PersistanceContext.h"
#include "quillmark/persistence/QMStream.h"
#include "quillmark/persistence/RecordStream.h"
#include "quillmark/persistence/ScalarFields.h"
#include "quillmark/runtime/Settings.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using namespace qm::test;
using qm::QMStream;
using qm::ScalarFields;
using qm::TextStream;
using qm::Variant;

TEST(QMStreamLines, PushBackAndPeek) {
  QMStream s = Reader("A\r\nB\nC");
  EXPECT_EQ(s.CurrentLine(), "");
  for (int i = 0; i < 2; ++i) s.ReadLine();
  for (int i = 0; i < 2; ++i) s.UnReadLine();
  EXPECT_EQ(s.CurrentLine(), "");
  for (const char* line : {"A", "B", "C"}) EXPECT_EQ(s.ReadLine(), line);
  EXPECT_TRUE(s.AtEndOfStream());
  EXPECT_EQ(s.Peek(), "");
  s.UnReadLine();
  EXPECT_FALSE(s.AtEndOfStream());
  EXPECT_EQ(s.Peek(), "C");
  EXPECT_EQ(s.Peek(), "C");
  EXPECT_EQ(s.CurrentLine(), "B");

  // An empty first line is a line. (Pushing back past the first line:
  // PushedBackLinesAreTheLinesReadWhateverHappensToTheFile.)
  s.Use(TextStream::FromText("\n\nx\n"));
  for (const char* line : {"", ""}) EXPECT_EQ(s.ReadLine(), line);
  EXPECT_EQ(s.Peek(), "x");
}

TEST(QMStreamLines, IndentationOnWriting) {
  std::shared_ptr<TextStream> out;
  QMStream s = Writer(out);
  for (int i = 0; i < 2; ++i) s.Indent();
  s.WriteLine("x");
  s.WriteLine();
  s.WriteLine("a\r\nb");
  s.WriteBlankLines(2);
  for (int i = 0; i < 3; ++i) s.UnIndent();  // one more than indented
  EXPECT_EQ(s.IndentWidth(), 0);
  s.WriteLine("x");
  EXPECT_EQ(out->Text(), "      x\r\n      \r\n      a\r\nb\r\n\r\n\r\nx\r\n");

  // A second Use forgets the pushed-back lines but keeps the indentation.
  s.Indent();
  s.Use(TextStream::FromText("P\nQ\n"));
  EXPECT_EQ(s.ReadLine(), "P");
  s.UnReadLine();
  s.Use(TextStream::FromText("R\n"));
  EXPECT_EQ(s.ReadLine(), "R");
  EXPECT_EQ(s.IndentWidth(), 3);
}

TEST(QMStreamLines, ErrorsCarryTheStreamElementsAndCloseForgetsTheLines) {
  QMStream s = Reader("only\n");
  s.ReadLine();
  EXPECT_EQ(Described([&] { s.SkipLine(); }), "62: Input past end of file");
  EXPECT_EQ(Sourced([&] { s.SkipLine(); }),
            "62 at QuillmarkLibrary.QMStream|[QMStream]Public Function ReadLine()|[QMStream]Public Sub SkipLine()");
  QMStream unbound;
  EXPECT_NO_THROW(unbound.UnReadLine());
  EXPECT_EQ(unbound.CurrentLine(), "");
  EXPECT_EQ(RaisedBy([&] { unbound.WriteLine("x"); }).Number(), 91);

  // Close closes the bound stream and forgets the lines.
  ScratchDir dir;
  WriteFile(dir / "f.txt", "1\n2\n");
  QMStream file;
  file.Use(TextStream::Open(dir / "f.txt", qm::IOMode::ForReading));
  EXPECT_EQ(file.ReadLine(), "1");
  file.Close_();
  EXPECT_EQ(file.CurrentLine(), "");
  EXPECT_THROW(file.ReadLine(), qm::Error);
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
  std::vector<std::string> lines;
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
  const auto stream = TextStream::Open(dir / "big.txt", qm::IOMode::ForReading);
  QMStream s;
  s.Use(stream);
  std::uint64_t remaining = stream->RemainingBytes();
  EXPECT_EQ(remaining, bytes.size());
  const auto readOn = [&](std::size_t from) {
    for (std::size_t i = from; i < lines.size(); ++i) {
      ASSERT_EQ(s.ReadLine(), lines[i]);
      ASSERT_LE(stream->RemainingBytes(), remaining);
      remaining = stream->RemainingBytes();
    }
  };
  readOn(0);
  EXPECT_EQ(remaining, 0u);
  // Once its last line is read, the file grows by more than a block: the
  // reading goes on to the new end, as a stream reading without a thread's
  // help would.
  const std::size_t grownFrom = lines.size();
  std::string more;
  for (int i = 0; more.size() < 3 * kText; ++i) {
    lines.push_back("grown " + std::to_string(i));
    more += lines.back() + "\n";
  }
  lines.push_back("the end");
  more += "the end";
  {
    std::ofstream grow(dir / "big.txt", std::ios::binary | std::ios::app);
    grow << more;
  }
  remaining = stream->RemainingBytes();
  EXPECT_EQ(remaining, more.size());
  readOn(grownFrom);
  EXPECT_EQ(remaining, 0u);
  EXPECT_TRUE(s.AtEndOfStream());
  for (std::size_t back = 0; back < lines.size(); ++back) s.UnReadLine();
  for (const std::string& line : lines) ASSERT_EQ(s.ReadLine(), line);
}

std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

// Lines pushed back are handed out again exactly as they were first read,
// even when the file was rewritten or cut short meanwhile: nothing is read
// from the file twice.
TEST(QMStreamLines, PushedBackLinesAreTheLinesReadWhateverHappensToTheFile) {
  ScratchDir dir;
  constexpr int kLines = 70000;  // about 3 MB: more than one read block
  const char* ends[] = {"\r\n", "\n", "\r"};
  std::string plain;
  for (int i = 0; i < kLines; ++i) plain += "   line " + std::to_string(i) + std::string(30, '.') + ends[i % 3];
  for (const std::string& bytes : {"\xEF\xBB\xBF" + plain, Utf16(plain)}) {
    SCOPED_TRACE(bytes.substr(0, 2));
    const auto path = dir / "lines.txt";
    WriteFile(path, bytes);
    const auto stream = TextStream::Open(path, qm::IOMode::ForReading, true, qm::TextFormat::SystemDefault);
    const auto line = [](int i) { return "   line " + std::to_string(i) + std::string(30, '.'); };
    EXPECT_EQ(stream->ReadLine(), line(0)) << "read by the client before Use";
    QMStream s;
    s.Use(stream);
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
  QMStream m;
  m.Use(memory);
  EXPECT_EQ(m.ReadLine(), "a");
  memory->Write("c\n");
  for (const char* line : {"b", "c"}) EXPECT_EQ(m.ReadLine(), line);
  for (int i = 0; i < 3; ++i) m.UnReadLine();
  EXPECT_EQ(m.ReadLine(), "a");
  EXPECT_EQ(m.Peek(), "b");

  // A memory stream's text moves into blocks of 2 MiB: a CR LF pair across
  // the boundary is still one line end.
  const std::string first((std::size_t{2} << 20) - 1, 'x');
  m.Use(TextStream::FromText(first + "\r\ny"));
  EXPECT_EQ(m.ReadLine(), first);
  EXPECT_EQ(m.ReadLine(), "y");
  EXPECT_TRUE(m.AtEndOfStream());
}

void Id(ScalarFields& f) { f.AddDetails("Id", qm::ST_Integer, Variant(std::int32_t{0})); }

TEST(SimpleRecords, TheCollectionFormat) {
  auto orders = std::make_shared<Things>();
  orders->Title = "Orders";
  for (std::int32_t id : {17, 18}) {
    auto order = std::make_shared<Thing>([id](ScalarFields& f) {
      f.AddDetails("Id", qm::ST_Integer, Variant(id));
      f.AddDetails("Note", qm::ST_String, Variant(id == 17 ? "first line\r\nsecond line" : ""));
    });
    order->Title = "Order";
    orders->Items.push_back(order);
  }
  std::shared_ptr<TextStream> out;
  QMStream s = Writer(out);
  s.WriteCollectionSimple(orders, 2);
  EXPECT_EQ(s.IndentWidth(), 0);
  EXPECT_EQ(out->Text(),
            "%Collection Orders @2\r\n2\r\n"
            "   %Object Order @1\r\n      %Property Id\r\n         17\r\n"
            "      %Property Note\r\n         first line\\nsecond line\r\n"
            "   %Object Order @1\r\n      %Property Id\r\n         18\r\n"
            "      %Property Note\r\n         \r\n");

  auto back = std::make_shared<Things>();
  back->Make = [] {
    return std::make_shared<Thing>([](ScalarFields& f) {
      Id(f);
      f.AddDetails("Note", qm::ST_String, Variant("unset"));
    });
  };
  QMStream r = Reader(out->Text());
  r.ReadCollectionSimple(back, true);
  EXPECT_EQ(back->Seen(), "Orders @2");
  EXPECT_EQ(back->Calls, (std::vector<std::string>{"Clear2", "NewChild2", "NewChild2", "LoadCompleted"}));
  ASSERT_EQ(back->Items.size(), 2u);
  const auto item = [&](int i) { return std::static_pointer_cast<Thing>(back->Items[i]); };
  EXPECT_EQ(item(0)->SetVersion, 1);
  EXPECT_EQ(item(0)->Text("Note") + "|" + item(1)->Text("Id") + "|" + item(1)->Text("Note"),
            "first line\r\nsecond line|18|");
  EXPECT_TRUE(r.AtEndOfStream());
}

TEST(SimpleRecords, Versions) {
  auto thing = std::make_shared<Thing>();
  std::shared_ptr<TextStream> out;
  QMStream s = Writer(out);
  s.WriteObjectSimple(thing, 3);
  s.WriteObjectSimple(thing, 0);
  s.WriteObjectSimple(thing, 3, 5);
  EXPECT_EQ(thing->NameVersion, 5);
  EXPECT_EQ(thing->FieldsVersion, 3);
  s.WriteObjectSimple(thing, 2, -4);
  EXPECT_EQ(out->Text(), "%Object Thing @3\r\n%Object Thing\r\n%Object Thing @5\r\n%Object Thing\r\n");

  auto things = std::make_shared<Things>();
  s = Writer(out);
  s.WriteCollectionSimple(things, -1);
  s.WriteCollectionSimple(things, 0);
  EXPECT_EQ(out->Text(), "%Collection Things @-1\r\n0\r\n%Collection Things\r\n0\r\n");
  QMStream r = Reader(out->Text());
  r.ReadCollectionSimple(things, false);
  EXPECT_EQ(things->SeenVersion, -1);

  r = Reader("  %Object My Thing @ 2  \r\n%Object Other@7.5\r\n%Object   Lone  \r\n");
  for (const char* seen : {"My Thing @2", "Other @8", "  Lone @0"}) {
    r.ReadObjectSimple(thing);
    EXPECT_EQ(thing->Seen(), seen);
  }
}

// (An object that does not hear about unknown fields ignores them: see DiagnosticLog.)
TEST(SimpleRecords, FieldsReadBack) {
  QMStream r = Reader(
      "%Object Thing @1\r\n"
      "   %Property id extra words\r\n      12\r\n"
      "   %Property Extra\r\n      some value  \r\n"
      "   %Property Name\r\n        padded  \r\n"
      "%Object Next\r\n");
  auto listener = std::make_shared<Listener>([](ScalarFields& f) {
    Id(f);
    f.AddDetails("Name", qm::ST_String, Variant("x"));
    f.AddDetails("Missing", qm::ST_String, Variant("kept"));
  });
  r.ReadObjectSimple(listener);
  EXPECT_EQ(listener->Text("Id") + "|" + listener->Text("Name") + "|" + listener->Text("Missing"), "12|padded|kept");
  EXPECT_EQ(listener->Unknown, (std::vector<std::string>{"1:Extra=some value"}));
  EXPECT_EQ(r.Peek(), "%Object Next") << "the next header stays unread";

  // An empty field name ends the record after its entry.
  r = Reader("%Object Thing\r\n%Property  Id\r\n1\r\n%Property Id\r\n2\r\n");
  auto stops = std::make_shared<Listener>(Id);
  r.ReadObjectSimple(stops);
  EXPECT_EQ(stops->Unknown, (std::vector<std::string>{"0:=1"}));
  EXPECT_EQ(r.Peek(), "%Property Id");
}

TEST(SimpleRecords, ErrorsLeaveTheStreamInPlace) {
  auto thing = std::make_shared<Thing>(Id), refusing = std::make_shared<Thing>(Id);
  auto noFields = std::make_shared<Thing>();
  auto things = std::make_shared<Things>(), refusingMany = std::make_shared<Things>();
  refusing->Accept = refusingMany->Accept = false;
  noFields->NoFields = true;
  const auto object = [](auto o) { return [o](QMStream& r) { r.ReadObjectSimple(o); }; };
  const auto many = [](auto c) { return [c](QMStream& r) { r.ReadCollectionSimple(c, true); }; };
  const struct {
    const char* Text;
    std::function<void(QMStream&)> Read;
    const char* Says;
    const char* Stays;  // the next line after the error
  } cases[] = {
      {"   %Collection Things\r\n0\r\n", object(thing), "10005: Stream not pointing to object",
       "   %Collection Things"},
      {"", object(thing), "10005: Stream not pointing to object", ""},
      {"%Object Thing\r\n", many(things), "10005: Stream not pointing to collection", "%Object Thing"},
      {"%Object Thing @4\r\n%Property Id\r\n1\r\n", object(refusing),
       "10006: Object is incompatible with stream object", "%Object Thing @4"},
      {"%Collection Things\r\n0\r\n", many(refusingMany), "10006: Collection is incompatible with stream collection",
       "%Collection Things"},
      {"%Object Thing\r\n", object(noFields), "9999: GetScalarFields() did not return a fields collection", nullptr},
  };
  for (const auto& c : cases) {
    QMStream r = Reader(c.Text);
    EXPECT_EQ(Described([&] { c.Read(r); }), c.Says) << c.Text;
    if (c.Stays) {
      EXPECT_EQ(r.Peek(), c.Stays) << c.Text;
    }
  }
  QMStream r = Reader("   %Collection Things\r\n");
  EXPECT_EQ(Sourced([&] { r.ReadObjectSimple(thing); }),
            "10005 at QuillmarkLibrary.QMStream|[QMStream]Public Sub ReadObjectSimple(?, ?)");
  std::shared_ptr<TextStream> out;
  QMStream w = Writer(out);
  EXPECT_EQ(ErrorOf([&] { w.WriteObjectSimple(nullptr, 1); }), 91);
  EXPECT_EQ(ErrorOf([&] { w.WriteObjectSimple(noFields, 1); }), 91);
  EXPECT_EQ(out->Text(), "%Object Thing @1\r\n");

  // A value line missing at the end, and a bad value, inside a collection.
  things->Make = [] { return std::make_shared<Thing>(Id); };
  for (const auto& [text, number] : {std::pair{"1\r\n%Object Thing\r\n%Property Id\r\n", 62}, {"many\r\n", 13}}) {
    r = Reader(std::string("%Collection Things\r\n") + text);
    EXPECT_EQ(ErrorOf([&] { r.ReadCollectionSimple(things, true); }), number) << text;
  }
  r = Reader("%Collection Things\r\n1\r\n%Object Thing\r\n%Property Id\r\nabc\r\n");
  EXPECT_EQ(Sourced([&] { r.ReadCollectionSimple(things, true); }),
            "13 at QuillmarkLibrary.ScalarField|[ScalarField]Public Sub SetStreamValue(\"abc\", ?)|"
            "[QMStream]Public Sub ReadObjectSimple(?, ?)|[QMStream]Public Sub ReadCollectionSimple(?, True, ?)");
}

TEST(SimpleRecords, ChildCounts) {
  // Without re-creation the existing children are filled in order.
  auto things = std::make_shared<Things>();
  things->Items.push_back(std::make_shared<Thing>(Id));
  QMStream r = Reader("%Collection Things\r\n2\r\n%Object Thing\r\n%Property Id\r\n1\r\n%Object Thing\r\n");
  r.ReadCollectionSimple(things, false);
  EXPECT_EQ(things->Calls, (std::vector<std::string>{"LoadCompleted"}));
  EXPECT_EQ(std::static_pointer_cast<Thing>(things->Items[0])->Text("Id"), "1");
  EXPECT_EQ(r.Peek(), "%Object Thing");

  // A count the stream cannot hold makes one child more than there are headers.
  things->Make = [] { return std::make_shared<Thing>(Id); };
  r = Reader("%Collection Things\r\n2000000000\r\n%Object Thing\r\n%Property Id\r\n1\r\nEnd\r\n");
  EXPECT_EQ(RaisedBy([&] { r.ReadCollectionSimple(things, true); }).Number(), 10005);
  EXPECT_EQ(things->Items.size(), 2u);
  EXPECT_EQ(r.Peek(), "End");
  r = Reader("%Collection Things\r\n-3\r\n");
  r.ReadCollectionSimple(things, true);
  EXPECT_TRUE(things->Items.empty());
}

TEST(SimpleRecords, SharedReferencesResolveThroughTheContext) {
  auto customerField = [](Variant value) {
    return
        [value](ScalarFields& f) { f.AddDetails("Customer", qm::ST_Reference, value)->SetReferenceClass("Customer"); };
  };
  auto ada = std::make_shared<Keyed>("Customer", "ada");
  auto customers = std::make_shared<Things>();
  customers->Items = {ada, std::make_shared<Keyed>("Customer", "bob")};
  auto orders = std::make_shared<Things>();
  for (int i = 0; i < 3; ++i)
    orders->Items.push_back(std::make_shared<Thing>(customerField(Variant(qm::ObjectPtr(ada)))));
  std::shared_ptr<TextStream> out;
  QMStream w = Writer(out);
  w.WriteCollectionSimple(customers, 1);
  w.WriteCollectionSimple(orders, 1);

  auto context = std::make_shared<qm::PersistanceContext>();
  auto customers2 = std::make_shared<Things>();
  customers2->Make = [n = 0]() mutable { return std::make_shared<Keyed>("Customer", n++ == 0 ? "ada" : "bob"); };
  auto orders2 = std::make_shared<Things>();
  orders2->Make = [&] { return std::make_shared<Thing>(customerField(Variant())); };
  QMStream r = Reader(out->Text());
  r.ReadCollectionSimple(customers2, true, context);
  r.ReadCollectionSimple(orders2, true, context);
  ASSERT_EQ(orders2->Items.size(), 3u);
  for (const auto& order : orders2->Items) {
    EXPECT_EQ(std::static_pointer_cast<Thing>(order)->Received->ItemName("Customer")->Value().ObjectRef(),
              qm::ObjectPtr(customers2->Items[0]));
  }
}

TEST(SimpleRecords, FindNextObject) {
  const std::string text =
      "noise\r\n"
      "   %Object Skip @1\r\n"
      "%Property a\r\n"
      "%Object Skip @1 \r\n"
      "%Collection Keep\r\n"
      "%Object Last\r\n";
  QMStream r = Reader(text);
  const Variant skip = qm::VariantArray::FromVector({Variant("%Object Skip @1")});
  r.FindNextObject(skip);
  EXPECT_EQ(r.Peek(), "%Collection Keep");
  r.FindNextObject(skip);
  EXPECT_EQ(r.Peek(), "%Collection Keep") << "a header not in the list stays unread";
  r.FindNextObject(qm::VariantArray::FromVector({Variant("%Collection Keep"), Variant("x")}));
  EXPECT_EQ(r.Peek(), "%Object Last");

  r = Reader(text);
  r.FindNextObject(qm::VariantArray(), Variant("%Property a"));
  EXPECT_EQ(r.Peek(), "   %Object Skip @1") << "the first header is not ignored";
  r.FindNextObject(skip, Variant("%Property a"));
  EXPECT_EQ(r.Peek(), "%Object Skip @1 ") << "stops just past the end marker";
  r.FindNextObject(
      qm::VariantArray::FromVector({Variant("%Object Skip @1"), Variant("%Collection Keep"), Variant("%Object Last")}));
  EXPECT_TRUE(r.AtEndOfStream());
  EXPECT_EQ(RaisedBy([&] { Reader("%Object A\r\n").FindNextObject(Variant("x")); }).Number(), 13);
}

// The switch is asked at every log line: flipped in the middle of one
// collection, it takes effect from the next line on. (That a flip by another
// process is seen is Settings.ForkedChildAndParentKeepEveryWrite.)
TEST(SimpleRecords, DiagnosticLog) {
  std::filesystem::remove(qm::LogFilePath());
  qm::SaveSetting("Quillmark Library", "Init", "Logging", "yes");
  auto context = std::make_shared<qm::PersistanceContext>();
  auto keyed = std::make_shared<Keyed>("Customer", "c1", [](ScalarFields& f) {
    Id(f);
    f.AddDetails("Owner", qm::ST_Reference, Variant())->SetReferenceClass("Customer");
  });
  QMStream r = Reader("%Object Thing\r\n%Property Id\r\n5\r\n%Property Owner\r\nK\r\n%Property Other\r\nx\r\n");
  r.ReadObjectSimple(keyed, context);
  EXPECT_EQ(context->GetReference("Customer", "k2"), nullptr);
  auto listener = std::make_shared<Listener>();
  r = Reader("%Object Thing\r\n%Property Other\r\ny\r\n");
  r.ReadObjectSimple(listener);

  qm::SaveSetting("Quillmark Library", "Init", "Logging", "no");
  class Switching : public Thing {
   public:
    using Thing::Thing;
    void SetScalarFields(std::int32_t Version, const qm::ScalarFieldsPtr& Fields) override {
      Thing::SetScalarFields(Version, Fields);
      if (Text("Id") == "2") qm::SaveSetting("Quillmark Library", "Init", "Logging", "Yes");
      if (Text("Id") == "3") qm::SaveSetting("Quillmark Library", "Init", "Logging", "no");
    }
  };
  auto things = std::make_shared<Things>();
  things->Make = [] { return std::make_shared<Switching>(Id); };
  std::string text = "%Collection Things\r\n4\r\n";
  for (int i = 1; i <= 4; ++i) text += "%Object Thing\r\n%Property Id\r\n" + std::to_string(i) + "\r\n";
  r = Reader(text);
  r.ReadCollectionSimple(things, true);
  EXPECT_FALSE(qm::LoggingEnabled());
  qm::DeleteSetting("Quillmark Library", "Init");
  EXPECT_EQ(ReadFile(qm::LogFilePath()),
            "reading for fieldname = Id, field value=5\r\n"
            "Got field object okay\r\n"
            "About to set field value for Id\r\n"
            "Id has a scalartype of 1\r\n"
            "reading for fieldname = Owner, field value=K\r\n"
            "Got field object okay\r\n"
            "About to set field value for Owner\r\n"
            "Owner has a scalartype of 5\r\n"
            "Getting the reference for Owner\r\n"
            "Reference Class Customer does not exist, trying key K\r\n"
            "reading for fieldname = Other, field value=x\r\n"
            "Got field object okay\r\n"
            "Ignored field Other\r\n"
            "About to set scalar fields\r\n"
            "About to add reference to this object to context\r\n"
            "Key k2 does not exist in reference class Customer, returning Nothing\r\n"
            "Keys are : 'Customer, '\r\n"
            "reading for fieldname = Other, field value=y\r\n"
            "Got field object okay\r\n"
            "Found unknown field, calling IPersistableHdleUnknown for Other\r\n"
            "About to set scalar fields\r\n"
            "reading for fieldname = Id, field value=3\r\n"
            "Got field object okay\r\n"
            "About to set field value for Id\r\n"
            "Id has a scalartype of 1\r\n"
            "About to set scalar fields\r\n");
}

Variant List(std::initializer_list<const char*> names) {
  std::vector<Variant> v;
  for (const char* n : names) v.emplace_back(n);
  return qm::VariantArray::FromVector(std::move(v));
}

const Variant kAll = List({"Name", "Age", "Height", "Ratio", "Member", "Rank", "Code", "Since"});

std::shared_ptr<Person> Ada() {
  auto p = std::make_shared<Person>();
  p->Name = "Ada\r\nLovelace";
  p->Age = 36;
  p->Height = 0.25;
  p->Ratio = 0.1f;
  p->Member = true;
  p->Rank = -3;
  p->Code = 200;
  p->Since = qm::MakeDate(1843, 7, 1);
  return p;
}

// The numbers are written and read the same way whatever the numeric locale.
TEST(PropertyRecords, RoundTripWithoutAccessorsInAnyNumericLocale) {
  for (const char* locale : {"C", "de_DE.UTF-8"}) {
    if (!std::setlocale(LC_NUMERIC, locale)) continue;  // not installed
    std::shared_ptr<TextStream> out;
    QMStream w = Writer(out);
    w.WriteObject(Ada(), kAll);
    auto back = std::make_shared<Person>();
    QMStream r = Reader(out->Text());
    const auto result = r.ReadObject(back, kAll);
    std::shared_ptr<TextStream> again;
    Writer(again).WriteObject(back, kAll);
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(out->Text(),
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
    EXPECT_EQ(result, qm::QMS_Success);
    EXPECT_EQ(again->Text(), out->Text()) << "every property read back as written";
    EXPECT_TRUE(r.AtEndOfStream());
    EXPECT_EQ(RaisedBy([&] { w.WriteObject(back, Variant("Name")); }).Description(),
              "WriteForObject must be called with an array argument.");
  }
}

TEST(PropertyRecords, ReadingRules) {
  auto p = std::make_shared<Person>();
  p->Age = 7;
  QMStream r;
  r.Use(
      TextStream::FromText("%Object Person\r\n"
                           "%Property NAME\r\n  Bob  \r\n"
                           "%Property Member\r\nVrai\r\n"
                           "%Property Height\r\n 1.5e1xyz\r\n"
                           "%Property Code\r\n9\r\n"
                           "%Property Unlisted\r\nwhatever\r\n"
                           "%Object Other\r\n"));
  EXPECT_EQ(r.ReadObject(p, List({"name", "member", "height"})), qm::QMS_Success);
  // Code is not in the list, Age in no record.
  EXPECT_EQ(std::tuple(p->Name, p->Member, p->Height, p->Code, p->Age), std::tuple("Bob", true, 15.0, 0, 7));

  EXPECT_EQ(r.ReadObject(p, kAll), qm::QMS_ObjectNotFound);
  EXPECT_EQ(r.Peek(), "%Object Other");

  r.Use(
      TextStream::FromText("%Object Person\r\n%Property Member\r\nyes\r\n"
                           "%Property Badge\r\nB1\r\n%Property Age\r\n41\r\n"));
  p->Member = true;
  EXPECT_EQ(r.ReadObject(p, List({"Member", "Badge", "Age"})), qm::QMS_BadField);
  EXPECT_EQ(std::pair(p->Member, p->Age), std::pair(false, 41));

  // Before any assignment the error carries ReadObject's element; after one, not.
  const struct {
    const char* Text;
    Variant Names;
    const char* Raised;
  } refused[] = {
      {"%Property Age\r\nabc\r\n", kAll, "13 at QuillmarkLibrary.QMStream|[QMStream]Public Function ReadObject(?, ?)"},
      {"%Property Rank\r\n1\r\n%Property Age\r\nabc\r\n", kAll, "13 at QuillmarkLibrary.QMStream"},
      {"%Property Age\r\n1\r\n", Variant("Age"),
       "13 at QuillmarkLibrary.QMStream|[QMStream]Public Function ReadObject(?, ?)"},
      {"%Property Age\r\n1\r\n", qm::VariantArray::FromVector({Variant("Age")}, 1),
       "9 at QuillmarkLibrary.QMStream|[QMStream]Public Function ReadObject(?, ?)"},
  };
  for (const auto& c : refused) {
    r.Use(TextStream::FromText(std::string("%Object Person\r\n") + c.Text));
    EXPECT_EQ(Sourced([&] { r.ReadObject(p, c.Names); }), c.Raised) << c.Text;
  }
}

TEST(PropertyRecords, Collections) {
  auto people = std::make_shared<People>();
  people->Items = {Ada(), std::make_shared<Person>()};
  people->Items[1]->Name = "Bob";
  std::shared_ptr<TextStream> out;
  QMStream w = Writer(out);
  w.WriteCollection(people, List({"Name", "Age"}));
  EXPECT_EQ(out->Text(),
            "%Collection People\r\n2\r\n"
            "   %Object Person\r\n      %Property Name\r\n         Ada Lovelace\r\n"
            "      %Property Age\r\n         36\r\n"
            "   %Object Person\r\n      %Property Name\r\n         Bob\r\n"
            "      %Property Age\r\n         0\r\n");

  auto back = std::make_shared<People>();
  back->Items = {std::make_shared<Person>(), std::make_shared<Person>(), std::make_shared<Person>()};
  QMStream r = Reader(out->Text());
  EXPECT_EQ(r.ReadCollection(back, true, List({"Name", "Age"})), qm::QMS_Success);
  std::shared_ptr<TextStream> again;
  Writer(again).WriteCollection(back, List({"Name", "Age"}));
  EXPECT_EQ(again->Text(), out->Text());

  // Without re-creation, extra children find no record.
  back->Items.push_back(std::make_shared<Person>());
  r.Use(TextStream::FromText(out->Text()));
  EXPECT_EQ(r.ReadCollection(back, false, List({"Name"})), qm::QMS_ObjectNotFound);
  r.Use(TextStream::FromText("%Collection Others\r\n0\r\n"));
  EXPECT_EQ(r.ReadCollection(back, true, List({"Name"})), qm::QMS_Success);
  EXPECT_EQ(back->Items.size(), 3u);
  EXPECT_EQ(r.Peek(), "%Collection Others");
}

qm::ScalarFieldPtr Field(qm::ScalarTypeConstants type, Variant value = {}) {
  auto f = std::make_shared<qm::ScalarField>();
  f->SetName("F");
  f->SetScalarType(type);
  f->SetValue(std::move(value));
  return f;
}

// A value with its type: "Long:2".
std::string Typed(const Variant& v) { return v.TypeName() + ":" + qm::CStr(v); }

TEST(ScalarField, StreamValuesOfStringsNumbersBooleansAndDates) {
  const auto odd = static_cast<qm::ScalarTypeConstants>(9);
  const std::tuple<qm::ScalarTypeConstants, Variant, const char*> written[] = {
      {qm::ST_String, Variant("one\r\ntwo\rthree\nfour"), "one\\ntwo\rthree\nfour"},
      {qm::ST_FloatingPoint, Variant(-1.25), "-1.25"},
      {qm::ST_Integer, Variant(std::int32_t{-17}), "-17"},
      {qm::ST_Boolean, Variant(true), "True"},
      {qm::ST_Boolean, Variant(), "False"},
      {qm::ST_DateTime, Variant(qm::MakeDate(2024, 2, 29, 13, 45, 10)), "2024-02-29 13:45:10"},
      {odd, Variant(7), "7"}};
  for (const auto& [type, value, text] : written) EXPECT_EQ(Field(type, value)->GetStreamValue(1), text);
  // What a field holding 5 reads from a text: the value, or the error and the value it keeps.
  const auto reads = [](qm::ScalarTypeConstants type, const char* text) {
    auto f = Field(type, Variant(std::int32_t{5}));
    const std::string said = Described([&] { f->SetStreamValue(text); });
    return (said == "0: no error" ? "" : said + ", kept ") + Typed(f->Value());
  };
  const std::tuple<qm::ScalarTypeConstants, const char*, const char*> read[] = {
      {qm::ST_String, "", "String:"},
      {qm::ST_FloatingPoint, "  7.5xyz", "Double:7.5"},
      {qm::ST_Integer, "2.5", "Long:2"},
      {qm::ST_Integer, "3000000000", "6: Overflow, kept Long:5"},
      {qm::ST_Boolean, "TRUE", "Boolean:True"},
      {qm::ST_Boolean, "Vrai", "Boolean:True"},
      {qm::ST_Boolean, "true", "Boolean:True"},
      {qm::ST_Boolean, "yes", "Boolean:False"},
      {qm::ST_Boolean, "1", "Boolean:False"},
      {qm::ST_Boolean, "", "Boolean:False"},
      {qm::ST_Boolean, " true", "Boolean:False"},
      {qm::ST_DateTime, "2024-02-29 13:45:10", "Date:2024-02-29 13:45:10"},
      {qm::ST_DateTime, "not a date", "13: Type mismatch, kept Long:5"},
      {odd, "8", "9999: Unknown scalar type encountered, kept Long:5"}};
  for (const auto& [type, text, value] : read) EXPECT_EQ(reads(type, text), value) << text;
}

TEST(ScalarField, ReferencesGoThroughTheContext) {
  auto context = std::make_shared<qm::PersistanceContext>();
  auto ada = std::make_shared<Keyed>("Customer", "C1");
  context->Add(ada, 1);

  auto r = Field(qm::ST_Reference);
  EXPECT_EQ(Described([&] { Field(qm::ST_String)->ReferenceClass(); }),
            "9999: ReferenceClass only available for reference scalar types");
  EXPECT_EQ(Sourced([&] { Field(qm::ST_Integer)->SetReferenceClass("X"); }),
            "9999 at QuillmarkLibrary.ScalarField|[ScalarField]Public Property Let ReferenceClass(\"X\")");
  r->SetReferenceClass("Customer");
  EXPECT_EQ(r->GetStreamValue(1), "") << "no object";

  r->SetStreamValue("C1", context);
  EXPECT_EQ(r->Value().ObjectRef(), qm::ObjectPtr(ada));
  for (const char* missing : {"c1", ""}) {  // keys compare exactly
    r->SetStreamValue(missing, context);
    EXPECT_TRUE(r->Value().IsObject() && !r->Value().ObjectRef()) << missing;
  }
  EXPECT_EQ(r->GetStreamValue(1), "");

  r->SetValue(Variant(qm::ObjectPtr(ada)));
  EXPECT_EQ(Sourced([&] { r->SetStreamValue("C1"); }),
            "91 at QuillmarkLibrary.ScalarField|[ScalarField]Public Sub SetStreamValue(\"C1\", ?)");
  EXPECT_EQ(r->Value().ObjectRef(), qm::ObjectPtr(ada));

  r->SetReferenceClass("Client");
  EXPECT_EQ(Described([&] { r->GetStreamValue(4); }),
            "9999: The reference class of the object (Customer) and of this field (Client) do not match");
  EXPECT_EQ(Sourced([&] { r->GetStreamValue(4); }),
            "9999 at QuillmarkLibrary.ScalarField|[ScalarField]Public Function GetStreamValue(4)");
}

TEST(ScalarFields, ListOperations) {
  auto fields = std::make_shared<ScalarFields>();
  auto amount = fields->AddDetails("Amount", qm::ST_FloatingPoint, Variant(2.5));
  auto owner = fields->AddDetails("Owner", qm::ST_Reference, Variant());
  owner->SetReferenceClass("Customer");
  auto shared = Field(qm::ST_String, Variant("x"));
  fields->Add(shared);
  EXPECT_EQ(fields->Count(), 3);
  EXPECT_EQ(fields->Item(3), shared);
  EXPECT_EQ(fields->ItemName("AMOUNT"), amount);
  auto size = fields->AddDetails("Größe", qm::ST_String, Variant());
  EXPECT_EQ(fields->ItemName("GRÖßE"), size);  // every letter, not only ASCII
  fields->Remove(4);
  EXPECT_EQ(fields->ItemName("missing"), nullptr);
  EXPECT_EQ(fields->ItemByRefClass("Customer"), owner);
  EXPECT_EQ(fields->ItemByRefClass("customer"), nullptr);
  EXPECT_EQ(ErrorOf([&] { fields->Item(0); }), 9);
  EXPECT_EQ(ErrorOf([&] { fields->Remove(4); }), 9);
  fields->Remove(1);
  EXPECT_EQ(fields->Item(1), owner);
  std::vector<std::string> names;
  for (const auto& f : *fields) names.push_back(f->Name());
  EXPECT_EQ(names, (std::vector<std::string>{"Owner", "F"}));

  auto a = std::make_shared<ScalarFields>(), b = std::make_shared<ScalarFields>();
  for (const char* n : {"A", "B", "b"}) a->AddDetails(n, qm::ST_String, Variant());
  b->AddDetails("a", qm::ST_Integer, Variant(1));
  EXPECT_FALSE(a->HasSameFields(b));
  b->AddDetails("B", qm::ST_Boolean, Variant());
  EXPECT_TRUE(a->HasSameFields(b) && b->HasSameFields(a));
  b->AddDetails("C", qm::ST_String, Variant());
  EXPECT_FALSE(a->HasSameFields(b));
}

std::string Joined(const Variant& array) {
  std::string out;
  for (const auto& v : array.Array().Data()) out += qm::CStr(v) + ",";
  return out;
}

TEST(PersistanceContext, RegistersByClassAndKey) {
  qm::PersistanceContext context;
  auto c1 = std::make_shared<Keyed>("Customer", "k1");
  auto o1 = std::make_shared<Keyed>("Order", "k1");
  context.Add(c1, 1);
  context.Add(o1, 1);
  EXPECT_EQ(context.GetReference("Customer", "k1"), c1);
  EXPECT_EQ(context.GetReference("Order", "k1"), o1);
  EXPECT_EQ(context.GetReference("Customer", "K1"), nullptr);
  EXPECT_EQ(context.GetReference("customer", "k1"), nullptr);

  EXPECT_EQ(Sourced([&] { context.Add(std::make_shared<Keyed>("Customer", "k1"), 1); }),
            "457 at QuillmarkLibrary.PersistanceContext|[PersistanceContext]Public Sub Add(?, 1)");
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
  static void Describe(qm::RecordType<Item>& r) {
    r.Name("Item").Field("Id", &Item::Id).Field("Note", &Item::Note).Field("Big", &Item::Big);
    r.Field("At", &Item::At).Field("Day", &Item::Day).Field("Parts", &Item::Parts);
  }
};

TEST(TypedRecords, RoundTripFieldsInAnyOrderAndWhatTheyRefuse) {
  using namespace std::chrono;
  std::shared_ptr<TextStream> out;
  QMStream w = Writer(out);
  const auto write = [&w](std::string note, sys_days at = {}, year_month_day day = year{2000} / 1 / 1) {
    return [&w, i = Item{0, std::move(note), 0, at, day, {}}] { qm::WriteRecords(w, "Items", std::vector{i}); };
  };
  write("a\r\nb")();
  EXPECT_TRUE(out->Text().starts_with("%Collection Items @1\r\n1\r\n   %Object Item @1\r\n")) << out->Text();
  QMStream r = Reader(out->Text());
  const Item back = qm::ReadRecords<Item>(r, "Items").at(0);
  EXPECT_EQ(std::tuple(back.Note, back.Day, r.AtEndOfStream()), std::tuple("a\r\nb", year{2000} / 1 / 1, true));

  // Fields out of order and in another case; a property named as a collection
  // is passed over; an unnamed property ends the record.
  const std::string item = "%Collection Items\r\n1\r\n%Object Item\r\n%Property ";
  r = Reader(item +
             "Note\r\nx\r\n%Property id\r\n5\r\n%Property Parts\r\n1\r\n%Property Big\r\n2.5\r\n%Property\r\n\r\n");
  const Item read = qm::ReadRecords<Item>(r, "Items").at(0);
  EXPECT_EQ(std::tuple(read.Id, read.Note, read.Big, read.Parts.size()), std::tuple(5, "x", 2, 0u));

  const auto load = [](std::string text) {
    return [in = std::make_shared<QMStream>(Reader(std::move(text)))] { qm::ReadRecords<Item>(*in, "Items"); };
  };
  const std::string refused = "5: Invalid procedure call or argument: field Item[0].";
  const std::pair<std::function<void()>, std::string> cases[] = {
      {write(" x"), refused + "Note begins or ends with blanks, which a record drops"},
      {write("a\\nb"), refused + "Note holds the two characters \\n, which a record reads as a line break"},
      {write("a\r"), refused + "Note holds a line break other than CR LF"},
      {write("", sys_days{year{0} / 1 / 1}), refused + "At holds a date outside the years 1 to 9999"},
      {write("", {}, year{2026} / 2 / 30), refused + "Day holds no valid date"},
      {[&w] { qm::WriteRecords(w, "A@1", std::vector<Item>{}); },
       "9999: The collection name \"A@1\" cannot be read back: it holds \"@\", a line break or blanks at either end"},
      {load("%Collection Other @2\r\n0\r\n"),
       "10006: Collection is incompatible with stream collection: expected Items, found Other @2"},
      {load(item + "Big\r\n1e30\r\n"), "6: Overflow: field Item[0].Big holds \"1e30\""},
      {load(item + "Id\r\n" + std::string(90, 'x') + "\r\n"),
       "13: Type mismatch: field Item[0].Id holds \"" + std::string(77, 'x') + "...\""},
  };
  for (const auto& [call, says] : cases) EXPECT_EQ(Described(call), says);

  // Unusable descriptions; a copy of one is deep, and one moved from is as new.
  qm::RecordType<Item> bad;
  bad.Name("Bad").Version(0);
  EXPECT_EQ(Described([&] { bad.Check(); }), "9999: The record type Bad has version 0: versions start at 1");
  bad.Version(1).Field("my id", &Item::Id);
  EXPECT_TRUE(Described([&] { bad.Check(); }).starts_with("9999: The record type Bad has a field named \"my id\":"));
  qm::RecordLayout copy = bad, moved = std::move(copy);
  copy = moved;
  moved = qm::RecordLayout();
  EXPECT_EQ(std::tuple(copy.RecordName(), copy.Fields().size(), moved.RecordName()), std::tuple("Bad", 1u, ""));
}

}  // namespace
