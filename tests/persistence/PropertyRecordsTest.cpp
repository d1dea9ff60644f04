#include <gtest/gtest.h>

#include <clocale>

#include "Clients.h"
#include "PropertyClients.h"
#include "quillmark/errors/Error.h"
#include "quillmark/persistence/QMStream.h"
#include "support/ErrorOf.h"

namespace {

using qm::QMStream;
using qm::TextStream;
using qm::Variant;
using qm::test::People;
using qm::test::Person;
using qm::test::RaisedBy;
using qm::test::Reader;
using qm::test::Writer;

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
