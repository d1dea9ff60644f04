// Saves customers and their orders (each order refers to its customer by key)
// as QMStream records, loads them into a new graph, and shows that two orders
// of one customer share one customer object again. A settings record made of
// a plain class then goes through the property-list records.

#include <iostream>

#include "quillmark/errors/Error.h"
#include "quillmark/persistence/QMStream.h"
#include "quillmark/persistence/VectorCollection.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/DispatchTable.h"

namespace {

using qm::ScalarFields;
using qm::ScalarFieldsPtr;
using qm::Variant;

class Customer : public qm::IPersistableSimple, public qm::IPersistableReference {
 public:
  std::string Code, FullName;

  ScalarFieldsPtr GetScalarFields(std::int32_t) override {
    auto fields = std::make_shared<ScalarFields>();
    fields->AddDetails("Code", qm::ST_String, Code);
    fields->AddDetails("Name", qm::ST_String, FullName);
    return fields;
  }
  void SetScalarFields(std::int32_t, const ScalarFieldsPtr& fields) override {
    Code = qm::CStr(fields->ItemName("Code")->Value());
    FullName = qm::CStr(fields->ItemName("Name")->Value());
  }
  std::string Name(std::int32_t) override { return "Customer"; }
  bool Compatible(const std::string& name, std::int32_t version) override { return name == "Customer" && version <= 1; }
  std::string ReferenceClass(std::int32_t) override { return "Customer"; }
  std::string Key(std::int32_t) override { return Code; }
};

class Order : public qm::IPersistableSimple {
 public:
  std::int32_t Number = 0;
  double Amount = 0;
  bool Paid = false;
  std::string Note;
  std::shared_ptr<Customer> Buyer;

