// Typed calls against the published calls of the same jobs, for the jobs
// without a row of their own (the others time their typed call in their row):
//   format    200,000 numbers and 200,000 dates through Format
//   workbook  a table of 20,000 rows of 5 cells written as a workbook
//   records   100,000 orders of 5 fields saved and loaded
//   deflate   16 MiB of mixed bytes deflated and inflated
//   settings  4,000 values stored and read back (the store in the scratch
//             folder, through XDG_CONFIG_HOME)
// Row faces: R is the largest of typed / published over the jobs (each face's
// best of 5 rounds: the two faces run one engine, and on a shared machine
// single rounds of the same job differ by a third), goal 1.05. Short jobs are repeated so that a round
// takes at least 100 ms.

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "quillmark/automation/Exporter.h"
#include "quillmark/automation/Workbook.h"
#include "quillmark/compression/Compress.h"
#include "quillmark/compression/Deflate.h"
#include "quillmark/persistence/QMStream.h"
#include "quillmark/persistence/Records.h"
#include "quillmark/runtime/Format.h"
#include "quillmark/runtime/FormatValues.h"
#include "quillmark/runtime/Settings.h"
#include "quillmark/runtime/SettingsSection.h"
#include "quillmark/values/Conversions.h"
#include "support/BenchRow.h"

namespace {

namespace chr = std::chrono;
using qm::bench::Contender;

constexpr int kOrders = 100000;

// The published record: an IPersistableSimple and its collection.
class Order : public qm::IPersistableSimple {
 public:
  std::int32_t Number = 0;
  double Amount = 0;
  double Placed = 0;  // a date serial
  std::string Note;
  bool Paid = false;

  qm::ScalarFieldsPtr GetScalarFields(std::int32_t) override {
    auto f = std::make_shared<qm::ScalarFields>();
    f->AddDetails("Number", qm::ST_Integer, qm::Variant(Number));
    f->AddDetails("Amount", qm::ST_FloatingPoint, qm::Variant(Amount));
    f->AddDetails("Placed", qm::ST_DateTime, qm::Variant(qm::Date{Placed}));
    f->AddDetails("Note", qm::ST_String, qm::Variant(Note));
    f->AddDetails("Paid", qm::ST_Boolean, qm::Variant(Paid));
    return f;
  }
  void SetScalarFields(std::int32_t, const qm::ScalarFieldsPtr& f) override {
    Number = qm::CLng(f->Item(1)->Value());
    Amount = qm::CDbl(f->Item(2)->Value());
    Placed = qm::CDate(f->Item(3)->Value()).Serial;
    Note = qm::CStr(f->Item(4)->Value());
    Paid = qm::CBool(f->Item(5)->Value());
  }
  std::string Name(std::int32_t) override { return "Order"; }
  bool Compatible(const std::string& name, std::int32_t) override { return name == "Order"; }
};

class Orders : public qm::IPersistableCollection {
 public:
  std::vector<std::shared_ptr<Order>> Items;

  std::string Name(std::int32_t) override { return "Orders"; }
  qm::IPersistableSimplePtr NewChild(std::int32_t) override { return std::make_shared<Order>(); }
  void Add(const qm::IPersistableSimplePtr& child, std::int32_t) override {
    Items.push_back(std::static_pointer_cast<Order>(child));
  }
  void Clear(std::int32_t) override { Items.clear(); }
  qm::IPersistableSimplePtr Item(std::int32_t index, std::int32_t) override { return Items[index - 1]; }
  std::int32_t Count(std::int32_t) override { return static_cast<std::int32_t>(Items.size()); }
  bool Compatible(const std::string& name, std::int32_t) override { return name == "Orders"; }
  std::int32_t GetChildVersion(std::int32_t) override { return 1; }
};

// The typed record: the same fields in a plain struct.
struct PlainOrder {
  std::int32_t Number = 0;
  double Amount = 0;
  chr::local_seconds Placed{};
  std::string Note;
  bool Paid = false;

