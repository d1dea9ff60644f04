#pragma once
// The whole-file jobs of the reliability harnesses: the fault loop fails
// their system calls one at a time, the fork matrix forks in their midst, the
// crash test kills them. Each job makes its inputs, runs, and tells whether an
// output is the new one; each harness keeps only its own loop.

#include <zip.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "quillmark/automation/XML.h"
#include "quillmark/compression/Compress.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/graphics/DIBSection.h"
#include "quillmark/graphics/IJL.h"
#include "quillmark/html/HTML2MHT.h"
#include "quillmark/html/HTMLDoc.h"
#include "quillmark/quillmark.h"
#include "quillmark/runtime/FileTable.h"
#include "quillmark/runtime/Settings.h"
#include "quillmark/runtime/TextStream.h"
#include "quillmark/utility/OLEStreamWriter.h"
#include "support/TestEnvironment.h"

namespace qm::test {
namespace fs = std::filesystem;

// The members of a zip archive, by name; nothing when it is not a whole archive.
inline std::optional<std::map<std::string, std::string>> Members(const std::string& bytes) {
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, nullptr);
  zip_t* archive = source ? zip_open_from_source(source, ZIP_CHECKCONS | ZIP_RDONLY, nullptr) : nullptr;
  if (!archive) {
    zip_source_free(source);  // nothing for none
    return std::nullopt;
  }
  std::optional<std::map<std::string, std::string>> members(std::in_place);
  for (zip_uint64_t i = 0; members && i < static_cast<zip_uint64_t>(zip_get_num_entries(archive, 0)); ++i) {
    zip_stat_t info;
    zip_file_t* file = zip_stat_index(archive, i, 0, &info) == 0 ? zip_fopen_index(archive, i, 0) : nullptr;
    std::string content(file ? info.size : 0, '\0');
    if (file && zip_fread(file, content.data(), info.size) == static_cast<zip_int64_t>(info.size))
      (*members)[info.name] = content;
    else members.reset();
    if (file) zip_fclose(file);
  }
  zip_discard(archive);
  return members;
}

// Two workbooks hold the same table: whole archives with the same members
// and the same content, except the members that carry the time of writing
// and the sheet's name (the name of a scratch file).
inline bool SameWorkbook(const std::string& a, const std::string& b) {
  auto first = Members(a);
  auto second = Members(b);
  if (!first || !second) return false;
  for (const char* varying : {"docProps/core.xml", "docProps/app.xml", "xl/workbook.xml"})
    if (first->erase(varying) + second->erase(varying) != 2) return false;
  return *first == *second;
}

// Two MHT archives hold the same parts: the boundary and the date, made from
// the time of writing, aside.
inline bool SameArchive(std::string a, std::string b) {
  for (std::string* text : {&a, &b}) {
    for (std::size_t at = 0; (at = text->find("----=_QMLib_", at)) != std::string::npos; at += 12)
      text->erase(at + 12, text->find_first_not_of("0123456789.", at + 12) - at - 12);
    const std::size_t date = text->find("\r\nDate: ");
    if (date != std::string::npos) text->erase(date, text->find("\r\n", date + 2) - date);
  }
  return a == b;
}

// How a run ended.
struct Ended {
  enum How { Done, Refused, Unclear } Way = Done;  // Unclear: anything but the job's own way of failing
  std::string Said;        // what a refusal said (empty where the contract says nothing); what a search found
  std::string Trail = {};  // a qm::Error's source (its call trail)
  int Number = 0;          // a qm::Error's number
};

// Where and how a job runs.
struct Place {
  fs::path In, Out;  // the folders of its inputs and of its outputs (one folder but in the fork matrix)
  int Scale = 1;     // the inputs hold about 100 x Scale x Scale lines
  int Variant = 0;   // which of two inputs, 0 or 1 (the crash test writes both in turn)
  qm::Progress OnProgress = {};
  std::function<void()> Go = [] {};  // called as the write begins, after the work before it
};

