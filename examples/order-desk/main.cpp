// The order desk, with the typed layer only: 1,000 orders saved as records and
// loaded back, an HTML report with a spline chart of the monthly takings as
// JPEG, the report packed into one MHT file, everything zipped, the orders as
// a workbook, the last run remembered in the settings, and the desk's
// configuration in an XML file.
//
//   qm-example-order-desk OUT-FOLDER
//
// Everything is written into OUT-FOLDER: desk.xml, orders.qms, chart.jpg,
// report.html, report.mht, orders.xlsx and desk.zip.

#include <array>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>

#include <quillmark/quillmark.h>

namespace fs = std::filesystem;
using namespace std::chrono;

// ---- 1. The record: a plain struct that describes its fields once.
struct Order {
  std::int64_t Id = 0;
  std::string Customer;
  double Amount = 0;
  bool Paid = false;
  sys_seconds Placed{};  // UTC; written as its UTC date and time

  static void Describe(qm::RecordType<Order>& r) {
    r.Name("Order")
        .Version(1)
        .Field("Id", &Order::Id)
        .Field("Customer", &Order::Customer)
        .Field("Amount", &Order::Amount)
        .Field("Paid", &Order::Paid)
        .Field("Placed", &Order::Placed);
  }
  bool operator==(const Order&) const = default;
};

