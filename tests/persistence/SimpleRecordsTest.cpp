#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>

#include "Clients.h"
#include "PropertyClients.h"
#include "quillmark/errors/Error.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/persistence/QMStream.h"
#include "quillmark/runtime/Settings.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using namespace qm::test;
using qm::QMStream;
using qm::ScalarFields;
using qm::TextStream;
using qm::Variant;

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
  EXPECT_EQ(back->SeenName, "Orders");
  EXPECT_EQ(back->SeenVersion, 2);
  EXPECT_EQ(back->Calls, (std::vector<std::string>{"Clear2", "NewChild2", "NewChild2", "LoadCompleted"}));
  ASSERT_EQ(back->Items.size(), 2u);
  auto first = std::static_pointer_cast<Thing>(back->Items[0]);
  auto second = std::static_pointer_cast<Thing>(back->Items[1]);
  EXPECT_EQ(first->SetVersion, 1);
  EXPECT_EQ(first->Text("Note"), "first line\r\nsecond line");
  EXPECT_EQ(second->Text("Id"), "18");
  EXPECT_EQ(second->Text("Note"), "");
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

  auto spaced = std::make_shared<Thing>();
  r = Reader("  %Object My Thing @ 2  \r\n%Object Other@7.5\r\n%Object   Lone  \r\n");
  r.ReadObjectSimple(spaced);
  EXPECT_EQ(spaced->SeenName, "My Thing");
  EXPECT_EQ(spaced->SeenVersion, 2);
  r.ReadObjectSimple(spaced);
  EXPECT_EQ(spaced->SeenName, "Other");
  EXPECT_EQ(spaced->SeenVersion, 8);
  r.ReadObjectSimple(spaced);
  EXPECT_EQ(spaced->SeenName, "  Lone");
  EXPECT_EQ(spaced->SeenVersion, 0);
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
  EXPECT_EQ(listener->Text("Id"), "12");
  EXPECT_EQ(listener->Text("Name"), "padded");
  EXPECT_EQ(listener->Text("Missing"), "kept");
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
  EXPECT_EQ(RaisedBy([&] { r.ReadObjectSimple(thing); }).Source(),
            "QuillmarkLibrary.QMStream|[QMStream]Public Sub ReadObjectSimple(?, ?)");
  std::shared_ptr<TextStream> out;
  QMStream w = Writer(out);
  EXPECT_EQ(RaisedBy([&] { w.WriteObjectSimple(nullptr, 1); }).Number(), 91);
  EXPECT_EQ(RaisedBy([&] { w.WriteObjectSimple(noFields, 1); }).Number(), 91);
  EXPECT_EQ(out->Text(), "%Object Thing @1\r\n");

  // A value line missing at the end, and a bad value, inside a collection.
  things->Make = [] { return std::make_shared<Thing>(Id); };
  for (const auto& [text, number] : {std::pair{"1\r\n%Object Thing\r\n%Property Id\r\n", 62},
                                     {"1\r\n%Object Thing\r\n%Property Id\r\nabc\r\n", 13},
                                     {"many\r\n", 13}}) {
    r = Reader(std::string("%Collection Things\r\n") + text);
    const qm::Error bad = RaisedBy([&] { r.ReadCollectionSimple(things, true); });
    EXPECT_EQ(bad.Number(), number) << text;
    if (std::string(text).ends_with("abc\r\n")) {
      EXPECT_EQ(bad.Source(),
                "QuillmarkLibrary.ScalarField|[ScalarField]Public Sub SetStreamValue(\"abc\", ?)|"
                "[QMStream]Public Sub ReadObjectSimple(?, ?)|[QMStream]Public Sub ReadCollectionSimple(?, True, ?)");
    }
  }
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
  auto owner = [&](int i) {
    return std::static_pointer_cast<Thing>(orders2->Items[i])->Received->ItemName("Customer")->Value().ObjectRef();
  };
  EXPECT_EQ(owner(0), qm::ObjectPtr(customers2->Items[0]));
  EXPECT_EQ(owner(0), owner(1));
  EXPECT_EQ(owner(1), owner(2));
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
  EXPECT_EQ(p->Name, "Bob");
  EXPECT_TRUE(p->Member);
  EXPECT_EQ(p->Height, 15.0);
  EXPECT_EQ(p->Code, 0) << "not in the list";
  EXPECT_EQ(p->Age, 7) << "in no record";

  EXPECT_EQ(r.ReadObject(p, kAll), qm::QMS_ObjectNotFound);
  EXPECT_EQ(r.Peek(), "%Object Other");

  r.Use(
      TextStream::FromText("%Object Person\r\n%Property Member\r\nyes\r\n"
                           "%Property Badge\r\nB1\r\n%Property Age\r\n41\r\n"));
  p->Member = true;
  EXPECT_EQ(r.ReadObject(p, List({"Member", "Badge", "Age"})), qm::QMS_BadField);
  EXPECT_FALSE(p->Member);
  EXPECT_EQ(p->Age, 41);

  // Before any assignment the error carries ReadObject's element; after one, not.
  r.Use(TextStream::FromText("%Object Person\r\n%Property Age\r\nabc\r\n"));
  const qm::Error early = RaisedBy([&] { r.ReadObject(p, kAll); });
  EXPECT_EQ(early.Number(), 13);
  EXPECT_EQ(early.Source(), "QuillmarkLibrary.QMStream|[QMStream]Public Function ReadObject(?, ?)");
  r.Use(TextStream::FromText("%Object Person\r\n%Property Rank\r\n1\r\n%Property Age\r\nabc\r\n"));
  const qm::Error late = RaisedBy([&] { r.ReadObject(p, kAll); });
  EXPECT_EQ(late.Number(), 13);
  EXPECT_EQ(late.Source(), "QuillmarkLibrary.QMStream");
  r.Use(TextStream::FromText("%Object Person\r\n%Property Age\r\n1\r\n"));
  EXPECT_EQ(RaisedBy([&] { r.ReadObject(p, Variant("Age")); }).Number(), 13);
  r.Use(TextStream::FromText("%Object Person\r\n%Property Age\r\n1\r\n"));
  EXPECT_EQ(RaisedBy([&] { r.ReadObject(p, qm::VariantArray::FromVector({Variant("Age")}, 1)); }).Number(), 9);
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
  ASSERT_EQ(back->Items.size(), 2u);
  EXPECT_EQ(back->Items[0]->Age, 36);
  EXPECT_EQ(back->Items[1]->Name, "Bob");

  // Without re-creation, extra children find no record.
  back->Items.push_back(std::make_shared<Person>());
  r.Use(TextStream::FromText(out->Text()));
  EXPECT_EQ(r.ReadCollection(back, false, List({"Name"})), qm::QMS_ObjectNotFound);
  r.Use(TextStream::FromText("%Collection Others\r\n0\r\n"));
  EXPECT_EQ(r.ReadCollection(back, true, List({"Name"})), qm::QMS_Success);
  EXPECT_EQ(back->Items.size(), 3u);
  EXPECT_EQ(r.Peek(), "%Collection Others");
}

}  // namespace
