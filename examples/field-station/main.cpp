// The field station's nightly job, with the typed layer only. The station's
// logger leaves a fortnight of readings (one every ten minutes, about 2,000)
// in an ISO-8859-1 XML file whose station name is an internal entity; the job
//
//   1. reads the XML file and groups the readings by day,
//   2. keeps its threshold and a run count in the settings,
//   3. draws a labelled chart of the daily temperatures (a spline through the
//      means, the range of each day, a title, axis labels and a legend),
//   4. writes an HTML report around it and 5. packs it into one MHT file,
//      taking only files from the report's own folder,
//   6. writes a workbook with a sheet of days and a sheet of readings, in
//      number and date formats,
//   7. saves the days with their readings as nested records and reads them back,
//   8. compresses the records, 9. zips the night's output anew, and
//  10. finds what it wrote.
//
//   qm-example-field-station OUT-FOLDER
//
// Everything is written into OUT-FOLDER: station.xml (made on the first run,
// as the logger would), chart.jpg, report/report.html, report.mht,
// station.xlsx, days.qms, days.qms.z and night.zip.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <quillmark/quillmark.h>

namespace fs = std::filesystem;
using namespace std::chrono;

// ---- 7. The records: a day holds its readings.
struct Reading {
  sys_seconds At{};
  double Temp = 0;
  std::int32_t Humidity = 0;

  static void Describe(qm::RecordType<Reading>& r) {
    r.Name("Reading").Field("At", &Reading::At).Field("Temp", &Reading::Temp).Field("Humidity", &Reading::Humidity);
  }
  bool operator==(const Reading&) const = default;
};

struct Day {
  year_month_day Date{};
  double Mean = 0, Low = 0, High = 0;
  std::optional<std::string> Note;  // only on days with frost
  std::vector<Reading> Readings;

  static void Describe(qm::RecordType<Day>& r) {
    r.Name("Day")
        .Field("Date", &Day::Date)
        .Field("Mean", &Day::Mean)
        .Field("Low", &Day::Low)
        .Field("High", &Day::High)
        .Field("Note", &Day::Note)
        .Field("Readings", &Day::Readings);
  }
  bool operator==(const Day&) const = default;
};

namespace {

constexpr int kDays = 14;
constexpr int kPerDay = 144;  // one reading every ten minutes

// The logger's file, the same on every run: ISO-8859-1, with the station's
// name as an internal entity. Temperatures to one decimal, as it reports them.
void WriteLoggerFile(const fs::path& file) {
  std::ofstream xml(file, std::ios::binary);
  xml << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
      << "<!DOCTYPE station [\n  <!ENTITY site \"M\xF6nchsberg, Salzburg\">\n]>\n"
      << "<station name=\"&site;\" elevation=\"508\">\n";
  std::uint64_t seed = 7;
  const auto noise = [&seed] {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    return static_cast<double>((seed >> 33) % 1000) / 1000.0 - 0.5;
  };
  const sys_days first = year{2026} / November / 24;
  for (int i = 0; i < kDays * kPerDay; ++i) {
    const sys_seconds at = first + minutes{10 * i};
    const int dayIndex = i / kPerDay;
    const double hour = (i % kPerDay) / 6.0;
    const double temp = 7.5 - 0.6 * dayIndex + 4.5 * std::sin((hour - 9.0) / 24.0 * 2 * M_PI) + noise();
    const int humidity = 70 + static_cast<int>(15 * std::cos(hour / 24.0 * 2 * M_PI) + 10 * noise());
    const year_month_day date{floor<days>(at)};
    const hh_mm_ss time{at - floor<days>(at)};
    char line[128];
    std::snprintf(line, sizeof line, "  <reading at=\"%04d-%02u-%02u %02ld:%02ld\" temp=\"%.1f\" humidity=\"%d\"/>\n",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()), temp, humidity);
    xml << line;
  }
  xml << "</station>\n";
}

// "yyyy-mm-dd hh:mm" as the logger writes it; anything else is refused by
// name, as the library's own errors are.
sys_seconds ParseTime(const std::string& text) {
  int y = 0;
  unsigned mo = 0, d = 0, h = 0, mi = 0;
  if (std::sscanf(text.c_str(), "%4d-%2u-%2u %2u:%2u", &y, &mo, &d, &h, &mi) != 5)
    throw std::runtime_error("a reading's time is no 'yyyy-mm-dd hh:mm': '" + text + "'");
  return sys_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi};
}