// Where a job runs: the fault loop, the crash test, the fork matrix beside
// it or from its progress. How its outputs are judged: an MHT archive of
// Site(), which may lack the picture (the packer skips a file it cannot
// read); a workbook. How it refuses: without words (XML::SaveFile's false);
// naming the file in its trail only (the published converter's call frame);
// removing the old output (Compress::CompressFile's contract).
constexpr int kFaults = 1, kCrash = 2, kFork = 4, kForkInCallback = 8, kMht = 16, kWorkbook = 32, kSilent = 64,
              kTrailNames = 128, kMayDrop = 256;

// A row of the table.
struct Job {
  std::string Name;
  int Flags = 0;
  std::vector<std::string> Outputs = {};  // in Out; on a refusal the first (written last) must be its old self
  std::function<void(const Place&)> Make = nullptr;          // the inputs (and old outputs of a kind) in In
  std::function<Ended(const Place&)> Run = nullptr;          // none for a command of the tool
  std::vector<std::string> Tool = {};                        // a command of the tool and its files
  std::function<std::string(const Place&)> Check = nullptr;  // what else is wrong after a run; empty when nothing

  bool Has(int flag) const { return (Flags & flag) != 0; }
  bool Same(const std::string& a, const std::string& b) const {
    return Has(kMht) ? SameArchive(a, b) : Has(kWorkbook) ? SameWorkbook(a, b) : a == b;
  }
};

inline std::size_t Lines(const Place& p) { return 100 * static_cast<std::size_t>(p.Scale * p.Scale); }

// A line of words that differ between the variants, compressible about 3:1.
inline std::string Words(int variant, std::size_t line) {
  static const char* const kWords[] = {"ledger", "invoice", "quantity", "north", "amber",  "spline",
                                       "record", "margin",  "value",    "total", "column", "vector"};
  std::uint64_t state = line * 2 + static_cast<std::uint64_t>(variant) + 1;
  std::string text = std::to_string(line) + (variant ? " b" : " a");
  for (int i = 0; i < 8; ++i) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    text += ' ' + std::string(kWords[(state >> 33) % 12]) + std::to_string((state >> 40) % 1000);
  }
  return text;
}

inline std::string Text(std::size_t lines, int variant = 0) {
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) text += Words(variant, i) + "\r\n";
  return text;
}

// A 24-bit BMP of side x side pixels, a colour ramp.
inline std::string Bmp(int side) {
  const auto n = static_cast<std::uint32_t>(side), row = (n * 3 + 3) & ~3u, size = 54 + row * n;
  std::string bmp(size, '\0');
  const std::pair<std::size_t, std::uint32_t> header[] = {
      {0, 'B' | 'M' << 8}, {2, size}, {10, 54}, {14, 40}, {18, n}, {22, n}, {26, 1 | 24 << 16}, {34, size - 54}};
  for (const auto& [at, value] : header)
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<char>(value >> (8 * i));
  for (std::uint32_t y = 0; y < n; ++y)
    for (std::uint32_t x = 0; x < n * 3; ++x)
      bmp[54 + y * row + x] = static_cast<char>((x / 3 * (x % 3 + 1) + y * 3) & 0xff);
  return bmp;
}

struct Row {
  int Id = 0;
  std::int64_t Big = 0;
  double Amount = 0;
  std::string Note;
  static void Describe(RecordType<Row>& r) {
    r.Name("Row").Field("Id", &Row::Id).Field("Big", &Row::Big).Field("Amount", &Row::Amount).Field("Note", &Row::Note);
  }
};

inline std::string XmlText(const Place& p) {
  std::string xml = "<?xml version='1.0'?>\n<orders   kind='new'>";
  for (std::size_t i = 0; i < Lines(p) / 2; ++i)
    xml += "<order n='" + std::to_string(i) + "'>" + Words(p.Variant, i) + "</order>";
  return xml + "</orders>\n";
}

