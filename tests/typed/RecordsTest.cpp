// Typed records: the text they write (the simple records' format), a round
// trip of every field type, records of other programs, and the errors that
// name what went wrong.

#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "quillmark/persistence/RecordStream.h"
#include "quillmark/persistence/ScalarFields.h"
#include "quillmark/persistence/VectorCollection.h"
#include "quillmark/quillmark.h"
#include "quillmark/runtime/TextStream.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using namespace std::chrono;
using qm::test::Described;
using qm::test::RaisedBy;
using qm::test::ReadFile;
using qm::test::ScratchDir;
using qm::test::WriteFile;

struct Order {
  std::int64_t Id = 0;
  std::int32_t Lines = 0;
  std::string Note{};
  double Amount = 0;
  bool Paid = false;
  sys_seconds Placed{};
  local_seconds Due{};
  year_month_day Shipped{year{2000}, January, day{1}};

  static void Describe(qm::RecordType<Order>& r) {
    r.Name("Order").Version(2).Field("Id", &Order::Id).Field("Lines", &Order::Lines).Field("Note", &Order::Note);
    r.Field("Amount", &Order::Amount).Field("Paid", &Order::Paid).Field("Placed", &Order::Placed);
    r.Field("Due", &Order::Due).Field("Shipped", &Order::Shipped);
  }
  bool operator==(const Order&) const = default;
};

struct Unnamed {
  int Id = 0;
  static void Describe(qm::RecordType<Unnamed>& r) { r.Field("Id", &Unnamed::Id); }
};

struct Twice {
  std::string A, B;
  static void Describe(qm::RecordType<Twice>& r) { r.Name("Twice").Field("Code", &Twice::A).Field("code", &Twice::B); }
};

// Three levels: days hold readings, readings hold samples.
struct Sample {
  std::int32_t Value = 0;
  static void Describe(qm::RecordType<Sample>& r) { r.Name("Sample").Field("Value", &Sample::Value); }
  bool operator==(const Sample&) const = default;
};

struct Reading {
  double Temp = 0;
  std::optional<std::string> Note = "unset";  // an empty one must not come back as this
  std::optional<std::int64_t> Code;
  std::vector<Sample> Samples;
  static void Describe(qm::RecordType<Reading>& r) {
    r.Name("Reading").Field("Temp", &Reading::Temp).Field("Note", &Reading::Note);
    r.Field("Code", &Reading::Code).Field("Samples", &Reading::Samples);
  }
  bool operator==(const Reading&) const = default;
};

struct Day {
  year_month_day Date{year{2000}, January, day{1}};
  std::vector<Reading> Readings;
  std::vector<Sample> Spare;
  static void Describe(qm::RecordType<Day>& r) {
    r.Name("Day").Version(2).Field("Date", &Day::Date).Field("Readings", &Day::Readings).Field("Spare", &Day::Spare);
  }
  bool operator==(const Day&) const = default;
};

// A type holding a vector of itself.
struct Node {
  std::vector<Node> Children;
  static void Describe(qm::RecordType<Node>& r) { r.Name("Node").Field("Children", &Node::Children); }
};