namespace {

// The same 1,000 orders on every run: a small linear congruential generator.
std::vector<Order> MakeOrders(std::size_t count) {
  static constexpr std::array<const char*, 6> kCustomers = {"Ada Lovelace",    "Babbage & Sons", "Grace Hopper",
                                                            "Lovelace <Labs>", "Turing Ltd",     "Hamilton \"Apollo\""};
  std::uint64_t seed = 42;
  auto next = [&seed](std::uint64_t bound) {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    return (seed >> 33) % bound;
  };
  std::vector<Order> orders;
  const sys_days start = year{2026} / January / 1;
  for (std::size_t i = 0; i < count; ++i) {
    Order o;
    o.Id = 100000 + static_cast<std::int64_t>(i);
    o.Customer = kCustomers[next(kCustomers.size())];
    o.Amount = static_cast<double>(500 + next(50000)) / 100.0;  // cents: exact in 15 digits
    o.Paid = next(4) != 0;
    o.Placed = start + days{next(365)} + seconds{next(86400)};
    orders.push_back(o);
  }
  return orders;
}

// ---- 3. The chart: monthly takings as points, straight lines and a spline.
void DrawChart(const std::vector<double>& months, const fs::path& jpeg, qm::Rgb curveColour) {
  constexpr int kWidth = 640, kHeight = 360;
  constexpr double left = 50, right = 610, top = 20, bottom = 330;
  const double high = *std::max_element(months.begin(), months.end()) * 1.1;
  const double step = (right - left) / static_cast<double>(months.size() - 1);
  auto yOf = [&](double value) { return bottom - value / high * (bottom - top); };

  qm::Canvas chart(kWidth, kHeight);  // white
  for (int i = 0; i <= 5; ++i) chart.Line(left, yOf(high * i / 5), right, yOf(high * i / 5), qm::Rgb{224, 224, 224});
  chart.Rect(left, top, right, bottom, qm::Rgb{64, 64, 64});

  std::vector<qm::Point> straight;
  for (std::size_t i = 0; i < months.size(); ++i) straight.push_back({left + step * i, yOf(months[i])});
  chart.Polyline(straight, qm::Rgb{176, 176, 176});

  constexpr std::int32_t kPieces = 10;  // spline points per month
  const std::vector<double> smooth = qm::ResampleCubic(months, kPieces);
  std::vector<qm::Point> curve;
  for (std::size_t i = 0; i < smooth.size(); ++i) curve.push_back({left + step * i / kPieces, yOf(smooth[i])});
  chart.Polyline(curve, curveColour);

  for (const qm::Point& p : straight) chart.FillRect(p.X - 3, p.Y - 3, p.X + 3, p.Y + 3, qm::Rgb{0, 64, 128});
  qm::WriteJpeg(chart, jpeg, 90);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: qm-example-order-desk OUT-FOLDER\n";
    return 2;
  }
  try {
    const fs::path out = argv[1];
    fs::create_directories(out);

    // ---- 7. The configuration: written once with its defaults, then read.
    const fs::path configFile = out / "desk.xml";
    if (!fs::exists(configFile)) {
      qm::XmlElement defaults("desk");
      defaults.AddChild("shop", "Quillmark Tea & Cake");
      defaults.AddChild("currency", "EUR");
      defaults.AddChild("curve", "2050D0");
      defaults.Save(configFile);
    }
    const qm::XmlElement config = qm::LoadXml(configFile);
    const std::string shop = config.ChildText("shop", "Order desk");
    const std::string currency = config.ChildText("currency", "EUR");
    const qm::Rgb curveColour = qm::Rgb::FromHex(std::stoul(config.ChildText("curve", "2050D0"), nullptr, 16));

    // ---- 2. 1,000 orders saved as records and loaded back.
    const std::vector<Order> orders = MakeOrders(1000);
    qm::SaveRecords(out / "orders.qms", "Orders", orders);
    const std::vector<Order> loaded = qm::LoadRecords<Order>(out / "orders.qms", "Orders");
    if (loaded != orders) throw std::runtime_error("the orders loaded differ from those saved");

    // Takings per month and per customer.
    std::vector<double> months(12, 0.0);
    std::map<std::string, double> customers;
    double open = 0;
    for (const Order& o : loaded) {
      const year_month_day day{floor<days>(o.Placed)};
      months[static_cast<unsigned>(day.month()) - 1] += o.Amount;
      customers[o.Customer] += o.Amount;
      if (!o.Paid) open += o.Amount;
    }

    // ---- 3. The chart, then 4. the report around it.
    DrawChart(months, out / "chart.jpg", curveColour);
    std::vector<std::vector<std::string>> takings{{"customer", "takings"}};
    for (const auto& [name, total] : customers) takings.push_back({name, qm::Format(total, "#,##0.00")});
    qm::HtmlPage(shop + ": orders 2026")
        .Heading(1, shop + ": orders 2026")
        .Paragraph(std::to_string(loaded.size()) + " orders, " + qm::Format(open, "#,##0.00") + " " + currency +
                   " still open.")
        .Image(out / "chart.jpg", "takings per month")
        .Table(takings)
        .Save(out / "report.html");

    // ---- 5. The page and its picture in one archive.
    qm::PackMht(out / "report.html", out / "report.mht", shop + ": orders 2026");

    // ---- 6. A workbook of the orders: amounts with two decimals, the times as date cells.
    qm::Sheet sheet{.Name = "Orders",
                    .Rows = {{"id", "customer", "amount", "paid", "placed (UTC)"}},
                    .FitColumns = true,
                    .FreezeHeader = true};
    for (const Order& o : loaded)
      sheet.Rows.push_back({o.Id, o.Customer, qm::Cell(o.Amount, "#,##0.00"), o.Paid, o.Placed});
    qm::WriteWorkbook(out / "orders.xlsx", {{sheet}});

    // ---- 8. A setting: when the report was last made, and how often.
    qm::SettingsSection settings("Order desk", "Report");
    const double runs = settings.GetNumber("Runs", 0) + 1;
    settings.Set("Runs", runs);
    settings.Set("LastReport", (out / "report.mht").string());

    // ---- 9. Everything in one zip, named from the output folder.
    std::vector<fs::path> files;
    for (const char* name : {"desk.xml", "orders.qms", "chart.jpg", "report.html", "report.mht", "orders.xlsx"})
      files.push_back(out / name);
    const qm::ZipReport zipped = qm::ZipFiles(out / "desk.zip", files, out);
    if (!zipped.Complete()) throw std::runtime_error(zipped.Message());

    std::cout << loaded.size() << " orders saved and loaded back, " << customers.size() << " customers, "
              << zipped.Archived << " files in desk.zip; report run " << runs << " for " << shop << '\n';
  } catch (const qm::Error& e) {
    std::cerr << "error " << e.Number() << ": " << e.Description() << '\n';
    for (const std::string& piece : qm::Trail(e)) std::cerr << "  at " << piece << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "error: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