// A table of items, prices and notes, for the workbook writers.
inline std::vector<std::vector<std::string>> Table(const Place& p) {
  std::vector<std::vector<std::string>> table{{"item", "price", "note"}};
  for (std::size_t i = 0; i < Lines(p) / 5; ++i)
    table.push_back({"item " + std::to_string(i), std::to_string(i * 7 % 13), Words(p.Variant, i).substr(0, 30)});
  return table;
}

// The input of the compressors.
inline void TextInput(const Place& p) { WriteFile(p.In / "in.txt", Text(Lines(p), p.Variant)); }

// A page linking a picture, and the picture; the second variant names it in
// other letter case, as a page made on Windows may.
inline void Site(const Place& p) {
  WriteFile(p.In / "page.html", "<html><head><title>t</title></head><body><p>" + Text(10 * p.Scale, p.Variant) +
                                    "</p><img src=\"" + (p.Variant ? "Pic" : "pic") + ".bmp\"></body></html>\n");
  WriteFile(p.In / "pic.bmp", Bmp(16 * p.Scale + p.Variant));
}

// Files to zip, and an old archive of another.
inline void ZipInputs(const Place& p) {
  WriteFile(p.In / "a.txt", Text(Lines(p) / 2, p.Variant));
  WriteFile(p.In / "b.bmp", Bmp(8 * p.Scale));
  WriteFile(p.In / "kept.txt", "an entry of the old archive\n");
  if (!ZipFiles(p.In / "out.zip", std::vector<fs::path>{p.In / "kept.txt"}, p.In).Complete())
    throw std::runtime_error("no old archive");
}

// Thrown by a job that tells its refusal by a result.
struct Refusal {
  std::string Said;
};

inline Ended Typed(const std::function<void()>& job) {
  try {
    job();
    return {};
  } catch (const Refusal& refusal) {
    return {Ended::Refused, refusal.Said};
  } catch (const Error& e) {
    return {Ended::Refused, e.Description(), e.Source(), e.Number()};
  } catch (const std::exception& e) {
    return {Ended::Unclear, e.what()};
  }
}

// A run of a job that raises when it fails.
template <typename F>
auto Raising(F job) {
  return [job](const Place& p) { return Typed([&] { job(p); }); };
}

inline void Succeeded(std::int32_t result) {
  if (result != 0) throw Refusal{"result " + std::to_string(result)};
}

// Makes the job's inputs (unless `make` is false) and puts its old outputs in
// place where there are none: those Make left in In, else a few bytes.
inline void Ready(const Job& job, const Place& p, bool make = true) {
  if (make && job.Make) job.Make(p);
  for (const std::string& name : job.Outputs) {
    fs::create_directories((p.Out / name).parent_path());
    if (fs::exists(p.Out / name)) continue;
    if (fs::exists(p.In / name)) fs::copy_file(p.In / name, p.Out / name);
    else WriteFile(p.Out / name, "old bytes\n");
  }
}

// The archive of Site() holds the page but not the picture.
inline bool WithoutPicture(const fs::path& out) {
  const std::string archive = ReadFile(out / "page.mht");
  return archive.find("Content-Location: http://localhost/page.html") != std::string::npos &&
         archive.find("Content-Location: http://localhost/pic.bmp") == std::string::npos;
}

// The text compressed: by CompressFile, stored as it is; by the Compress class.
inline void Packed(const Place& p) {
  TextInput(p);
  CompressFile(p.In / "in.txt", p.In / "in.z", DeflateLevel::Store);
  Compress().CompressFile((p.In / "in.txt").string(), (p.In / "in.qz").string(), COM_BEST_SPEED);
}

// A tree of twelve folders to search.
inline void Tree(const Place& p) {
  for (int i = 0; i < 12; ++i) {
    const fs::path folder = p.In / "tree" / ("folder" + std::to_string(i)) / "inner";
    fs::create_directories(folder);
    for (const char* file : {"a.txt", "b.txt", "c.dat"}) WriteFile(folder / file, file);
  }
}

