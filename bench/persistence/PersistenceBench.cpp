// Orders (five scalar fields and a reference to one of 1,000 customers each)
// written to a file and read back into a new graph: QMStream's simple records
// against Boost.Serialization's text archive on the same objects.
//   persistence     100,000 orders; cereal's JSON archive runs too, and the
//                   typed records of the same data (WriteRecords / ReadRecords)
//                   are timed beside QMStream's
//   persistence-1m  1,000,000 orders, with the growth from 100,000
// Peak memory is measured in a child process.

#include <sys/wait.h>
#include <unistd.h>

#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>
#include <boost/serialization/shared_ptr.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>
#include <cereal/archives/json.hpp>
#include <cereal/types/memory.hpp>
#include <cereal/types/string.hpp>
#include <cereal/types/vector.hpp>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "quillmark/frame/LibMain.h"
#include "quillmark/persistence/QMStream.h"
#include "quillmark/persistence/RecordStream.h"
#include "quillmark/values/Conversions.h"
#include "support/BenchRow.h"

namespace {

using qm::ScalarFields;
using qm::ScalarFieldsPtr;
using qm::Variant;

constexpr int kCustomers = 1000;

class Customer : public qm::IPersistableSimple, public qm::IPersistableReference {
 public:
  std::string Id;
  std::string FullName;

  ScalarFieldsPtr GetScalarFields(std::int32_t) override {
    auto f = std::make_shared<ScalarFields>();
    f->AddDetails("Id", qm::ST_String, Variant(Id));
    f->AddDetails("Name", qm::ST_String, Variant(FullName));
    return f;
  }
  void SetScalarFields(std::int32_t, const ScalarFieldsPtr& f) override {
    Id = f->Item(1)->Value().String();
    FullName = f->Item(2)->Value().String();
  }
  std::string Name(std::int32_t) override { return "Customer"; }
  bool Compatible(const std::string& name, std::int32_t) override { return name == "Customer"; }
  std::string ReferenceClass(std::int32_t) override { return "Customer"; }
  std::string Key(std::int32_t) override { return Id; }

  template <class Archive>
  void serialize(Archive& ar) {
    ar(Id, FullName);
  }
};

class Order : public qm::IPersistableSimple {
 public:
  std::int32_t Number = 0;
  double Amount = 0;
  double Placed = 0;  // a date serial
  std::string Note;
  bool Paid = false;
  std::shared_ptr<Customer> Buyer;

  ScalarFieldsPtr GetScalarFields(std::int32_t) override {
    auto f = std::make_shared<ScalarFields>();
    f->AddDetails("Number", qm::ST_Integer, Variant(Number));
    f->AddDetails("Amount", qm::ST_FloatingPoint, Variant(Amount));
    f->AddDetails("Placed", qm::ST_DateTime, Variant(qm::Date{Placed}));
    f->AddDetails("Note", qm::ST_String, Variant(Note));
    f->AddDetails("Paid", qm::ST_Boolean, Variant(Paid));
    f->AddDetails("Customer", qm::ST_Reference, Buyer ? Variant(qm::ObjectPtr(Buyer)) : Variant())
        ->SetReferenceClass("Customer");
    return f;
  }
  void SetScalarFields(std::int32_t, const ScalarFieldsPtr& f) override {
    Number = qm::CLng(f->Item(1)->Value());
    Amount = qm::CDbl(f->Item(2)->Value());
    Placed = qm::CDate(f->Item(3)->Value()).Serial;
    Note = qm::CStr(f->Item(4)->Value());
    Paid = qm::CBool(f->Item(5)->Value());
    const Variant& buyer = f->Item(6)->Value();
    Buyer = buyer.IsObject() ? std::dynamic_pointer_cast<Customer>(buyer.ObjectRef()) : nullptr;
  }
  std::string Name(std::int32_t) override { return "Order"; }
  bool Compatible(const std::string& name, std::int32_t) override { return name == "Order"; }

  template <class Archive>
  void serialize(Archive& ar) {
    ar(Number, Amount, Placed, Note, Paid, Buyer);
  }
};

template <class T>
class List : public qm::IPersistableCollection {
 public:
  explicit List(std::string name) : name_(std::move(name)) {}
  std::vector<std::shared_ptr<T>> Items;

  std::string Name(std::int32_t) override { return name_; }
  qm::IPersistableSimplePtr NewChild(std::int32_t) override { return std::make_shared<T>(); }
  void Add(const qm::IPersistableSimplePtr& child, std::int32_t) override {
    Items.push_back(std::static_pointer_cast<T>(child));
  }
  void Clear(std::int32_t) override { Items.clear(); }
  qm::IPersistableSimplePtr Item(std::int32_t index, std::int32_t) override { return Items[index - 1]; }
  std::int32_t Count(std::int32_t) override { return static_cast<std::int32_t>(Items.size()); }
  bool Compatible(const std::string& name, std::int32_t) override { return name == name_; }
  std::int32_t GetChildVersion(std::int32_t) override { return 1; }

