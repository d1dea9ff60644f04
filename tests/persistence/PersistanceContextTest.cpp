#include <gtest/gtest.h>

#include "Clients.h"
#include "quillmark/errors/Error.h"
#include "quillmark/persistence/PersistanceContext.h"
#include "support/ErrorOf.h"

namespace {

using qm::test::Described;
using qm::test::Keyed;

std::vector<std::string> Strings(const qm::Variant& array) {
  std::vector<std::string> out;
  for (const auto& v : array.Array().Data()) out.push_back(qm::CStr(v));
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

  const qm::Error twice = qm::test::RaisedBy([&] { context.Add(std::make_shared<Keyed>("Customer", "k1"), 1); });
  EXPECT_EQ(twice.Number(), 457);
  EXPECT_EQ(twice.Source(), "QuillmarkLibrary.PersistanceContext|[PersistanceContext]Public Sub Add(?, 1)");
  EXPECT_EQ(context.GetReference("Customer", "k1"), c1);
  EXPECT_EQ(Described([&] { context.Add(nullptr, 2); }), "9999: Can't add Nothing to a PersistanceContext");

  context.Add(std::make_shared<Keyed>("Customer", "k0"), 1);
  EXPECT_EQ(Strings(context.GetReferenceClasses()), (std::vector<std::string>{"Customer", "Order"}));
  EXPECT_EQ(Strings(context.GetReferenceObjects("Customer")), (std::vector<std::string>{"k1", "k0"}));
  EXPECT_EQ(Described([&] { context.GetReferenceObjects("Nobody"); }), "9999: Reference class Nobody does not exist.");

  std::weak_ptr<Keyed> released = c1;
  c1.reset();
  EXPECT_FALSE(released.expired()) << "the context keeps its objects alive";
  context.Clear();
  EXPECT_TRUE(released.expired());
  const qm::Variant none = context.GetReferenceClasses();
  EXPECT_EQ(none.Array().UBound(), -1);
  EXPECT_EQ(none.Array().LBound(), 0);
}

}  // namespace