inline void Tsv(const Place& p) {
  std::string tsv;
  for (const auto& row : Table(p)) tsv += row[0] + "\t" + row[1] + "\t" + row[2] + "\n";
  WriteFile(p.In / "t.tsv", tsv);
}

inline void XmlInput(const Place& p) { WriteFile(p.In / "doc.xml", XmlText(p)); }

// The lines of the run's log: the log is one file for every run, its lines
// tagged with the run's folder.
inline std::string LogInOrder(const Place& p) {
  std::istringstream log(fs::exists(LogFilePath()) ? ReadFile(LogFilePath()) : "");
  const std::string tag = p.Out.filename().string() + " ";
  int next = 0;
  for (std::string line; std::getline(log, line);)
    if (line.starts_with(tag) && line != tag + std::to_string(next++) + "\r") return "out of order: " + line;
  return next == 100 ? std::string() : std::to_string(next) + " lines of 100";
}

// The job's outputs in the folder, "<missing>" for one that is not there.
inline std::vector<std::string> Outputs(const Job& job, const fs::path& dir) {
  std::vector<std::string> bytes;
  for (const auto& name : job.Outputs) bytes.push_back(fs::exists(dir / name) ? ReadFile(dir / name) : "<missing>");
  return bytes;
}

// XML::SaveFile tells a refusal by false alone; it raises nothing.
inline Ended SaveXml(const Place& p) {
  XML xml;
  xml.LoadFromString(XmlText(p), "orders");
  p.Go();
  bool saved = false;
  const Ended ended = Typed([&] { saved = xml.SaveFile((p.Out / "out.xml").string()); });
  if (ended.Way != Ended::Done) return Ended{Ended::Unclear, "raised: " + ended.Said};
  // True with the old file: the component could not create the file, which
  // does not change the published result.
  const bool written = ReadFile(p.Out / "out.xml") != "old bytes\n";
  return saved && written ? ended : Ended{Ended::Refused, ""};
}

// A search: what it found, one path a line.
inline Ended Find(const Place& p) {
  Ended found;
  for (const auto& path : FindFiles(p.In / "tree", "*.txt", true, p.OnProgress)) found.Said += path.string() + "\n";
  return found;
}

// A hundred lines of the library's log, tagged with the run's folder.
inline void Log(const Place& p) {
  SaveSetting("Quillmark Library", "Init", "Logging", "yes");
  p.Go();
  for (int i = 0; i < 100; ++i) QMWriteLog(p.Out.filename().string() + " " + std::to_string(i));
}