  static void Describe(qm::RecordType<PlainOrder>& r) {
    r.Name("Order")
        .Field("Number", &PlainOrder::Number)
        .Field("Amount", &PlainOrder::Amount)
        .Field("Placed", &PlainOrder::Placed)
        .Field("Note", &PlainOrder::Note)
        .Field("Paid", &PlainOrder::Paid);
  }
};

chr::local_seconds When(int i) {
  const chr::year_month_day day{chr::year{2020 + i % 5}, chr::month{static_cast<unsigned>(1 + i % 12)},
                                chr::day{static_cast<unsigned>(1 + i % 28)}};
  return chr::local_days{day} + chr::hours{i % 24} + chr::minutes{i % 60} + chr::seconds{i % 60};
}

// A job's two faces, each repeated as often as makes a round of 100 ms,
// over `rounds` rounds, each face read by its best round.
qm::bench::Beside Compare(const Contender& typed, const Contender& published, int rounds = 5) {
  const int calls = qm::bench::CallsPerRound(typed.Run);
  constexpr auto kBest = qm::bench::Estimate::Best;
  if (calls == 1) return qm::bench::TypedBeside(typed, published, rounds, kBest);
  return qm::bench::TypedBeside(qm::bench::Repeated(typed, calls), qm::bench::Repeated(published, calls), rounds,
                                kBest);
}

// What the jobs found, printed under the row's line.
struct Results {
  std::vector<std::pair<std::string, qm::bench::Beside>> Jobs;
  std::vector<std::string> Problems;
};

void FormatJob(Results& results) {
  constexpr int kValues = 200000;
  std::vector<double> numbers(kValues);
  std::vector<qm::Variant> numberVariants, dateVariants;
  std::vector<chr::local_seconds> dates(kValues);
  std::mt19937 random(3);
  for (int i = 0; i < kValues; ++i) {
    numbers[i] = static_cast<double>(random() % 100000000) / 100.0 - 50000;
    numberVariants.emplace_back(numbers[i]);
    dates[i] = When(i);
    dateVariants.emplace_back(qm::MakeDate(2020 + i % 5, 1 + i % 12, 1 + i % 28, i % 24, i % 60, i % 60));
  }
  std::size_t typedLength = 0, publishedLength = 0;
  const qm::bench::Beside numberRatio = Compare({"qm::Format(double, \"#,##0.00\")",
                                                 [&] {
                                                   typedLength = 0;
                                                   for (const double n : numbers)
                                                     typedLength += qm::Format(n, "#,##0.00").size();
                                                 }},
                                                {"qm::Format(Variant, \"#,##0.00\")", [&] {
                                                   publishedLength = 0;
                                                   for (const qm::Variant& n : numberVariants)
                                                     publishedLength += qm::Format(n, "#,##0.00").size();
                                                 }});
  bool same = typedLength == publishedLength;
  const qm::bench::Beside dateRatio = Compare({"qm::Format(local_seconds, \"yyyy-mm-dd hh:nn:ss\")",
                                               [&] {
                                                 typedLength = 0;
                                                 for (const auto& d : dates)
                                                   typedLength += qm::Format(d, "yyyy-mm-dd hh:nn:ss").size();
                                               }},
                                              {"qm::Format(Variant date, \"yyyy-mm-dd hh:nn:ss\")", [&] {
                                                 publishedLength = 0;
                                                 for (const qm::Variant& d : dateVariants)
                                                   publishedLength += qm::Format(d, "yyyy-mm-dd hh:nn:ss").size();
                                               }});
  same = same && typedLength == publishedLength;
  for (int i = 0; same && i < kValues; i += 997)
    same = qm::Format(numbers[i], "#,##0.00") == qm::Format(numberVariants[i], "#,##0.00") &&
           qm::Format(dates[i], "yyyy-mm-dd hh:nn:ss") == qm::Format(dateVariants[i], "yyyy-mm-dd hh:nn:ss");
  results.Jobs.emplace_back("format numbers", numberRatio);
  results.Jobs.emplace_back("format dates", dateRatio);
  if (!same) results.Problems.push_back("MISMATCH: the two faces of Format give different text");
}

void WorkbookJob(const std::string& dir, Results& results) {
  constexpr int kRows = 20000, kColumns = 5;
  std::vector<std::vector<std::string>> rows;
  qm::VariantArray table({{0, kColumns - 1}, {0, kRows - 1}});
  for (int r = 0; r < kRows; ++r) {
    std::vector<std::string> row{"item " + std::to_string(r), std::to_string(r % 977), qm::Format(r * 0.25, "0.00"),
                                 r % 3 ? "north" : "south", std::to_string(r * 7 % 10000)};
    for (int c = 0; c < kColumns; ++c) table(c, r) = qm::Variant(row[c]);
    rows.push_back(std::move(row));
  }
  qm::Variant published(std::move(table));
  // The export would open the workbook in the desktop's spreadsheet program.
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  results.Jobs.emplace_back("workbook",
                            Compare({"qm::WriteWorkbook", [&] { qm::WriteWorkbook(dir + "/typed.xlsx", rows); }},
                                    {"Exporter.ExportArrayToExcel",
                                     [&] { qm::Exporter().ExportArrayToExcel(dir + "/published.xlsx", published); }}));
}

void RecordsJob(const std::string& dir, Results& results) {
  auto orders = std::make_shared<Orders>();
  std::vector<PlainOrder> plain;
  for (int i = 0; i < kOrders; ++i) {
    PlainOrder p{100000 + i, (i % 9973) * 1.25 + 0.5, When(i), "note " + std::to_string(i % 1000), i % 3 == 0};
    auto o = std::make_shared<Order>();
    o->Number = p.Number;
    o->Amount = p.Amount;
    o->Placed = qm::MakeDate(2020 + i % 5, 1 + i % 12, 1 + i % 28, i % 24, i % 60, i % 60).Serial;
    o->Note = p.Note;
    o->Paid = p.Paid;
    orders->Items.push_back(std::move(o));
    plain.push_back(std::move(p));
  }
  const std::string typedFile = dir + "/typed.qms", publishedFile = dir + "/published.qms";
  std::size_t typedBack = 0, publishedBack = 0;
  results.Jobs.emplace_back("records",
                            Compare({"qm::SaveRecords + LoadRecords",
                                     [&] {
                                       qm::SaveRecords(typedFile, "Orders", plain);
                                       typedBack = qm::LoadRecords<PlainOrder>(typedFile, "Orders").size();
                                     }},
                                    {"QMStream.WriteCollectionSimple + ReadCollectionSimple", [&] {
                                       {
                                         qm::QMStream out;
                                         out.Use(qm::TextStream::Open(publishedFile, qm::IOMode::ForWriting));
                                         out.WriteCollectionSimple(orders, 1);
                                         out.Close_();
                                       }
                                       auto back = std::make_shared<Orders>();
                                       qm::QMStream in;
                                       in.Use(qm::TextStream::Open(publishedFile, qm::IOMode::ForReading));
                                       in.ReadCollectionSimple(back, true, std::make_shared<qm::PersistanceContext>());
                                       in.Close_();
                                       publishedBack = back->Items.size();
                                     }}));
  if (typedBack != kOrders || publishedBack != kOrders) results.Problems.push_back("MISMATCH: orders were lost");
}

void DeflateJob(Results& results) {
  std::vector<std::uint8_t> data;
  std::mt19937 random(11);
  while (data.size() < (16u << 20)) {
    if (random() % 4 == 0) {
      for (int i = 0; i < 64; ++i) data.push_back(static_cast<std::uint8_t>(random()));
    } else {
      const std::string words = "revenue " + std::to_string(random() % 1000) + " quarter north total\r\n";
      data.insert(data.end(), words.begin(), words.end());
    }
  }
  std::vector<std::uint8_t> typedBack, publishedBack;
  results.Jobs.emplace_back(
      "deflate", Compare({"qm::Deflate + Inflate", [&] { typedBack = qm::Inflate(qm::Deflate(data)); }},
                         {"Compress.CompressByteArray + DecompressByteArray", [&] {
                            publishedBack = data;
                            qm::Compress compress;
                            compress.CompressByteArray(publishedBack, qm::COM_DEFAULT_COMPRESSION);
                            compress.DecompressByteArray(publishedBack, static_cast<std::int32_t>(data.size()));
                          }}));
  if (typedBack != data || publishedBack != data) results.Problems.push_back("MISMATCH: a round trip failed");
}

void SettingsJob(Results& results) {
  // Enough values that each round holds several of SQLite's log checkpoints
  // (one per 1,000 pages written), not one landing in either face's round.
  constexpr int kValues = 4000;
  std::vector<std::string> keys, values;
  for (int i = 0; i < kValues; ++i) {
    keys.push_back("Key" + std::to_string(i));
    values.push_back("value " + std::to_string(i * 7919));
  }
  std::size_t typedRead = 0, publishedRead = 0;
  qm::SettingsSection section("Bench faces", "Typed");
  results.Jobs.emplace_back("settings", Compare({"qm::SettingsSection Set + Get",
                                                 [&] {
                                                   typedRead = 0;
                                                   for (int i = 0; i < kValues; ++i) section.Set(keys[i], values[i]);
                                                   for (int i = 0; i < kValues; ++i)
                                                     typedRead += section.Get(keys[i]).size();
                                                 }},
                                                {"SaveSetting + GetSetting",
                                                 [&] {
                                                   publishedRead = 0;
                                                   for (int i = 0; i < kValues; ++i)
                                                     qm::SaveSetting("Bench faces", "Published", keys[i], values[i]);
                                                   for (int i = 0; i < kValues; ++i)
                                                     publishedRead +=
                                                         qm::GetSetting("Bench faces", "Published", keys[i]).size();
                                                 }},
                                                // The checkpoints' syncs still vary from round to
                                                // round: single rounds differ by up to 20%.
                                                7));
  if (typedRead != publishedRead || typedRead == 0) results.Problems.push_back("MISMATCH: settings read back differ");
}

}  // namespace

int main() {
  const std::string dir = qm::bench::ScratchDir("faces");
  // The settings store goes to the scratch folder, not the user's.
  ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  Results results;
  FormatJob(results);
  WorkbookJob(dir, results);
  RecordsJob(dir, results);
  DeflateJob(results);
  SettingsJob(results);
  const auto worst = std::max_element(results.Jobs.begin(), results.Jobs.end(),
                                      [](const auto& a, const auto& b) { return a.second.Ratio < b.second.Ratio; });
  std::printf("bench faces ratio %.2f goal %g\n", worst->second.Ratio, qm::bench::kTypedGoal);
  qm::bench::Detail("R: the largest typed / published of the jobs (" + worst->first + ")");
  for (const auto& [job, beside] : results.Jobs) qm::bench::Detail(job + ": " + beside.Text);
  for (const std::string& problem : results.Problems) qm::bench::Detail(problem);
  return 0;
}