std::vector<Day> Days() {
  std::vector<Day> days(3);
  days[0].Date = year{2026} / December / 1;
  days[0].Readings = {{12.5, std::nullopt, 9'000'000'000, {{1}, {2}, {37}}}, {-3, "windy\r\nat noon", {}, {}}};
  days[0].Spare = {{7}};
  days[2].Date = year{2026} / December / 3;  // days[1]: nothing at all
  days[2].Readings = {{0.25, {}, {}, {{-1}}}};
  return days;
}

// A published client that takes every property as text.
struct Bag : qm::IPersistableSimple, qm::IPersistableHdleUnknown {
  std::map<std::string, std::string> Values;
  qm::ScalarFieldsPtr GetScalarFields(std::int32_t) override { return std::make_shared<qm::ScalarFields>(); }
  void SetUnknownField(std::int32_t, const std::string& n, const qm::Variant& v) override { Values[n] = v.String(); }
  void SetScalarFields(std::int32_t, const qm::ScalarFieldsPtr&) override {}
  std::string Name(std::int32_t) override { return "Bag"; }
  bool Compatible(const std::string&, std::int32_t) override { return true; }
};

// An Id beyond 32 bits, a note of two lines, and every field set.
Order Sample() {
  return {.Id = 9'000'000'000'123,
          .Lines = -3,
          .Note = "first line\r\nsecond",
          .Amount = 250.5,
          .Paid = true,
          .Placed = sys_days(year{2026} / December / 7) + 22h + 5min + 9s,
          .Due = local_days(year{2027} / January / 15) + 9h,
          .Shipped = year{2026} / December / 31};
}

TEST(Records, WriteTheSimpleRecordFormatAndReadItBack) {
  ScratchDir dir;
  const auto file = dir.Path() / "orders.qms";
  std::vector<Order> orders{Sample(), Order{}};
  qm::SaveRecords(file, "Orders", orders);
  // An object's record: its properties' names and values, in order.
  const auto object = [](const std::vector<std::string>& values) {
    const char* const names[] = {"Id", "Lines", "Note", "Amount", "Paid", "Placed", "Due", "Shipped"};
    std::string text = "   %Object Order @2\r\n";
    for (std::size_t i = 0; i < values.size(); ++i)
      text += "      %Property " + std::string(names[i]) + "\r\n         " + values[i] + "\r\n";
    return text;
  };
  EXPECT_EQ(ReadFile(file.string()),
            "%Collection Orders @1\r\n2\r\n" +
                object({"9000000000123", "-3", "first line\\nsecond", " 250.5", "True", "2026-12-07 22:05:09",
                        "2027-01-15 09:00:00", "2026-12-31"}) +
                object({"0", "0", "", " 0", "False", "1970-01-01", "1970-01-01", "2000-01-01"}));
  EXPECT_EQ(qm::LoadRecords<Order>(file, "Orders"), orders);

  // Two collections in one stream, read back in order.
  const auto text = qm::TextStream::InMemory();
  qm::QMStream out;
  out.Use(text);
  qm::WriteRecords(out, "Open", std::vector<Order>{Sample()});
  qm::WriteRecords(out, "Closed", orders);
  qm::QMStream in;
  in.Use(qm::TextStream::FromText(text->Text()));
  EXPECT_EQ(qm::ReadRecords<Order>(in, "Open").size(), 1u);
  EXPECT_EQ(qm::ReadRecords<Order>(in, "Closed"), orders);

  // Version 0 (no "@"), a property and a member collection this type lacks,
  // fields missing, a fraction in an integer field (rounded half to even),
  // booleans by the published rule.
  WriteFile(dir / "old.qms",
            "%Collection Orders\r\n1\r\n"
            "   %Object Order\r\n"
            "      %Property Id\r\n         2.5\r\n"
            "      %Property Colour\r\n         red\r\n"
            "      %Property Paid\r\n         VRAI\r\n"
            "      %Property Placed\r\n         2001-02-03 04:05:06\r\n"
            "      %Collection Lines @1\r\n      1\r\n         %Object Line\r\n"  // a member this type lacks
            "            %Property Qty\r\n               2\r\n");
  // The fields not in the file are as a default-made Order has them.
  const Order old{.Id = 2, .Paid = true, .Placed = sys_days(year{2001} / February / 3) + 4h + 5min + 6s};
  EXPECT_EQ(qm::LoadRecords<Order>(dir.Path() / "old.qms", "Orders"), std::vector<Order>{old});
}

TEST(Records, ErrorsNameWhatIsWrong) {
  ScratchDir dir;
  const auto file = dir.Path() / "orders.qms";

  // Descriptions that cannot be used: refused before anything is written.
  EXPECT_EQ(Described([&] { qm::SaveRecords(file, "Things", std::vector<Unnamed>{Unnamed{}}); }),
            "9999: The record type has no name: call Name(...) in Describe");
  EXPECT_EQ(Described([&] { qm::SaveRecords(file, "T", std::vector<Twice>{Twice{}}); }),
            "9999: The record type Twice names the field code twice (names are compared without regard to case)");
  EXPECT_FALSE(std::filesystem::exists(file));

  // Values that would not come back as they were: a line feed alone, a year
  // past 9999 (the others: TypedRecords.RoundTripFieldsInAnyOrderAndWhatTheyRefuse).
  Order feed = Sample(), late = Sample();
  feed.Note = "lone\nfeed";
  late.Placed = sys_days(year{10000} / 1 / 1);
  for (const Order& bad : {feed, late})
    EXPECT_EQ(RaisedBy([&] { qm::SaveRecords(file, "Orders", std::vector{bad}); }).Number(), 5);

  // Names that do not match, each naming both; text that is no value of the
  // field's type, naming the field.
  qm::SaveRecords(file, "Orders", std::vector<Order>{Sample()});
  EXPECT_EQ(Described([&] { qm::LoadRecords<Order>(file, "Invoices"); }),
            "10006: Collection is incompatible with stream collection: expected Invoices, found Orders @1 in " +
                file.string());
  const std::string head = "%Collection Orders @1\r\n1\r\n   %Object ";
  const std::tuple<std::string, std::int32_t, const char*> loads[] = {
      // the text, the number, part of the description
      {head + "Invoice @1\r\n", 10006,
       "Object is incompatible with stream object: expected Order (version 2 or older), found Invoice @1"},
      {head + "Order @3\r\n", 10006, "found Order @3"},
      {head + "Order @2\r\n      %Property Id\r\n         12x\r\n", 13, "field Order[0].Id holds \"12x\" in "},
      {head + "Order @2\r\n      %Property Placed\r\n         someday\r\n", 13, "field Order[0].Placed"},
  };
  for (const auto& [text, number, says] : loads) {
    SCOPED_TRACE(text);
    WriteFile(dir / "in.qms", text);
    const qm::Error e = RaisedBy([&] { qm::LoadRecords<Order>(dir.Path() / "in.qms", "Orders"); });
    EXPECT_EQ(e.Number(), number);
    EXPECT_NE(e.Description().find(says), std::string::npos) << e.Description();
    EXPECT_NE(e.Description().find("in.qms"), std::string::npos) << e.Description();
    EXPECT_NE(e.Source().find("LoadRecords"), std::string::npos) << e.Source();
  }
}

TEST(Records, NestedRecordsRoundTripPublishedReadersReadThemAndBadInputNamesThePlace) {
  ScratchDir dir;
  const auto file = dir.Path() / "days.qms";
  const std::vector<Day> days = Days();
  qm::SaveRecords(file, "Days", days);
  EXPECT_EQ(qm::LoadRecords<Day>(file, "Days"), days);
  const std::string good = ReadFile(file.string());
  EXPECT_NE(good.find("   %Object Day @2\r\n      %Property Date\r\n         2026-12-01\r\n"
                      "      %Collection Readings @1\r\n      2\r\n         %Object Reading @1\r\n"),
            std::string::npos)
      << good;

  // A published program: the outer collection by hand, then each reading's
  // record and its member collection, as in docs/typed.md.
  const std::vector<Reading>& readings = days[0].Readings;
  qm::SaveRecords(dir.Path() / "readings.qms", "Readings", readings);
  qm::QMStream published;
  published.Use(qm::TextStream::Open(dir.Path() / "readings.qms", qm::IOMode::ForReading));
  EXPECT_EQ(published.ReadLine(), "%Collection Readings @1");
  EXPECT_EQ(published.ReadLine(), "2");
  for (const Reading& reading : readings) {
    auto bag = std::make_shared<Bag>();
    auto samples = std::make_shared<qm::VectorCollection<Bag>>("Samples");
    published.ReadObjectSimple(bag);
    published.ReadCollectionSimple(samples, true);
    EXPECT_EQ(bag->Values.count("Note"), reading.Note ? 1u : 0u);
    ASSERT_EQ(samples->Items.size(), reading.Samples.size());
    for (std::size_t i = 0; i < samples->Items.size(); ++i)
      EXPECT_EQ(samples->Items[i]->Values.at("Value"), std::to_string(reading.Samples[i].Value));
  }
  EXPECT_TRUE(published.AtEndOfStream());

  // Bad input names the place.
  const auto load = [](const std::string& text) {
    qm::QMStream in;
    in.Use(qm::TextStream::FromText(text));
    return qm::ReadRecords<Day>(in, "Days");
  };
  const auto replaced = [&](const std::string& what, const std::string& with) {
    std::string text = good;
    return text.replace(text.find(what), what.size(), with);
  };
  const std::tuple<std::string, std::int32_t, const char*> cases[] = {
      // the text, the number, part of the description
      {replaced("   37\r\n", "   37x\r\n"), 13, "field Day[0].Readings[0].Samples[2].Value holds \"37x\""},
      {replaced("%Object Sample @1", "%Object Sampel @1"), 10006,
       "expected Sample (version 1 or older), found Sampel @1 at Day[0].Readings[0].Samples[0]"},
      // A member collection indented as its parent's sibling is not its member.
      {replaced("      %Collection Spare", "   %Collection Spare"), 10005, "Stream not pointing to object at Day[1]"},
      {replaced("      2\r\n         %Object Reading", "      2000000000\r\n         %Object Reading"), 10005,
       "at Day[0].Readings[2]"},
      {good.substr(0, good.size() - 10), 62, " at Day[2].Spare"},
      {"%Collection Days @1\r\n2147483647\r\n", 10005, " at Day[0]"},
  };
  for (const auto& [text, number, says] : cases) {
    SCOPED_TRACE(text);
    const qm::Error e = RaisedBy([&] { load(text); });
    EXPECT_EQ(e.Number(), number);
    EXPECT_NE(e.Description().find(says), std::string::npos) << e.Description();
  }
  // Cut anywhere, the file gives its records or a qm::Error, never a crash.
  for (std::size_t n = 0; n < good.size(); n += 7) (void)RaisedBy([&] { load(good.substr(0, n)); });

  // Nesting beyond 200 levels, of a type holding a vector of itself, is refused both ways.
  std::string deep = "%Collection Nodes\r\n1\r\n";
  for (std::size_t i = 1; i < 300; ++i)
    deep +=
        std::string(3 * i - 3, ' ') + "%Object Node\r\n" + std::string(3 * i, ' ') + "%Collection Children\r\n1\r\n";
  qm::QMStream in;
  in.Use(qm::TextStream::FromText(deep));
  EXPECT_EQ(RaisedBy([&] { qm::ReadRecords<Node>(in, "Nodes"); }).Number(), 6);
  std::vector<Node> tree(1);
  Node* leaf = &tree[0];
  for (int i = 0; i < 300; ++i) leaf = &leaf->Children.emplace_back();
  EXPECT_EQ(RaisedBy([&] { qm::SaveRecords(dir.Path() / "nodes.qms", "Nodes", tree); }).Number(), 6);
}

}  // namespace