 private:
  std::string name_;
};

struct Graph {
  std::shared_ptr<List<Customer>> Customers = std::make_shared<List<Customer>>("Customers");
  std::shared_ptr<List<Order>> Orders = std::make_shared<List<Order>>("Orders");
};

Graph MakeGraph(int orders) {
  Graph g;
  for (int i = 0; i < kCustomers; ++i) {
    auto c = std::make_shared<Customer>();
    c->Id = std::to_string(i).insert(0, 1, 'C');
    c->FullName = std::to_string(i).insert(0, "Customer number ");
    g.Customers->Items.push_back(c);
  }
  for (int i = 0; i < orders; ++i) {
    auto o = std::make_shared<Order>();
    o->Number = 100000 + i;
    o->Amount = (i % 9973) * 1.25 + 0.5;
    o->Placed = qm::MakeDate(2020 + i % 5, 1 + i % 12, 1 + i % 28, i % 24, i % 60, i % 60).Serial;
    o->Note = std::to_string(i % 1000).insert(0, "note ");
    o->Paid = i % 3 == 0;
    o->Buyer = g.Customers->Items[static_cast<std::size_t>(i) * 7919 % kCustomers];
    g.Orders->Items.push_back(o);
  }
  return g;
}

// Ours: both collections to a file, then into a new graph.
Graph QMStreamRoundTrip(const Graph& g, const std::string& path) {
  qm::QMStream out;
  out.Use(qm::TextStream::Open(path, qm::IOMode::ForWriting));
  out.WriteCollectionSimple(g.Customers, 1);
  out.WriteCollectionSimple(g.Orders, 1);
  out.Close_();

  Graph back;
  auto context = std::make_shared<qm::PersistanceContext>();
  qm::QMStream in;
  in.Use(qm::TextStream::Open(path, qm::IOMode::ForReading));
  in.ReadCollectionSimple(back.Customers, true, context);
  in.ReadCollectionSimple(back.Orders, true, context);
  in.Close_();
  return back;
}

// The typed records of the same data: plain structs, the customer named by
// its key (the text the reference field writes), so the file is the same.
struct TypedCustomer {
  std::string Id, FullName;
  static void Describe(qm::RecordType<TypedCustomer>& r) {
    r.Name("Customer").Field("Id", &TypedCustomer::Id).Field("Name", &TypedCustomer::FullName);
  }
};

struct TypedOrder {
  std::int32_t Number = 0;
  double Amount = 0;
  std::chrono::local_seconds Placed{};
  std::string Note;
  bool Paid = false;
  std::string Customer;
  static void Describe(qm::RecordType<TypedOrder>& r) {
    r.Name("Order")
        .Field("Number", &TypedOrder::Number)
        .Field("Amount", &TypedOrder::Amount)
        .Field("Placed", &TypedOrder::Placed)
        .Field("Note", &TypedOrder::Note)
        .Field("Paid", &TypedOrder::Paid)
        .Field("Customer", &TypedOrder::Customer);
  }
};

struct TypedGraph {
  std::vector<TypedCustomer> Customers;
  std::vector<TypedOrder> Orders;
};

TypedGraph MakeTypedGraph(const Graph& g) {
  TypedGraph t;
  for (const auto& c : g.Customers->Items) t.Customers.push_back({c->Id, c->FullName});
  for (const auto& o : g.Orders->Items) {
    const qm::DateParts p = qm::SplitDate(qm::Date{o->Placed});
    const std::chrono::local_seconds placed = std::chrono::local_days(std::chrono::year{p.Year} / p.Month / p.Day) +
                                              std::chrono::hours{p.Hour} + std::chrono::minutes{p.Minute} +
                                              std::chrono::seconds{p.Second};
    t.Orders.push_back({o->Number, o->Amount, placed, o->Note, o->Paid, o->Buyer->Id});
  }
  return t;
}

// The typed calls on the same stream calls: both collections to a file and back.
std::size_t TypedRoundTrip(const TypedGraph& g, const std::string& path) {
  qm::QMStream out;
  out.Use(qm::TextStream::Open(path, qm::IOMode::ForWriting));
  qm::WriteRecords(out, "Customers", g.Customers);
  qm::WriteRecords(out, "Orders", g.Orders);
  out.Close_();

  qm::QMStream in;
  in.Use(qm::TextStream::Open(path, qm::IOMode::ForReading));
  const auto customers = qm::ReadRecords<TypedCustomer>(in, "Customers");
  const auto orders = qm::ReadRecords<TypedOrder>(in, "Orders");
  in.Close_();
  return orders.size() == g.Orders.size() && customers.size() == g.Customers.size() &&
                 orders.back().Customer == g.Orders.back().Customer && orders.back().Placed == g.Orders.back().Placed
             ? orders.size()
             : 0;
}

struct Plain {
  std::vector<std::shared_ptr<Customer>> Customers;
  std::vector<std::shared_ptr<Order>> Orders;
  template <class Archive>
  void serialize(Archive& ar) {
    ar(cereal::make_nvp("customers", Customers), cereal::make_nvp("orders", Orders));
  }
};

bool SameGraph(const Graph& a, const Graph& b) {
  if (a.Orders->Items.size() != b.Orders->Items.size()) return false;
  for (std::size_t i = 0; i < a.Orders->Items.size(); ++i) {
    const Order& x = *a.Orders->Items[i];
    const Order& y = *b.Orders->Items[i];
    if (x.Number != y.Number || x.Amount != y.Amount || x.Placed != y.Placed || x.Note != y.Note || x.Paid != y.Paid ||
        !y.Buyer || x.Buyer->Id != y.Buyer->Id)
      return false;
  }
  // Orders of one customer share one object.
  return b.Orders->Items[0]->Buyer == b.Orders->Items[kCustomers]->Buyer;
}

long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  return 0;
}