  ScalarFieldsPtr GetScalarFields(std::int32_t version) override {
    auto fields = std::make_shared<ScalarFields>();
    fields->AddDetails("Number", qm::ST_Integer, Number);
    fields->AddDetails("Amount", qm::ST_FloatingPoint, Amount);
    fields->AddDetails("Paid", qm::ST_Boolean, Paid);
    if (version >= 2) fields->AddDetails("Note", qm::ST_String, Note);  // new in version 2
    fields->AddDetails("Customer", qm::ST_Reference, Buyer ? Variant(qm::ObjectPtr(Buyer)) : Variant())
        ->SetReferenceClass("Customer");
    return fields;
  }
  void SetScalarFields(std::int32_t version, const ScalarFieldsPtr& fields) override {
    Number = qm::CLng(fields->ItemName("Number")->Value());
    Amount = qm::CDbl(fields->ItemName("Amount")->Value());
    Paid = qm::CBool(fields->ItemName("Paid")->Value());
    if (version >= 2) Note = qm::CStr(fields->ItemName("Note")->Value());
    const Variant& buyer = fields->ItemName("Customer")->Value();
    Buyer = buyer.IsObject() ? std::dynamic_pointer_cast<Customer>(buyer.ObjectRef()) : nullptr;
  }
  std::string Name(std::int32_t) override { return "Order"; }
  bool Compatible(const std::string& name, std::int32_t version) override { return name == "Order" && version <= 2; }
};

// A plain class: its member table is all it takes to be saved by property list.
class ShopSettings : public qm::DispatchTable<ShopSettings> {
 public:
  std::string Currency = "EUR";
  double VatRate = 0.2;
  bool PrintInvoices = true;
  static void Describe(Members& m) {
    m.Class("ShopSettings")
        .Property("Currency", &ShopSettings::Currency)
        .Property("VatRate", &ShopSettings::VatRate)
        .Property("PrintInvoices", &ShopSettings::PrintInvoices);
  }
};

std::shared_ptr<Customer> MakeCustomer(std::string code, std::string name) {
  auto c = std::make_shared<Customer>();
  c->Code = std::move(code);
  c->FullName = std::move(name);
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "orders.qms";
  try {
    auto customers = std::make_shared<qm::VectorCollection<Customer>>("Customers", 1);
    auto orders = std::make_shared<qm::VectorCollection<Order>>("Orders", 2);
    auto ada = MakeCustomer("C1", "Ada Lovelace");
    customers->Items = {ada, MakeCustomer("C2", "Charles Babbage")};
    const struct {
      std::int32_t Number;
      double Amount;
      bool Paid;
      const char* Note;
      std::shared_ptr<Customer> Buyer;
    } rows[] = {{1001, 250.5, true, "engine parts", ada},
                {1002, 99.95, false, "punched cards\r\nsecond box", customers->Items[1]},
                {1003, 12, false, "", ada}};
    for (const auto& row : rows) {
      auto o = std::make_shared<Order>();
      o->Number = row.Number, o->Amount = row.Amount, o->Paid = row.Paid, o->Note = row.Note, o->Buyer = row.Buyer;
      orders->Items.push_back(o);
    }
    ShopSettings settings;
    settings.VatRate = 0.19;

    // Customers first: a reference resolves only to an object read before it.
    qm::QMStream out;
    out.Use(qm::TextStream::Open(path, qm::IOMode::ForWriting));
    out.WriteCollectionSimple(customers, 1);
    out.WriteCollectionSimple(orders, 1);
    out.WriteObject(std::make_shared<ShopSettings>(settings),
                    qm::VariantArray::FromVector({Variant("Currency"), Variant("VatRate"), Variant("PrintInvoices")}));
    out.Close_();
    std::cout << "Saved to " << path << ":\n" << qm::TextStream::Open(path, qm::IOMode::ForReading)->ReadAll();

    auto customersBack = std::make_shared<qm::VectorCollection<Customer>>("Customers", 1);
    auto ordersBack = std::make_shared<qm::VectorCollection<Order>>("Orders", 2);
    auto settingsBack = std::make_shared<ShopSettings>();
    auto context = std::make_shared<qm::PersistanceContext>();
    qm::QMStream in;
    in.Use(qm::TextStream::Open(path, qm::IOMode::ForReading));
    in.ReadCollectionSimple(customersBack, true, context);
    in.ReadCollectionSimple(ordersBack, true, context);
    const qm::QMStreamErrors result = in.ReadObject(
        settingsBack,
        qm::VariantArray::FromVector({Variant("Currency"), Variant("VatRate"), Variant("PrintInvoices")}));
    in.Close_();

    std::cout << "\nLoaded " << ordersBack->Items.size() << " orders:\n";
    for (const auto& o : ordersBack->Items)
      std::cout << "  #" << o->Number << "  " << qm::FormatGeneral(o->Amount) << "  " << (o->Paid ? "paid" : "open")
                << "  " << o->Buyer->FullName << " (" << o->Buyer->Code << ")\n";
    const bool shared = ordersBack->Items[0]->Buyer == ordersBack->Items[2]->Buyer;
    std::cout << "Orders 1001 and 1003 share one customer object: " << (shared ? "yes" : "no") << "\n";
    std::cout << "Settings: " << settingsBack->Currency << ", VAT " << qm::FormatGeneral(settingsBack->VatRate)
              << (result == qm::QMS_Success ? " (read without errors)" : " (some fields failed)") << "\n";

    // The orders are not first in the file: the read fails and leaves the
    // stream where it was; FindNextObject then skips the customer records.
    qm::QMStream again;
    again.Use(qm::TextStream::Open(path, qm::IOMode::ForReading));
    auto ordersOnly = std::make_shared<qm::VectorCollection<Order>>("Orders", 2);
    try {
      again.ReadCollectionSimple(ordersOnly, true, context);
    } catch (const qm::Error& e) {
      std::cout << "Expected error " << e.Number() << ": " << e.Description() << "\n  trail: " << e.Source()
                << "\n  next line still: " << again.Peek() << "\n";
    }
    again.FindNextObject(
        qm::VariantArray::FromVector({Variant("%Collection Customers @1"), Variant("%Object Customer @1")}));
    again.ReadCollectionSimple(ordersOnly, true, context);
    std::cout << "After skipping the customers: " << ordersOnly->Items.size() << " orders, the first for "
              << ordersOnly->Items[0]->Buyer->FullName << "\n";
    return shared && result == qm::QMS_Success ? 0 : 1;
  } catch (const qm::Error& e) {
    std::cerr << "Error " << e.Number() << ": " << e.Description() << "\n  " << e.Source() << "\n";
    return 1;
  }
}
