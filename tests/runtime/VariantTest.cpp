#include <gtest/gtest.h>

#include <clocale>
#include <functional>

#include "quillmark/errors/Error.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/DispatchTable.h"
#include "quillmark/values/Variant.h"
#include "support/ErrorOf.h"

namespace {

using qm::Variant;
using qm::VariantArray;

struct Widget : qm::Object {
  std::string ClassName() const override { return "Widget"; }
};

using qm::test::ErrorOf;

TEST(Variant, TypeNames) {
  EXPECT_EQ(Variant().TypeName(), "Empty");
  EXPECT_EQ(Variant(qm::Null).TypeName(), "Null");
  EXPECT_EQ(Variant("x").TypeName(), "String");
  EXPECT_EQ(Variant(true).TypeName(), "Boolean");
  EXPECT_EQ(Variant(std::uint8_t{1}).TypeName(), "Byte");
  EXPECT_EQ(Variant(std::make_shared<Widget>()).TypeName(), "Widget");
  EXPECT_EQ(Variant(qm::ObjectPtr()).TypeName(), "Nothing");
  EXPECT_EQ(Variant(VariantArray()).TypeName(), "Variant()");
  EXPECT_EQ(Variant(VariantArray({{0, 1}}, qm::vbString)).TypeName(), "String()");
  EXPECT_EQ(Variant(VariantArray()).VarType(), qm::vbArray | qm::vbVariant);
}

TEST(Variant, ArithmeticWidensLikeTheRuntimeAndComparisonsConvert) {
  EXPECT_EQ((Variant(std::int16_t{30000}) + Variant(std::int16_t{30000})).TypeName(), "Long");
  EXPECT_EQ((Variant(2147483647) + Variant(1)).TypeName(), "Double");
  EXPECT_EQ((Variant(std::uint8_t{200}) + Variant(std::uint8_t{100})).TypeName(), "Integer");
  EXPECT_EQ((Variant(1.5f) + Variant(1)).TypeName(), "Double");
  EXPECT_EQ((Variant(1.5f) + Variant(std::int16_t{1})).TypeName(), "Single");
  EXPECT_EQ((Variant(true) + Variant(true)).TypeName(), "Integer");
  EXPECT_EQ(qm::CLng(Variant(true) + Variant(true)), -2);
  EXPECT_EQ((Variant("1") + Variant(2)).TypeName(), "Double");
  EXPECT_EQ((Variant("a") + Variant()).String(), "a");
  EXPECT_EQ((Variant() + Variant()).TypeName(), "Integer");
  EXPECT_TRUE((Variant(qm::Null) + Variant(1)).IsNull());
  EXPECT_EQ((Variant(qm::Date{10}) + Variant(1)).TypeName(), "Date");
  EXPECT_EQ(qm::CDbl(Variant(7) / Variant(2)), 3.5);
  EXPECT_EQ(ErrorOf([] { (void)(Variant(1) / Variant(0)); }), 11);
  EXPECT_EQ(ErrorOf([] { (void)(Variant("a") + Variant(1)); }), 13);
  EXPECT_EQ(ErrorOf([] { (void)(Variant(std::make_shared<Widget>()) + Variant(1)); }), 13);

  EXPECT_TRUE(Variant(1) == Variant(1.0));
  EXPECT_TRUE(Variant("10") == Variant(10));
  EXPECT_FALSE(Variant("a") == Variant("A"));
  EXPECT_EQ(qm::Compare(Variant("a"), Variant("A"), true), 0);
  EXPECT_LT(qm::Compare(Variant(5), Variant("x")), 0);
  EXPECT_TRUE(Variant() == Variant(0));
  EXPECT_TRUE(Variant() == Variant(""));
  auto w = std::make_shared<Widget>();
  EXPECT_TRUE(Variant(w) == Variant(w));
  EXPECT_FALSE(Variant(w) == Variant(std::make_shared<Widget>()));
}

TEST(VariantArray, BoundsIndexingRedimAndCopies) {
  VariantArray a({{5, 7}, {-1, 0}});
  EXPECT_EQ(a.Dimensions(), 2);
  EXPECT_EQ(a.LBound(1), 5);
  EXPECT_EQ(a.UBound(2), 0);
  EXPECT_EQ(a.Size(), 6u);
  a(5, -1) = Variant("first");
  a(7, 0) = Variant("last");
  EXPECT_EQ(a.Data().front().String(), "first");
  EXPECT_EQ(a.Data().back().String(), "last");
  EXPECT_EQ(ErrorOf([&] { a(4, 0); }), 9);
  EXPECT_EQ(ErrorOf([&] { a(5); }), 9);
  EXPECT_EQ(ErrorOf([&] { (void)a.LBound(3); }), 9);
  VariantArray empty;
  EXPECT_EQ(empty.LBound(), 0);
  EXPECT_EQ(empty.UBound(), -1);

  // Redim Preserve keeps the elements; copies are values.
  VariantArray b({{1, 2}, {0, 1}});
  b(1, 0) = Variant(10);
  b(2, 1) = Variant(21);
  b.Redim({{1, 2}, {0, 3}}, true);
  EXPECT_EQ(qm::CLng(b(1, 0)), 10);
  EXPECT_EQ(qm::CLng(b(2, 1)), 21);
  EXPECT_TRUE(b(2, 3).IsEmpty());
  EXPECT_EQ(ErrorOf([&] { b.Redim({{1, 3}, {0, 3}}, true); }), 9);
  EXPECT_EQ(ErrorOf([&] { b.Redim({{0, 2000000000}, {0, 2000000000}}, false); }), 7);
  EXPECT_EQ(ErrorOf([&] { b.Redim({{3, 1}}, false); }), 9);

  Variant v(b);
  Variant copy = v;
  copy.Array()(1, 0) = Variant(99);
  EXPECT_EQ(qm::CLng(v.Array()(1, 0)), 10);
}

TEST(Conversions, GeneralNumberText) {
  EXPECT_EQ(qm::FormatGeneral(0), "0");
  EXPECT_EQ(qm::FormatGeneral(-0.0), "0");
  EXPECT_EQ(qm::FormatGeneral(0.1), "0.1");
  EXPECT_EQ(qm::FormatGeneral(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(qm::FormatGeneral(123456789012345.0), "123456789012345");
  EXPECT_EQ(qm::FormatGeneral(1e15), "1E+15");
  EXPECT_EQ(qm::FormatGeneral(1.5e-7), "1.5E-07");
  EXPECT_EQ(qm::FormatGeneral(0.0001), "0.0001");
  EXPECT_EQ(qm::FormatGeneralSingle(0.1f), "0.1");
  EXPECT_EQ(qm::CStr(Variant(true)), "True");
  EXPECT_EQ(qm::CStr(Variant()), "");
  EXPECT_EQ(ErrorOf([] { qm::CStr(Variant(qm::Null)); }), 94);
}

TEST(Conversions, InvariantWriterAndReaderWhateverTheLocale) {
  const std::pair<double, const char*> written[] = {{2.5, " 2.5"}, {0.5, " .5"}, {-0.25, "-.25"},
                                                    {3, " 3"},     {0, " 0"},    {1e20, " 1E+20"}};
  for (const auto& [value, text] : written) EXPECT_EQ(qm::WriteInvariantNumber(value), text);
  const std::pair<const char*, double> read[] = {{"  7.5xyz", 7.5}, {"", 0},   {"-.25", -0.25}, {"1 2 3", 123},
                                                 {"1E+20", 1e20},   {"2e", 2}, {"&HFF", 255},   {"&O17", 15},
                                                 {".", 0},          {"-", 0}};
  for (const auto& [text, value] : read) EXPECT_EQ(qm::Val(text), value) << text;

  // The invariant forms ignore the locale; the general text follows it.
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  EXPECT_EQ(qm::WriteInvariantNumber(2.5), " 2.5");
  EXPECT_EQ(qm::Val("12.5abc"), 12.5);
  EXPECT_EQ(qm::FormatGeneral(2.5), "2,5");
  EXPECT_EQ(qm::CDbl(Variant("2,5")), 2.5);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(Conversions, IntegerConversionsRoundHalfToEvenAndCheckRange) {
  EXPECT_EQ(qm::CLng(Variant(2.5)), 2);
  EXPECT_EQ(qm::CLng(Variant(3.5)), 4);
  EXPECT_EQ(qm::CLng(Variant(" 42 ")), 42);
  EXPECT_TRUE(qm::CBool(Variant("TRUE")));
  EXPECT_FALSE(qm::CBool(Variant("0")));
  EXPECT_TRUE(qm::CBool(Variant(-3)));
  const std::vector<std::pair<int, std::function<void()>>> refused = {
      {6, [] { qm::CLng(Variant(3e9)); }},      {6, [] { qm::CInt(Variant(40000)); }},
      {6, [] { qm::CByte(Variant(-1)); }},      {13, [] { qm::CLng(Variant("12abc")); }},
      {13, [] { qm::CDbl(Variant("")); }},      {94, [] { qm::CLng(Variant(qm::Null)); }},
      {13, [] { qm::CBool(Variant("maybe")); }}};
  for (std::size_t i = 0; i < refused.size(); ++i) EXPECT_EQ(ErrorOf(refused[i].second), refused[i].first) << i;
}

TEST(Conversions, DatesRoundTripThroughTheGeneralText) {
  const qm::Date d = qm::MakeDate(2026, 12, 6, 14, 5, 9);
  EXPECT_EQ(qm::FormatGeneralDate(d), "2026-12-06 14:05:09");
  EXPECT_EQ(qm::FormatGeneralDate(qm::MakeDate(1899, 12, 30)), "00:00:00");
  EXPECT_EQ(qm::FormatGeneralDate(qm::Date{2}), "1900-01-01");
  EXPECT_EQ(qm::FormatGeneralDate(qm::Date{0.75}), "18:00:00");
  EXPECT_EQ(qm::FormatGeneralDate(qm::Date{-1.25}), "1899-12-29 06:00:00");
  EXPECT_DOUBLE_EQ(qm::MakeDate(1899, 12, 29, 6).Serial, -1.25);
  for (const qm::Date date : {d, qm::Date{2}, qm::Date{0.75}, qm::Date{-700.5}, qm::MakeDate(9999, 12, 31)}) {
    EXPECT_DOUBLE_EQ(qm::CDate(Variant(qm::FormatGeneralDate(date))).Serial, date.Serial);
  }
  qm::Date out;
  for (const char* bad : {"2023-02-30", "2023-13-01 10:00:00", "2023-01-01 10:00:6x", "25:00:00"})
    EXPECT_FALSE(qm::TryParseDate(bad, out)) << bad;
  EXPECT_TRUE(qm::TryParseDate(" 2023-01-01 10:00:06 ", out));
  EXPECT_EQ(qm::FormatGeneralDate(out), "2023-01-01 10:00:06");
  EXPECT_EQ(ErrorOf([] { qm::CDate(Variant("tomorrow")); }), 13);
}

class Customer : public qm::DispatchTable<Customer> {
 public:
  std::string Name;
  std::int32_t Id = 0;
  double Balance = 0;
  bool Active = false;
  qm::Date Since;
  std::shared_ptr<Customer> Referrer;

  std::string Code() const { return "C" + std::to_string(Id); }

  static void Describe(Members& m) {
    m.Class("Customer")
        .Property("Name", &Customer::Name)
        .Property("Id", &Customer::Id)
        .Property("Balance", &Customer::Balance)
        .Property("Active", &Customer::Active)
        .Property("Since", &Customer::Since)
        .Property("Referrer", &Customer::Referrer)
        .ReadOnly("Code", &Customer::Code)
        .Method("Deposit", [](Customer& c, std::vector<Variant>& args) {
          c.Balance += qm::CDbl(args.at(0));
          args.at(0) = Variant(0);  // arguments travel by reference
          return Variant(c.Balance);
        });
  }
};

TEST(DispatchTable, PropertiesAndMethodsByNameWithoutAccessorsAndThroughVariants) {
  auto c = std::make_shared<Customer>();
  c->Let("NAME", Variant("Ada"));
  c->Let("id", Variant("42"));
  c->Let("Balance", Variant(1.5f));
  c->Let("Active", Variant("True"));
  c->Let("Since", Variant("2020-01-02"));
  auto r = std::make_shared<Customer>();
  c->Let("Referrer", Variant(r));
  EXPECT_EQ(c->Name, "Ada");
  EXPECT_EQ(c->Id, 42);
  EXPECT_TRUE(c->Active);
  EXPECT_EQ(c->Referrer, r);
  EXPECT_EQ(qm::FormatGeneralDate(c->Since), "2020-01-02");
  EXPECT_EQ(c->Get("Code").String(), "C42");
  EXPECT_EQ(Variant(c).TypeName(), "Customer");

  std::vector<Variant> args{Variant(2.0)};
  EXPECT_EQ(qm::CDbl(c->Call("deposit", args)), 3.5);
  EXPECT_EQ(qm::CLng(args[0]), 0);

  EXPECT_EQ(ErrorOf([&] { c->Let("Code", Variant("x")); }), 383);
  EXPECT_EQ(ErrorOf([&] { c->Get("Missing"); }), 438);
  EXPECT_EQ(ErrorOf([&] { c->Let("Id", Variant("abc")); }), 13);
  EXPECT_EQ(ErrorOf([&] { c->Let("Referrer", Variant(std::make_shared<qm::Dispatch>())); }), 13);

  // Late binding through variants.
  EXPECT_EQ(ErrorOf([] { qm::CallByName(Variant(), "x"); }), 91);
  EXPECT_EQ(ErrorOf([] { qm::CallByName(Variant(qm::ObjectPtr()), "x"); }), 91);
  EXPECT_EQ(ErrorOf([] { qm::CallByName(Variant(5), "x"); }), 438);
  qm::LetProperty(Variant(c), "Name", Variant("Bo"));
  EXPECT_EQ(qm::GetProperty(Variant(c), "name").String(), "Bo");
}

}  // namespace
