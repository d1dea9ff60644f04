#include <gtest/gtest.h>

#include "quillmark/errors/Error.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/DispatchTable.h"
#include "support/ErrorOf.h"

namespace {

using qm::Variant;

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

using qm::test::ErrorOf;

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