// In a child process: RSS after the graph is built, and the peak while it is
// written and read back.
void MeasureMemory(const std::string& path, int orders) {
  int fds[2];
  if (pipe(fds) != 0) return;
  const pid_t child = fork();
  if (child == 0) {
    Graph g = MakeGraph(orders);
    // The peak so far is the parent's, inherited by fork: start it afresh.
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = StatusKb("VmRSS:");
    { Graph back = QMStreamRoundTrip(g, path); }
    const long peak = StatusKb("VmHWM:");
    long values[2] = {before, peak};
    (void)!write(fds[1], values, sizeof values);
    _exit(0);
  }
  close(fds[1]);
  long values[2] = {0, 0};
  (void)!read(fds[0], values, sizeof values);
  close(fds[0]);
  waitpid(child, nullptr, 0);
  const double file = static_cast<double>(std::filesystem::file_size(path));
  const double used = static_cast<double>(values[1] - values[0]) * 1024;
  char text[256];
  std::snprintf(text, sizeof text,
                "QMStream peak memory of write + read: %.1f MB over the graph, %.2f x the %.1f MB file", used / 1e6,
                used / file, file / 1e6);
  qm::bench::Detail(text);
  std::snprintf(text, sizeof text, "goal: at most 1 x the file; peak of the whole process %.1f MB",
                static_cast<double>(values[1]) * 1024 / 1e6);
  qm::bench::Detail(text);
}

// The logging switch is asked before every diagnostic line the reader could
// write, about 26 times per order: the cost of one question, in processor
// time (steadier than wall time on a busy machine).
void MeasureLoggingCheck() {
  constexpr int kCalls = 5000000;
  int on = 0;
  const std::clock_t start = std::clock();
  for (int i = 0; i < kCalls; ++i) on += qm::LoggingEnabled() ? 1 : 0;
  const double ns = 1e9 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC / kCalls;
  char text[200];
  std::snprintf(
      text, sizeof text,
      "logging switch asked at every log call: %.1f ns of CPU a question (%s), %.0f ms for the 2.6 million of one read",
      ns, on ? "on" : "off", ns * 2.6e6 / 1e6);
  qm::bench::Detail(text);
}

}  // namespace

// Boost.Serialization finds these; cereal uses the members.
namespace boost::serialization {
template <class Archive>
void serialize(Archive& ar, Customer& c, unsigned) {
  ar& c.Id& c.FullName;
}
template <class Archive>
void serialize(Archive& ar, Order& o, unsigned) {
  ar& o.Number& o.Amount& o.Placed& o.Note& o.Paid& o.Buyer;
}
template <class Archive>
void serialize(Archive& ar, Plain& p, unsigned) {
  ar& p.Customers& p.Orders;
}
}  // namespace boost::serialization

namespace {

// The graph of `orders` orders and the contenders that write and read it.
struct Job {
  std::string Ours, Json, Text, TypedFile;  // the files written
  Graph Objects;
  Plain Same;
  TypedGraph Typed;
  bool OursOk = false;
  std::size_t CerealOrders = 0, BoostOrders = 0, TypedOrders = 0;