std::vector<Day> ReadStation(const qm::XmlElement& station, double frostBelow) {
  std::vector<Day> days;
  for (const qm::XmlElement& element : station.Children("reading")) {
    Reading r{ParseTime(element.Attribute("at")), std::stod(element.Attribute("temp")),
              std::stoi(element.Attribute("humidity"))};
    const year_month_day date{floor<::days>(r.At)};
    if (days.empty() || days.back().Date != date) {
      days.emplace_back();
      days.back().Date = date;
      days.back().Low = days.back().High = r.Temp;
    }
    Day& day = days.back();
    day.Low = std::min(day.Low, r.Temp);
    day.High = std::max(day.High, r.Temp);
    day.Readings.push_back(r);
  }
  for (Day& day : days) {
    double sum = 0;
    for (const Reading& r : day.Readings) sum += r.Temp;
    day.Mean = std::round(sum / static_cast<double>(day.Readings.size()) * 100) / 100;
    if (day.Low < frostBelow) day.Note = "frost";
  }
  return days;
}

std::string DateText(year_month_day date) { return qm::Format(sys_days{date}, "d mmm"); }

// ---- 3. The chart: each day's range as a bar, a spline through the means.
void DrawChart(const std::vector<Day>& days, const std::string& site, const fs::path& jpeg) {
  constexpr int kWidth = 720, kHeight = 420;
  constexpr double left = 70, right = 690, top = 60, bottom = 360;
  const qm::Rgb ink{48, 48, 48}, grid{224, 224, 224}, range{150, 190, 230}, curve{200, 40, 40};
  double low = days.front().Low, high = days.front().High;
  for (const Day& d : days) low = std::min(low, d.Low), high = std::max(high, d.High);
  low = std::floor(low / 2) * 2, high = std::ceil(high / 2) * 2;
  constexpr double inset = 18;  // keeps the first and last bars inside the frame
  const double step = (right - left - 2 * inset) / static_cast<double>(days.size() - 1);
  const auto yOf = [&](double t) { return bottom - (t - low) / (high - low) * (bottom - top); };

  qm::Canvas chart(kWidth, kHeight);
  chart.SetSmooth(true);
  chart.Text(kWidth / 2.0, 14, site + ": daily temperature", 20, ink, {qm::HAlign::Centre, qm::VAlign::Top});
  for (double t = low; t <= high; t += 2) {
    chart.Line(left, yOf(t), right, yOf(t), grid);
    chart.Text(left - 8, yOf(t), qm::Format(t, "0"), 12, ink, {qm::HAlign::Right, qm::VAlign::Middle});
  }
  chart.Text(left - 8, top - 14,
             "\xC2\xB0"
             "C",
             13, ink, {qm::HAlign::Right, qm::VAlign::Bottom});
  chart.Rect(left, top, right, bottom, ink);

  std::vector<double> means;
  for (std::size_t i = 0; i < days.size(); ++i) {
    const double x = left + inset + step * static_cast<double>(i);
    chart.FillRect(x - 5, yOf(days[i].High), x + 5, yOf(days[i].Low), range);
    if (i % 2 == 0) chart.Text(x, bottom + 8, DateText(days[i].Date), 12, ink, {qm::HAlign::Centre, qm::VAlign::Top});
    means.push_back(days[i].Mean);
  }
  constexpr std::int32_t kPieces = 12;
  const std::vector<double> smooth = qm::ResampleCubic(means, kPieces);
  std::vector<qm::Point> line;
  for (std::size_t i = 0; i < smooth.size(); ++i)
    line.push_back({left + inset + step * static_cast<double>(i) / kPieces, yOf(smooth[i])});
  chart.Polyline(line, curve);
  chart.Text((left + right) / 2, kHeight - 12, "day", 13, ink, {qm::HAlign::Centre, qm::VAlign::Bottom});

  // The legend, in the upper right corner.
  const double lx = right - 200, ly = top + 12;
  chart.FillRect(lx, ly, right - 12, ly + 48, qm::Rgb{255, 255, 255});
  chart.Rect(lx, ly, right - 12, ly + 48, grid);
  chart.Line(lx + 10, ly + 14, lx + 34, ly + 14, curve);
  chart.Text(lx + 42, ly + 14, "daily mean (spline)", 12, ink, {qm::HAlign::Left, qm::VAlign::Middle});
  chart.FillRect(lx + 17, ly + 27, lx + 27, ly + 41, range);
  chart.Text(lx + 42, ly + 34, "lowest to highest", 12, ink, {qm::HAlign::Left, qm::VAlign::Middle});
  qm::WriteJpeg(chart, jpeg, 90);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: qm-example-field-station OUT-FOLDER\n";
    return 2;
  }
  try {
    const fs::path out = argv[1];
    fs::create_directories(out / "report");
    const fs::path logger = out / "station.xml";
    if (!fs::exists(logger)) WriteLoggerFile(logger);

    // ---- 2. Settings: the frost threshold (kept once written) and the run count.
    qm::SettingsSection settings("Field station", "Nightly");
    const double frostBelow = settings.GetNumber("FrostBelow", 0.0);
    settings.Set("FrostBelow", frostBelow);
    const double runs = settings.GetNumber("Runs", 0) + 1;
    settings.Set("Runs", runs);

    // ---- 1. The logger's readings, by day.
    const qm::XmlElement station = qm::LoadXml(logger);
    const std::string site = station.Attribute("name");  // the entity, read as UTF-8
    const std::vector<Day> days = ReadStation(station, frostBelow);
    std::size_t readings = 0, frostDays = 0;
    for (const Day& d : days) readings += d.Readings.size(), frostDays += d.Note ? 1 : 0;

    // ---- 3. and 4. The chart and the report around it (text is escaped by the page).
    DrawChart(days, site, out / "report" / "chart.jpg");
    std::vector<std::vector<std::string>> table{{"day", "mean \u00B0C", "lowest", "highest", "note"}};
    for (const Day& d : days)
      table.push_back({DateText(d.Date), qm::Format(d.Mean, "0.0"), qm::Format(d.Low, "0.0"), qm::Format(d.High, "0.0"),
                       d.Note.value_or("")});
    qm::HtmlPage(site + ": the last fortnight")
        .Heading(1, site + " <" + station.Attribute("elevation") + " m>")
        .Paragraph(std::to_string(readings) + " readings over " + std::to_string(days.size()) + " days; " +
                   std::to_string(frostDays) + " days below " + qm::Format(frostBelow, "0.0") +
                   " \xC2\xB0"
                   "C.")
        .Image(out / "report" / "chart.jpg", "daily temperatures")
        .Table(table)
        .Save(out / "report" / "report.html");

    // ---- 5. The report in one archive, taking nothing from outside its folder.
    qm::MhtOptions pack;
    pack.Subject = site + ": nightly report";
    pack.Confine = true;
    const qm::MhtResult packed = qm::PackMht(out / "report" / "report.html", out / "report.mht", pack);

    // ---- 6. The workbook: days and readings, each in its own sheet.
    qm::Sheet daySheet{.Name = "Days",
                       .Rows = {{"day", "mean", "lowest", "highest", "note"}},
                       .FitColumns = true,
                       .FreezeHeader = true};
    qm::Sheet readingSheet{.Name = "Readings",
                           .Rows = {{"time (UTC)", "temperature", "humidity %"}},
                           .ColumnWidths = {18, 12, 11},
                           .FreezeHeader = true};
    for (const Day& d : days) {
      daySheet.Rows.push_back(
          {d.Date, qm::Cell(d.Mean, "0.00"), qm::Cell(d.Low, "0.0"), qm::Cell(d.High, "0.0"), d.Note.value_or("")});
      for (const Reading& r : d.Readings)
        readingSheet.Rows.push_back({qm::Cell(r.At, "yyyy-mm-dd hh:mm"), qm::Cell(r.Temp, "0.0"), r.Humidity});
    }
    const std::vector<qm::Sheet> sheets{daySheet, readingSheet};
    qm::WriteWorkbook(out / "station.xlsx", sheets);

    // ---- 7. The days with their readings as records, read back whole.
    qm::SaveRecords(out / "days.qms", "Days", days);
    if (qm::LoadRecords<Day>(out / "days.qms", "Days") != days)
      throw std::runtime_error("the days read back differ from those saved");

    // ---- 8. and 9. The records compressed; the night's output in a new zip.
    qm::CompressFile(out / "days.qms", out / "days.qms.z");
    const std::vector<fs::path> night{out / "report.mht", out / "station.xlsx", out / "days.qms.z"};
    const qm::ZipReport zipped = qm::ZipFiles(out / "night.zip", night, out);
    if (!zipped.Complete()) throw std::runtime_error(zipped.Message());

    // ---- 10. What the job left, found by pattern.
    const std::vector<fs::path> made = qm::FindFiles(out, "*.*", true);

    std::cout << site << ": " << readings << " readings, " << days.size() << " days (" << frostDays << " with frost), "
              << zipped.Archived << " files in night.zip, " << made.size() << " files in the output, "
              << packed.LeftOut.size() << " references left out of the archive; run " << runs << '\n';
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