// The jobs that the harnesses in `use` run.
inline std::vector<Job> Jobs(int use) {
  using P = const Place&;
  std::vector<Job> jobs{
      {"TextStream", kFaults | kCrash, {"out.txt"}, nullptr, Raising([](P p) {
         p.Go();
         const auto format = p.Variant ? TextFormat::Unicode : TextFormat::ASCII;
         auto stream = TextStream::Open(p.Out / "out.txt", IOMode::ForWriting, true, format);
         for (std::size_t i = 0; i < Lines(p); ++i) stream->WriteLine(Words(p.Variant, i));
         stream->Close();
       })},
      {"SaveRecords", kFaults | kFork, {"rows.qms"}, nullptr, Raising([](P p) {
         std::vector<Row> rows;
         for (int i = 0; i < static_cast<int>(Lines(p) / 2); ++i)
           rows.push_back({i, i * 7919LL, i * 0.25, Words(0, i)});
         p.Go();
         SaveRecords(p.Out / "rows.qms", "Rows", rows);
       })},
      {"HtmlPage.Save", kFaults, {"site/page.html", "site/pic.bmp"}, Site, Raising([](P p) {
         HtmlPage("Faults")
             .Paragraph(Text(10 * p.Scale))
             .Image(p.In / "pic.bmp", "chart")
             .Save(p.Out / "site/page.html");
       })},
      // Typographer::SaveAs writes through the same html::WriteDocument as HTMLDoc.
      {"HTMLDoc.SaveAs", kCrash, {"site/page.html", "site/pic.bmp"}, Site, Raising([](P p) {
         HTMLDoc doc;
         doc.BeginDoc("Report " + std::to_string(p.Variant));
         doc.BeginBody();
         doc.Image((p.In / "pic.bmp").string());
         for (std::size_t i = 0; i < Lines(p) / 2; ++i) doc.BodyTextCR(Words(p.Variant, i));
         p.Go();
         doc.SaveAs((p.Out / "site/page.html").string());
       })},
      {"PackMht", kFaults | kForkInCallback | kMht, {"page.mht"}, Site, Raising([](P p) {
         PackMht(p.In / "page.html", p.Out / "page.mht", "s", p.OnProgress);
       })},
      {"ConvertHTMLToMHT", kFaults | kMht | kTrailNames, {"page.mht"}, Site, Raising([](P p) {
         std::string subject = "s";
         mdlHTML2MHT::ConvertHTMLToMHT((p.In / "page.html").string(), (p.Out / "page.mht").string(), subject);
       })},
      {"ZipFiles", kFaults | kForkInCallback, {"out.zip"}, ZipInputs, Raising([](P p) {
         const std::vector<fs::path> files{p.In / "a.txt", p.In / "b.bmp"};
         const ZipReport report = ZipFiles(p.Out / "out.zip", files, p.In, p.OnProgress);
         if (!report.Complete()) throw Refusal{report.Message()};
       })},
      {"CompressFile", kFaults | kForkInCallback, {"out.z"}, TextInput, Raising([](P p) {
         CompressFile(p.In / "in.txt", p.Out / "out.z", DeflateLevel::Fastest, p.OnProgress);
       })},
      {"DecompressFile", kFaults | kForkInCallback, {"out.txt"}, Packed, Raising([](P p) {
         DecompressFile(p.In / "in.z", p.Out / "out.txt", p.OnProgress);
       })},
      {"Compress.CompressFile", kFaults | kForkInCallback | kCrash | kMayDrop, {"out.z"}, TextInput, Raising([](P p) {
         const std::string in = (p.In / "in.txt").string(), out = (p.Out / "out.z").string();
         p.Go();
         Succeeded(p.OnProgress ? Compress().CompressFile(in, out, COM_BEST_SPEED, p.OnProgress)
                                : Compress().CompressFile(in, out, COM_DEFAULT_COMPRESSION));
       })},
      {"Compress.DecompressFile", kCrash, {"out.txt"}, Packed, Raising([](P p) {
         p.Go();
         Succeeded(Compress().DecompressFile((p.In / "in.qz").string(), (p.Out / "out.txt").string()));
       })},
      {"WriteJpeg", kFaults | kFork, {"out.jpg", "chart.jpg"}, nullptr, Raising([](P p) {
         Canvas chart(64 * p.Scale, 48 * p.Scale);
         chart.FillRect(4, 4, 30 * p.Scale, 20 * p.Scale, Rgb{200, 40, 40});
         chart.Line(0, 0, 64 * p.Scale, 48 * p.Scale, Rgb{0, 0, 160});
         RgbImage noise{64 * p.Scale, 48 * p.Scale,
                        std::vector<std::uint8_t>(std::size_t{64 * 48 * 3} * p.Scale * p.Scale)};
         std::mt19937 random(static_cast<unsigned>(p.Variant) + 1);
         for (auto& byte : noise.Pixels) byte = static_cast<std::uint8_t>(random());
         p.Go();
         WriteJpeg(chart, p.Out / "chart.jpg", 90);
         WriteJpeg(noise, p.Out / "out.jpg", 80);
       })},
      {"WriteWorkbook", kFaults | kFork | kWorkbook, {"numbers.xlsx", "out.xlsx"}, nullptr, Raising([](P p) {
         const auto table = Table(p);
         std::vector<std::vector<double>> numbers;
         for (std::size_t i = 0; i < table.size(); ++i) numbers.push_back({i + 0.5, i * 0.25, i * 3.0});
         p.Go();
         WriteWorkbook(p.Out / "out.xlsx", table);
         WriteWorkbook(p.Out / "numbers.xlsx", numbers);
       })},
      {"XmlElement.Save", kFaults | kFork, {"out.xml"}, nullptr, Raising([](P p) {
         const XmlElement tree = ParseXml(XmlText(p));
         p.Go();
         tree.Save(p.Out / "out.xml");
       })},
      {"XML.SaveFile", kFaults | kCrash | kSilent, {"out.xml"}, nullptr, SaveXml},
      {"OLEStreamWriter", kCrash, {"out.bin"}, nullptr, Raising([](P p) {
         auto writer = std::make_shared<OLEStreamWriter>();
         const std::string text = Text(Lines(p), p.Variant);
         writer->Stream()->Write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
         p.Go();
         writer->WriteToFile((p.Out / "out.bin").string());
       })},
      {"SaveJPG", kCrash, {"out.jpg"}, nullptr, Raising([](P p) {
         clsDIBSection dib;
         if (!dib.Create(64 * p.Scale, 48 * p.Scale)) throw std::runtime_error("no DIB");
         std::mt19937 random(static_cast<std::uint32_t>(p.Variant + 1));
         for (std::size_t i = 0; i < static_cast<std::size_t>(dib.BytesPerScanLine()) * 48 * p.Scale; ++i)
           dib.DIBSectionBitsPtr()[i] = static_cast<std::uint8_t>(random());
         p.Go();
         if (!mdlIntelJPEGLibrary::SaveJPG(dib, (p.Out / "out.jpg").string(), 95)) throw std::runtime_error("no JPEG");
       })},
      {"FindFiles", kForkInCallback, {}, Tree, Find},
      // A file written as a whole, and one appended to, both numbered files.
      {"FileNumbers", kFork, {"whole.txt", "log.txt"}, nullptr, Raising([](P p) {
         const std::int32_t whole = files::FreeFile();
         files::Open(whole, (p.Out / "whole.txt").string(), files::OpenMode::Output);
         const std::int32_t log = files::FreeFile();
         files::Open(log, (p.Out / "log.txt").string(), files::OpenMode::Append);
         p.Go();
         for (std::size_t i = 0; i < Lines(p) / 3; ++i) {
           files::PrintLine(whole, Words(0, i));
           files::PrintLine(log, Words(0, i));
         }
         files::Close(whole);
         files::Close(log);
       })},
      {"tool compress", kFaults, {"out.z"}, TextInput, nullptr, {"compress", "in.txt", "out.z"}},
      {"tool zip", kFaults, {"out.zip"}, ZipInputs, nullptr, {"zip", "out.zip", "a.txt"}},
      {"tool jpeg", kFaults, {"out.jpg"}, Site, nullptr, {"jpeg", "pic.bmp", "out.jpg"}},
      // The tool rewrites the user's own file in place.
      {"tool xml-check", kFaults | kCrash, {"doc.xml"}, XmlInput, nullptr, {"xml-check", "doc.xml"}},
      {"tool export-tsv", kFaults | kCrash | kWorkbook, {"t.xlsx"}, Tsv, nullptr, {"export-tsv", "t.tsv", "t.xlsx"}},
      {"tool mht", kFaults | kCrash | kMht, {"page.mht"}, Site, nullptr, {"mht", "page.html", "page.mht"}},
      // Last: the library's own log lines slow the other jobs down.
      {"QMWriteLog", kFork, {}, nullptr, Raising(Log), {}, LogInOrder},
  };
  std::erase_if(jobs, [use](const Job& job) { return !job.Has(use); });
  return jobs;
}

}  // namespace qm::test
