#include <gtest/gtest.h>

#include "Clients.h"
#include "quillmark/errors/Error.h"
#include "quillmark/persistence/PersistanceContext.h"
#include "quillmark/persistence/ScalarFields.h"
#include "support/ErrorOf.h"

namespace {

using qm::ScalarField;
using qm::ScalarFields;
using qm::Variant;
using qm::test::Described;
using qm::test::RaisedBy;

qm::ScalarFieldPtr Field(qm::ScalarTypeConstants type, Variant value = {}) {
  auto f = std::make_shared<ScalarField>();
  f->SetName("F");
  f->SetScalarType(type);
  f->SetValue(std::move(value));
  return f;
}

TEST(ScalarField, StreamValuesOfStringsNumbersBooleansAndDates) {
  auto f = Field(qm::ST_String, Variant("one\r\ntwo\rthree\nfour"));
  EXPECT_EQ(f->GetStreamValue(1), "one\\ntwo\rthree\nfour");
  f->SetStreamValue("");
  EXPECT_EQ(f->Value().VarType(), qm::vbString);
  EXPECT_EQ(f->Value().String(), "");

  auto d = Field(qm::ST_FloatingPoint, Variant(-1.25));
  EXPECT_EQ(d->GetStreamValue(0), "-1.25");
  d->SetStreamValue("  7.5xyz");
  EXPECT_EQ(d->Value().VarType(), qm::vbDouble);
  EXPECT_EQ(qm::CDbl(d->Value()), 7.5);

  auto i = Field(qm::ST_Integer, Variant(std::int32_t{-17}));
  EXPECT_EQ(i->GetStreamValue(0), "-17");
  i->SetStreamValue("2.5");
  EXPECT_EQ(i->Value().VarType(), qm::vbLong);
  EXPECT_EQ(qm::CLng(i->Value()), 2);
  EXPECT_EQ(RaisedBy([&] { i->SetStreamValue("3000000000"); }).Number(), 6);
  EXPECT_EQ(qm::CLng(i->Value()), 2) << "a failed read keeps the value";

  auto b = Field(qm::ST_Boolean, Variant(true));
  EXPECT_EQ(b->GetStreamValue(0), "True");
  b->SetValue(Variant());
  EXPECT_EQ(b->GetStreamValue(0), "False");
  for (const char* yes : {"TRUE", "Vrai", "true"}) {
    b->SetStreamValue(yes);
    EXPECT_EQ(b->Value().VarType(), qm::vbBoolean);
    EXPECT_TRUE(qm::CBool(b->Value())) << yes;
  }
  for (const char* no : {"yes", "1", "", " true"}) {
    b->SetStreamValue(no);
    EXPECT_FALSE(qm::CBool(b->Value())) << no;
  }

  const qm::Date when = qm::MakeDate(2024, 2, 29, 13, 45, 10);
  auto t = Field(qm::ST_DateTime, Variant(when));
  const std::string text = t->GetStreamValue(0);
  t->SetValue(Variant());
  t->SetStreamValue(text);
  EXPECT_EQ(t->Value().VarType(), qm::vbDate);
  EXPECT_EQ(qm::FormatGeneralDate(qm::CDate(t->Value())), qm::FormatGeneralDate(when));
  EXPECT_EQ(RaisedBy([&] { t->SetStreamValue("not a date"); }).Number(), 13);
}

TEST(ScalarField, ReferencesGoThroughTheContext) {
  auto context = std::make_shared<qm::PersistanceContext>();
  auto ada = std::make_shared<qm::test::Keyed>("Customer", "C1");
  context->Add(ada, 1);

  auto r = Field(qm::ST_Reference);
  EXPECT_EQ(RaisedBy([&] { Field(qm::ST_String)->ReferenceClass(); }).Description(),
            "ReferenceClass only available for reference scalar types");
  EXPECT_EQ(RaisedBy([&] { Field(qm::ST_Integer)->SetReferenceClass("X"); }).Source(),
            "QuillmarkLibrary.ScalarField|[ScalarField]Public Property Let ReferenceClass(\"X\")");
  r->SetReferenceClass("Customer");
  EXPECT_EQ(r->GetStreamValue(1), "") << "no object";

  r->SetStreamValue("C1", context);
  EXPECT_EQ(r->Value().ObjectRef(), qm::ObjectPtr(ada));
  r->SetStreamValue("c1", context);  // keys compare exactly
  EXPECT_TRUE(r->Value().IsObject());
  EXPECT_EQ(r->Value().ObjectRef(), nullptr);
  EXPECT_EQ(r->GetStreamValue(1), "");
  r->SetStreamValue("", context);
  EXPECT_EQ(r->Value().ObjectRef(), nullptr);

  r->SetValue(Variant(qm::ObjectPtr(ada)));
  const qm::Error noContext = RaisedBy([&] { r->SetStreamValue("C1"); });
  EXPECT_EQ(noContext.Number(), 91);
  EXPECT_EQ(noContext.Source(), "QuillmarkLibrary.ScalarField|[ScalarField]Public Sub SetStreamValue(\"C1\", ?)");
  EXPECT_EQ(r->Value().ObjectRef(), qm::ObjectPtr(ada));

  r->SetReferenceClass("Client");
  EXPECT_EQ(Described([&] { r->GetStreamValue(4); }),
            "9999: The reference class of the object (Customer) and of this field (Client) do not match");
  EXPECT_EQ(RaisedBy([&] { r->GetStreamValue(4); }).Source(),
            "QuillmarkLibrary.ScalarField|[ScalarField]Public Function GetStreamValue(4)");

  auto odd = Field(static_cast<qm::ScalarTypeConstants>(9), Variant(7));
  EXPECT_EQ(odd->GetStreamValue(0), "7");
  EXPECT_EQ(Described([&] { odd->SetStreamValue("8"); }), "9999: Unknown scalar type encountered");
  EXPECT_EQ(qm::CLng(odd->Value()), 7);
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
  EXPECT_EQ(RaisedBy([&] { fields->Item(0); }).Number(), 9);
  EXPECT_EQ(RaisedBy([&] { fields->Remove(4); }).Number(), 9);
  fields->Remove(1);
  EXPECT_EQ(fields->Item(1), owner);
  std::vector<std::string> names;
  for (const auto& f : *fields) names.push_back(f->Name());
  EXPECT_EQ(names, (std::vector<std::string>{"Owner", "F"}));

  auto a = std::make_shared<ScalarFields>();
  auto b = std::make_shared<ScalarFields>();
  for (const char* n : {"A", "B", "b"}) a->AddDetails(n, qm::ST_String, Variant());
  b->AddDetails("a", qm::ST_Integer, Variant(1));
  EXPECT_FALSE(a->HasSameFields(b));
  b->AddDetails("B", qm::ST_Boolean, Variant());
  EXPECT_TRUE(a->HasSameFields(b));
  EXPECT_TRUE(b->HasSameFields(a));
  b->AddDetails("C", qm::ST_String, Variant());
  EXPECT_FALSE(a->HasSameFields(b));
}

std::vector<std::string> Strings(const qm::Variant& array) {
  std::vector<std::string> out;
  for (const auto& v : array.Array().Data()) out.push_back(qm::CStr(v));
  return out;
}

TEST(PersistanceContext, RegistersByClassAndKey) {
  qm::PersistanceContext context;
  auto c1 = std::make_shared<qm::test::Keyed>("Customer", "k1");
  auto o1 = std::make_shared<qm::test::Keyed>("Order", "k1");
  context.Add(c1, 1);
  context.Add(o1, 1);
  EXPECT_EQ(context.GetReference("Customer", "k1"), c1);
  EXPECT_EQ(context.GetReference("Order", "k1"), o1);
  EXPECT_EQ(context.GetReference("Customer", "K1"), nullptr);
  EXPECT_EQ(context.GetReference("customer", "k1"), nullptr);

  const qm::Error twice = RaisedBy([&] { context.Add(std::make_shared<qm::test::Keyed>("Customer", "k1"), 1); });
  EXPECT_EQ(twice.Number(), 457);
  EXPECT_EQ(twice.Source(), "QuillmarkLibrary.PersistanceContext|[PersistanceContext]Public Sub Add(?, 1)");
  EXPECT_EQ(context.GetReference("Customer", "k1"), c1);
  EXPECT_EQ(Described([&] { context.Add(nullptr, 2); }), "9999: Can't add Nothing to a PersistanceContext");

  context.Add(std::make_shared<qm::test::Keyed>("Customer", "k0"), 1);
  EXPECT_EQ(Strings(context.GetReferenceClasses()), (std::vector<std::string>{"Customer", "Order"}));
  EXPECT_EQ(Strings(context.GetReferenceObjects("Customer")), (std::vector<std::string>{"k1", "k0"}));
  EXPECT_EQ(Described([&] { context.GetReferenceObjects("Nobody"); }), "9999: Reference class Nobody does not exist.");

  std::weak_ptr<qm::test::Keyed> released = c1;
  c1.reset();
  EXPECT_FALSE(released.expired()) << "the context keeps its objects alive";
  context.Clear();
  EXPECT_TRUE(released.expired());
  const qm::Variant none = context.GetReferenceClasses();
  EXPECT_EQ(none.Array().UBound(), -1);
  EXPECT_EQ(none.Array().LBound(), 0);
}

}  // namespace
