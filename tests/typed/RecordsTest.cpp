// Typed records: the text they write (the simple records' format), a round
// trip of every field type, records of other programs, and the errors that
// name what went wrong.

#include <gtest/gtest.h>

#include "quillmark/persistence/RecordStream.h"
#include "quillmark/quillmark.h"
#include "quillmark/runtime/TextStream.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using namespace std::chrono;
using qm::test::RaisedBy;
using qm::test::ReadFile;
using qm::test::ScratchDir;
using qm::test::WriteFile;

struct Order {
  std::int64_t Id = 0;
  std::int32_t Lines = 0;
  std::string Note;
  double Amount = 0;
  bool Paid = false;
  sys_seconds Placed{};
  local_seconds Due{};
  year_month_day Shipped{year{2000}, January, day{1}};

  static void Describe(qm::RecordType<Order>& r) {
    r.Name("Order")
        .Version(2)
        .Field("Id", &Order::Id)
        .Field("Lines", &Order::Lines)
        .Field("Note", &Order::Note)
        .Field("Amount", &Order::Amount)
        .Field("Paid", &Order::Paid)
        .Field("Placed", &Order::Placed)
        .Field("Due", &Order::Due)
        .Field("Shipped", &Order::Shipped);
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

Order Sample() {
  Order o;
  o.Id = 9'000'000'000'123;  // beyond 32 bits
  o.Lines = -3;
  o.Note = "first line\r\nsecond";
  o.Amount = 250.5;
  o.Paid = true;
  o.Placed = sys_days(year{2026} / December / 7) + 22h + 5min + 9s;
  o.Due = local_days(year{2027} / January / 15) + 9h;
  o.Shipped = year{2026} / December / 31;
  return o;
}

TEST(Records, WriteTheSimpleRecordFormatAndReadItBack) {
  ScratchDir dir;
  const auto file = dir.Path() / "orders.qms";
  std::vector<Order> orders{Sample(), Order{}};
  qm::SaveRecords(file, "Orders", orders);
  EXPECT_EQ(ReadFile(file.string()),
            "%Collection Orders @1\r\n2\r\n"
            "   %Object Order @2\r\n"
            "      %Property Id\r\n         9000000000123\r\n"
            "      %Property Lines\r\n         -3\r\n"
            "      %Property Note\r\n         first line\\nsecond\r\n"
            "      %Property Amount\r\n          250.5\r\n"
            "      %Property Paid\r\n         True\r\n"
            "      %Property Placed\r\n         2026-12-07 22:05:09\r\n"
            "      %Property Due\r\n         2027-01-15 09:00:00\r\n"
            "      %Property Shipped\r\n         2026-12-31\r\n"
            "   %Object Order @2\r\n"
            "      %Property Id\r\n         0\r\n"
            "      %Property Lines\r\n         0\r\n"
            "      %Property Note\r\n         \r\n"
            "      %Property Amount\r\n          0\r\n"
            "      %Property Paid\r\n         False\r\n"
            "      %Property Placed\r\n         1970-01-01\r\n"
            "      %Property Due\r\n         1970-01-01\r\n"
            "      %Property Shipped\r\n         2000-01-01\r\n");
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
}

TEST(Records, ReadOlderAndForeignRecords) {
  ScratchDir dir;
  // Version 0 (no "@"), a property this type lacks, fields missing, a
  // fraction in an integer field (rounded half to even), booleans by the
  // published rule.
  WriteFile(dir / "old.qms",
            "%Collection Orders\r\n1\r\n"
            "   %Object Order\r\n"
            "      %Property Id\r\n         2.5\r\n"
            "      %Property Colour\r\n         red\r\n"
            "      %Property Paid\r\n         VRAI\r\n"
            "      %Property Placed\r\n         2001-02-03 04:05:06\r\n");
  const auto old = qm::LoadRecords<Order>(dir.Path() / "old.qms", "Orders");
  ASSERT_EQ(old.size(), 1u);
  EXPECT_EQ(old[0].Id, 2);
  EXPECT_TRUE(old[0].Paid);
  EXPECT_EQ(old[0].Placed, sys_days(year{2001} / February / 3) + 4h + 5min + 6s);
  EXPECT_EQ(old[0].Shipped, year{2000} / January / day{1});  // as a default-made Order has it
  EXPECT_EQ(old[0].Note, "");
}

TEST(Records, ErrorsNameWhatIsWrong) {
  ScratchDir dir;
  const auto file = dir.Path() / "orders.qms";

  // No name: refused before anything is written.
  qm::Error e = RaisedBy([&] { qm::SaveRecords(file, "Things", std::vector<Unnamed>{Unnamed{}}); });
  EXPECT_EQ(e.Number(), 9999);
  EXPECT_EQ(e.Description(), "The record type has no name: call Name(...) in Describe");
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(RaisedBy([&] { qm::SaveRecords(file, "T", std::vector<Twice>{Twice{}}); }).Number(), 9999);

  // Values that would not come back as they were.
  Order bad = Sample();
  bad.Note = " leading blank";
  e = RaisedBy([&] { qm::SaveRecords(file, "Orders", std::vector<Order>{bad}); });
  EXPECT_EQ(e.Number(), 5);
  EXPECT_NE(e.Description().find("field Note of Order"), std::string::npos) << e.Description();
  bad.Note = "lone\nfeed";
  EXPECT_EQ(RaisedBy([&] { qm::SaveRecords(file, "Orders", std::vector<Order>{bad}); }).Number(), 5);
  bad = Sample();
  bad.Placed = sys_days(year{10000} / 1 / 1);
  EXPECT_EQ(RaisedBy([&] { qm::SaveRecords(file, "Orders", std::vector<Order>{bad}); }).Number(), 5);

  // Names that do not match, each naming both; text that is no value of the
  // field's type, naming the field.
  qm::SaveRecords(file, "Orders", std::vector<Order>{Sample()});
  e = RaisedBy([&] { qm::LoadRecords<Order>(file, "Invoices"); });
  EXPECT_EQ(e.Number(), 10006);
  EXPECT_EQ(e.Description(), "Collection is incompatible with stream collection: expected Invoices, found Orders @1");
  const std::string head = "%Collection Orders @1\r\n1\r\n   %Object ";
  const struct {
    std::string Text;
    std::int32_t Number;
    const char* Description;
  } loads[] = {
      {head + "Invoice @1\r\n", 10006,
       "Object is incompatible with stream object: expected Order (version 2 or older), found Invoice @1"},
      {head + "Order @3\r\n", 10006, "found Order @3"},
      {head + "Order @2\r\n      %Property Id\r\n         12x\r\n", 13, "field Id of Order"},
      {head + "Order @2\r\n      %Property Placed\r\n         someday\r\n", 13, "field Placed of Order"},
  };
  for (const auto& load : loads) {
    SCOPED_TRACE(load.Text);
    WriteFile(dir / "in.qms", load.Text);
    e = RaisedBy([&] { qm::LoadRecords<Order>(dir.Path() / "in.qms", "Orders"); });
    EXPECT_EQ(e.Number(), load.Number);
    EXPECT_NE(e.Description().find(load.Description), std::string::npos) << e.Description();
    EXPECT_NE(e.Source().find("ReadObjectSimple"), std::string::npos) << e.Source();
  }
  EXPECT_EQ(RaisedBy([&] { qm::LoadRecords<Order>(dir.Path() / "missing.qms", "Orders"); }).Number(), 53);
}

}  // namespace