  qm::bench::Contender TypedRecords{"qm::WriteRecords + ReadRecords",
                                    [this] { TypedOrders = TypedRoundTrip(Typed, TypedFile); }};
  qm::bench::Contender Qms{"QMStream simple records",
                           [this] { OursOk = SameGraph(Objects, QMStreamRoundTrip(Objects, Ours)); }};
  qm::bench::Contender CerealJson{"cereal JSONOutputArchive/JSONInputArchive", [this] {
                                    {
                                      std::ofstream os(Json);
                                      cereal::JSONOutputArchive ar(os);
                                      ar(cereal::make_nvp("graph", Same));
                                    }
                                    Plain back;
                                    std::ifstream is(Json);
                                    cereal::JSONInputArchive ar(is);
                                    ar(cereal::make_nvp("graph", back));
                                    CerealOrders = back.Orders.size();
                                  }};
  qm::bench::Contender BoostText{"Boost.Serialization text_oarchive/text_iarchive", [this] {
                                   {
                                     std::ofstream os(Text);
                                     boost::archive::text_oarchive ar(os);
                                     ar << Same;
                                   }
                                   Plain back;
                                   std::ifstream is(Text);
                                   boost::archive::text_iarchive ar(is);
                                   ar >> back;
                                   BoostOrders = back.Orders.size();
                                 }};

  Job(const std::string& dir, int orders)
      : Ours(dir + "/orders.qms"),
        Json(dir + "/orders.json"),
        Text(dir + "/orders.txt"),
        TypedFile(dir + "/typed.qms"),
        Objects(MakeGraph(orders)),
        Same{Objects.Customers->Items, Objects.Orders->Items},
        Typed(MakeTypedGraph(Objects)) {}

  void Check(bool withCereal) const {
    const std::size_t orders = Objects.Orders->Items.size();
    if (!OursOk) qm::bench::Detail("MISMATCH: the graph read back differs from the one written");
    if (TypedOrders != orders) qm::bench::Detail("MISMATCH: the typed records read back differ");
    if ((withCereal && CerealOrders != orders) || BoostOrders != orders)
      qm::bench::Detail("MISMATCH: a peer lost orders");
  }
};

}  // namespace

int main(int argc, char** argv) {
  const std::string row = QM_PERSISTENCE_ROW;
  const std::string dir = qm::bench::ScratchDir(row);
  if (row == "persistence-1m") {
    // The smaller size first, its graph gone before the larger one is made.
    qm::bench::RowResult smaller;
    {
      Job job(dir, 100000);
      smaller = qm::bench::Measure(job.Qms, {job.BoostText});
    }
    Job job(dir, 1000000);
    qm::bench::RowOptions options;
    options.WarmUp = false;  // a run takes seconds; the code is warm from the smaller size
    const qm::bench::RowResult larger = qm::bench::RunRow(row, 0.8, job.Qms, {job.BoostText}, options);
    job.Check(false);
    qm::bench::Growth("orders", 10, smaller, larger);
    qm::bench::DetailF("files: QMStream %.1f MB, Boost text %.1f MB", std::filesystem::file_size(job.Ours) / 1e6,
                       std::filesystem::file_size(job.Text) / 1e6);
    MeasureMemory(job.Ours, 1000000);
    return 0;
  }
  Job job(dir, 100000);
  // "--only N" runs contender N (0 ours, 1 cereal, 2 Boost, 3 typed) once, for profilers.
  if (argc > 2 && std::string(argv[1]) == "--only") {
    const qm::bench::Contender* all[] = {&job.Qms, &job.CerealJson, &job.BoostText, &job.TypedRecords};
    all[std::stoi(argv[2]) % 4]->Run();
    return 0;
  }
  if (argc > 1 && std::string(argv[1]) == "--alternate") {  // ours, Boost and typed in turn, CPU and wall times
    for (int i = 0; i < 4; ++i) {
      for (const auto* c : {&job.Qms, &job.BoostText, &job.TypedRecords}) {
        const auto wall = std::chrono::steady_clock::now();
        const std::clock_t cpu = std::clock();
        c->Run();
        std::printf("%-50s wall %6.0f ms cpu %6.0f ms\n", c->Name.c_str(),
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall).count(),
                    1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC);
      }
    }
    return 0;
  }
  qm::bench::RowOptions options;
  options.Repetitions = 5;
  options.Typed = &job.TypedRecords;
  qm::bench::RunRow(row, 0.8, job.Qms, {job.CerealJson, job.BoostText}, options);
  job.Check(true);
  qm::bench::DetailF("files: QMStream %.1f MB, cereal JSON %.1f MB, Boost text %.1f MB",
                     std::filesystem::file_size(job.Ours) / 1e6, std::filesystem::file_size(job.Json) / 1e6,
                     std::filesystem::file_size(job.Text) / 1e6);
  MeasureMemory(job.Ours, 100000);
  MeasureLoggingCheck();
  return 0;
}
