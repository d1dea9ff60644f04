// Fails the system calls of every whole-file job one at a time: for each
// fault, the job runs with its 1st call failed, then its 2nd, and so on until
// a run never reaches the call. Each run starts from known old outputs and
// must end either done, with the new outputs, or refused as the job's
// contract says (a qm::Error naming a file, false, a result code, the tool's
// exit status 1), with the old outputs byte for byte; and in every run no
// temporary is left in the folder, no descriptor leaks, nothing hangs. EINTR
// must always end done; a short count never leaves a file cut short.
//
// Work runs on the caller's thread (Executor::SetLimit(0)), so the call
// counts do not depend on thread timing; one more pass lets helper threads
// in. QM_FAULT_LOOP_FULL=1 (scripts/test --full) makes the inputs larger and
// adds runs in which every call of one kind fails from the Nth on.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "Commands.h"
#include "io/Executor.h"
#include "io/System.h"
#include "quillmark/automation/XML.h"
#include "quillmark/compression/Compress.h"
#include "quillmark/html/HTML2MHT.h"
#include "quillmark/quillmark.h"
#include "quillmark/runtime/TextStream.h"
#include "reliability/SameOutput.h"
#include "support/FaultInjection.h"
#include "support/TestEnvironment.h"

namespace {
namespace fs = std::filesystem;
using qm::io::sys::Call;
using qm::io::sys::Faults;
using qm::test::ReadFile;
using qm::test::WriteFile;

// How a run ended.
struct Ended {
  enum How { Done, Refused, Unclear } Way = Done;  // Unclear: anything but the job's own way of failing
  std::string Said;                                // what a refusal said (empty where the contract says nothing)
  std::string Trail = {};                          // a qm::Error's source (its call trail)
};

// A row of the table: the common fields first, in order; the rare ones by name.
struct Job {
  std::string Name;
  std::vector<std::string> Outputs;  // relative to the folder; on a refusal the first must be its old self
  std::function<void(const fs::path&, int scale)> Setup = nullptr;  // the inputs (and old outputs of a kind)
  std::function<Ended(const fs::path&, int scale)> Run;
  qm::test::Same IsSame = std::equal_to<std::string>();
  std::function<bool(const fs::path&)> Partial = nullptr;  // done without a part the contract lets it skip
  bool Silent = false;                                     // refuses without words (XML::SaveFile's false)
  bool TrailNames = false;  // a refusal may name the file in its trail only (the published converter's call frame)
  bool MayDrop = false;     // a refusal may remove the old output (Compress::CompressFile's contract)
};

constexpr std::pair<const char*, int> kFaults[] = {{"EIO", EIO},     {"ENOSPC", ENOSPC}, {"EMFILE", EMFILE},
                                                   {"EROFS", EROFS}, {"EINTR", EINTR},   {"short", Faults::kShort}};

// Fails the Nth call and notes the kind of the call it failed.
struct Failing : qm::test::FailNthCall {
  using FailNthCall::FailNthCall;
  int Before(Call call) noexcept override {
    const int answer = FailNthCall::Before(call);
    if (answer != 0) kind = static_cast<int>(call);
    return answer;
  }
  std::atomic<int> kind{-1};
};

// What the alarm handler prints: the run under way (written before each run).
char running[256] = "";

void OnAlarm(int) {
  const char lead[] = "\nFaultLoop: hung in ";
  (void)!::write(STDERR_FILENO, lead, sizeof lead - 1);
  (void)!::write(STDERR_FILENO, running, std::strlen(running));
  ::signal(SIGALRM, SIG_DFL);
  ::raise(SIGALRM);
}

bool Full() {
  return std::getenv("QM_FAULT_LOOP_FULL") != nullptr && std::string_view(std::getenv("QM_FAULT_LOOP_FULL")) == "1";
}

std::size_t OpenDescriptors() {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

// Every file under the folder, by relative name.
std::map<std::string, std::string> Contents(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    files[fs::relative(entry.path(), dir).string()] = entry.is_directory() ? "<folder>" : ReadFile(entry.path());
  return files;
}

// Words like those of a text, `lines` lines of them.
std::string Text(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) text += "line " + std::to_string(i * 7919 % 10007) + " of the new text\n";
  return text;
}

// A 24-bit BMP of side x side pixels, a colour ramp.
std::string Bmp(int side) {
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
  std::int64_t Id = 0;
  std::string Name;
  static void Describe(qm::RecordType<Row>& r) { r.Name("Row").Field("Id", &Row::Id).Field("Name", &Row::Name); }
};

qm::Canvas Chart(int scale) {
  qm::Canvas canvas(64 * scale, 48 * scale);
  canvas.FillRect(4, 4, 30 * scale, 20 * scale, qm::Rgb{200, 40, 40});
  canvas.Line(0, 0, 64 * scale, 48 * scale, qm::Rgb{0, 0, 160});
  return canvas;
}

std::string XmlText(int scale) {
  std::string xml = "<?xml version='1.0'?>\n<list   kind='new'>";
  for (int i = 0; i < 20 * scale; ++i)
    xml += "<item n='" + std::to_string(i) + "'>value " + std::to_string(i) + "</item>";
  return xml + "</list>\n";
}

// The input of the compressors: a text of some kilobytes (megabytes in the full run).
void TextInput(const fs::path& dir, int scale) { WriteFile(dir / "in.txt", Text(200 * scale * scale)); }

// A page linking a picture, and the picture.
void Site(const fs::path& dir, int scale) {
  WriteFile(dir / "page.html", "<html><head><title>t</title></head><body><p>" + Text(10 * scale) +
                                   "</p><img src=\"pic.bmp\"></body></html>\n");
  WriteFile(dir / "pic.bmp", Bmp(16 * scale));
}

// The archive of Site() holds the page but not the picture: the packer skips
// a file it cannot read.
bool WithoutPicture(const fs::path& dir) {
  const std::string archive = ReadFile(dir / "page.mht");
  return archive.find("Content-Location: http://localhost/page.html") != std::string::npos &&
         archive.find("Content-Location: http://localhost/pic.bmp") == std::string::npos;
}

Ended Typed(const std::function<void()>& job) {
  try {
    job();
    return {};
  } catch (const qm::Error& e) {
    return {Ended::Refused, e.Description(), e.Source()};
  } catch (const std::exception& e) {
    return {Ended::Unclear, e.what()};
  }
}

std::string In(const fs::path& dir, const char* name) { return (dir / name).string(); }

// A run of a job that raises when it fails.
template <typename F>
auto Raising(F job) {
  return [job](const fs::path& dir, int scale) { return Typed([&] { job(dir, scale); }); };
}

// A run of a command of the tool in this process, on files of the folder, its output kept.
auto ToolOn(const qm::cli::Command& command, std::vector<const char*> names) {
  return [&command, names = std::move(names)](const fs::path& dir, int) -> Ended {
    std::vector<std::string> args;
    for (const char* name : names) args.push_back(In(dir, name));
    std::ostringstream out, errors;
    struct Redirect {
      std::streambuf *out, *errors;
      ~Redirect() {
        std::cout.rdbuf(out);
        std::cerr.rdbuf(errors);
      }
    } redirect{std::cout.rdbuf(out.rdbuf()), std::cerr.rdbuf(errors.rdbuf())};
    const int status = qm::cli::RunCommand(command, args);
    if (status == 0) return {};
    return {status == 1 ? Ended::Refused : Ended::Unclear, errors.str()};
  };
}

// A run that raises, or returns a text saying why it refused (nothing when done).
template <typename F>
auto Reporting(F job) {
  return [job](const fs::path& dir, int scale) {
    std::optional<std::string> refused;
    const Ended ended = Typed([&] { refused = job(dir, scale); });
    return ended.Way != Ended::Done || !refused ? ended : Ended{Ended::Refused, *refused};
  };
}

// A table of items and prices, for the workbook writers.
std::vector<std::vector<std::string>> Table(int scale) {
  std::vector<std::vector<std::string>> table{{"item", "price"}};
  for (int i = 0; i < 20 * scale * scale; ++i) table.push_back({"item " + std::to_string(i), std::to_string(i)});
  return table;
}

std::vector<Job> Jobs() {
  using Refusal = std::optional<std::string>;
  using Dir = const fs::path&;
  const auto archive = qm::test::SameArchive;
  const auto workbook = qm::test::SameWorkbook;
  return {
      {"TextStream", {"out.txt"}, nullptr, Raising([](Dir dir, int scale) {
         auto stream = qm::TextStream::Open(In(dir, "out.txt"), qm::IOMode::ForWriting);
         for (int i = 0; i < 100 * scale * scale; ++i)
           stream->WriteLine("line " + std::to_string(i) + " of the new text, written a line at a time");
         stream->Close();
       })},
      {"SaveRecords", {"rows.qms"}, nullptr, Raising([](Dir dir, int scale) {
         std::vector<Row> rows;
         for (int i = 0; i < 50 * scale * scale; ++i) rows.push_back({i, "name " + std::to_string(i)});
         qm::SaveRecords(dir / "rows.qms", "Rows", rows);
       })},
      {"HtmlPage.Save",
       {"site/page.html", "site/chart.bmp"},
       [](Dir dir, int scale) {
         fs::create_directories(dir / "site");
         fs::create_directories(dir / "pics");
         WriteFile(dir / "pics/chart.bmp", Bmp(16 * scale));
       },
       Raising([](Dir dir, int scale) {
         qm::HtmlPage("Faults")
             .Paragraph(Text(10 * scale))
             .Image(dir / "pics/chart.bmp", "chart")
             .Save(dir / "site/page.html");
       })},
      {"PackMht",
       {"page.mht"},
       Site,
       Raising([](Dir dir, int) { qm::PackMht(dir / "page.html", dir / "page.mht", "s"); }),
       archive,
       WithoutPicture},
      {"ZipFiles",
       {"out.zip"},
       [](Dir dir, int scale) {
         WriteFile(dir / "a.txt", Text(100 * scale));
         WriteFile(dir / "b.bmp", Bmp(8 * scale));
         WriteFile(dir / "kept.txt", "an entry of the old archive\n");
         ASSERT_TRUE(qm::ZipFiles(dir / "out.zip", std::vector<fs::path>{dir / "kept.txt"}, dir).Complete());
       },
       Reporting([](Dir dir, int) {
         const qm::ZipReport report =
             qm::ZipFiles(dir / "out.zip", std::vector<fs::path>{dir / "a.txt", dir / "b.bmp"}, dir);
         return report.Complete() ? Refusal() : report.Message();
       })},
      {"CompressFile", {"out.z"}, TextInput, Raising([](Dir dir, int) {
         qm::CompressFile(dir / "in.txt", dir / "out.z");
       })},
      {"DecompressFile",
       {"out.txt"},
       [](Dir dir, int scale) {
         TextInput(dir, scale);
         qm::CompressFile(dir / "in.txt", dir / "in.z");
         fs::remove(dir / "in.txt");
       },
       Raising([](Dir dir, int) { qm::DecompressFile(dir / "in.z", dir / "out.txt"); })},
      {"WriteJpeg", {"out.jpg"}, nullptr, Raising([](Dir dir, int scale) {
         qm::WriteJpeg(Chart(scale), dir / "out.jpg", 90);
       })},
      {"WriteWorkbook",
       {"out.xlsx"},
       nullptr,
       Raising([](Dir dir, int scale) { qm::WriteWorkbook(dir / "out.xlsx", Table(scale)); }),
       workbook},
      {"XmlElement.Save", {"out.xml"}, nullptr, Raising([](Dir dir, int scale) {
         qm::ParseXml(XmlText(scale)).Save(dir / "out.xml");
       })},
      {.Name = "XML.SaveFile",
       .Outputs = {"out.xml"},
       .Run =
           [](Dir dir, int scale) {
             qm::XML xml;
             xml.LoadFromString(XmlText(scale), "list");
             bool saved = false;
             const Ended ended = Typed([&] { saved = xml.SaveFile(In(dir, "out.xml")); });
             if (ended.Way != Ended::Done) return Ended{Ended::Unclear, "raised: " + ended.Said};
             // True with the old file: the component could not create the
             // file, which does not change the published result.
             const bool written = ReadFile(In(dir, "out.xml")) != "old bytes\n";
             return saved && written ? ended : Ended{Ended::Refused, ""};
           },
       .Silent = true},
      {.Name = "ConvertHTMLToMHT",
       .Outputs = {"page.mht"},
       .Setup = Site,
       .Run = Raising([](Dir dir, int) {
         std::string subject = "s";
         qm::mdlHTML2MHT::ConvertHTMLToMHT(In(dir, "page.html"), In(dir, "page.mht"), subject);
       }),
       .IsSame = archive,
       .Partial = WithoutPicture,
       .TrailNames = true},
      {.Name = "Compress.CompressFile",
       .Outputs = {"out.z"},
       .Setup = TextInput,
       .Run = Reporting([](Dir dir, int) {
         const std::int32_t result =
             qm::Compress().CompressFile(In(dir, "in.txt"), In(dir, "out.z"), qm::COM_DEFAULT_COMPRESSION);
         return result == 0 ? Refusal() : "result " + std::to_string(result);
       }),
       .MayDrop = true},
      {"tool compress", {"out.z"}, TextInput, ToolOn(qm::cli::kCompress, {"in.txt", "out.z"})},
      {"tool zip",
       {"out.zip"},
       [](Dir dir, int scale) {
         WriteFile(dir / "a.txt", Text(100 * scale));
         WriteFile(dir / "b.txt", Text(10 * scale));
         ASSERT_EQ(ToolOn(qm::cli::kZip, {"out.zip", "b.txt"})(dir, scale).Way, Ended::Done);
       },
       ToolOn(qm::cli::kZip, {"out.zip", "a.txt"})},
      {"tool jpeg",
       {"out.jpg"},
       [](Dir dir, int scale) { WriteFile(dir / "pic.bmp", Bmp(16 * scale)); },
       ToolOn(qm::cli::kJpeg, {"pic.bmp", "out.jpg"})},
      {"tool xml-check",
       {"doc.xml"},
       [](Dir dir, int scale) { WriteFile(dir / "doc.xml", XmlText(scale)); },
       ToolOn(qm::cli::kXmlCheck, {"doc.xml"})},
      {"tool export-tsv",
       {"out.xlsx"},
       [](Dir dir, int scale) {
         std::string tsv;
         for (const auto& row : Table(scale)) tsv += row[0] + "\t" + row[1] + "\n";
         WriteFile(dir / "table.tsv", tsv);
       },
       ToolOn(qm::cli::kExportTsv, {"table.tsv", "out.xlsx"}),
       workbook},
      {"tool mht", {"page.mht"}, Site, ToolOn(qm::cli::kMht, {"page.html", "page.mht"}), archive, WithoutPicture},
  };
}

// What is wrong with the folder after a run, given what it held before and
// what a run without faults writes; empty when nothing is.
std::string Judge(const Job& job, const fs::path& dir, const Ended& ended,
                  const std::map<std::string, std::string>& before, const std::map<std::string, std::string>& fresh) {
  std::map<std::string, std::string> now = Contents(dir);
  for (const auto& [name, bytes] : now)
    if (!before.count(name)) return "left " + name + " in the folder";
  if (ended.Way == Ended::Unclear) return "ended unclearly: " + ended.Said;
  for (std::size_t i = 0; i < job.Outputs.size(); ++i) {
    const std::string& name = job.Outputs[i];
    const bool there = now.count(name) != 0;
    const bool isNew = there && (job.IsSame(now[name], fresh.at(name)) || (job.Partial && job.Partial(dir)));
    const bool isOld = there && now[name] == before.at(name);
    if (ended.Way == Ended::Done && !isNew)
      return "done, but " + name + " is not the new file (" + std::to_string(now[name].size()) + " bytes)";
    // Once the new file is in place only the folder's sync can fail, and the
    // failure says so (a false says nothing).
    const bool inPlace = isNew && (job.Silent || ended.Said.find("synced") != std::string::npos);
    if (ended.Way == Ended::Refused && !isOld && !(i > 0 && isNew) && !inPlace && !(job.MayDrop && !there))
      return "refused (" + ended.Said + "), but " + name + " is not the old file (" + std::to_string(now[name].size()) +
             " bytes)";
    now.erase(name);
  }
  for (const auto& [name, bytes] : before)
    if (!now.count(name) && std::find(job.Outputs.begin(), job.Outputs.end(), name) == job.Outputs.end())
      return "removed " + name;
    else if (now.count(name) && now[name] != bytes) return "changed the input " + name;
  if (ended.Way == Ended::Refused && !job.Silent) {
    bool named = false;
    for (const auto& [name, bytes] : before)
      named = named || (ended.Said + (job.TrailNames ? ended.Trail : "")).find(fs::path(name).filename().string()) !=
                           std::string::npos;
    if (!named) return "refused without naming a file: " + ended.Said + " (trail: " + ended.Trail + ")";
  }
  return {};
}

struct Totals {
  long Runs = 0, Refused = 0;
};

// By io::sys::Call.
constexpr const char* kCallNames[] = {"open", "close",  "read",  "write",   "fsync", "truncate", "stat", "rename",
                                      "link", "unlink", "mkdir", "readdir", "wait",  "poll",     "chmod"};

// Runs `job` with its 1st, 2nd, ... call (of the kind `only`, or any) failed
// with `answer` (and every later one too when `onwards`) until a run no longer
// reaches the call. Each distinct problem is reported once, with the first
// call that showed it.
void Loop(const Job& job, const std::string& label, int scale, Totals& totals, int answer,
          std::optional<Call> only = std::nullopt, bool onwards = false) {
  const bool mustFinish = answer == EINTR || answer == Faults::kShort;
  // In memory where it can be: the loop syncs thousands of files, which
  // costs a disk seconds and tmpfs nothing; the calls made are the same.
  const qm::test::ScratchDir scratch(qm::test::MemoryFolder());
  const fs::path& dir = scratch.Path();
  if (job.Setup) job.Setup(dir, scale);
  for (const std::string& name : job.Outputs)
    if (!fs::exists(dir / name)) WriteFile(dir / name, "old bytes\n");
  const std::map<std::string, std::string> before = Contents(dir);
  ASSERT_EQ(job.Run(dir, scale).Way, Ended::Done) << job.Name;
  const std::map<std::string, std::string> fresh = Contents(dir);
  const std::size_t descriptors = OpenDescriptors();
  std::set<std::string> seen;
  for (long n = 1;; ++n) {
    for (const std::string& name : job.Outputs) {
      fs::remove(dir / name);
      WriteFile(dir / name, before.at(name));
    }
    std::snprintf(running, sizeof running, "%s, %s, call %ld\n", job.Name.c_str(), label.c_str(), n);
    ::alarm(60);
    Ended ended;
    bool fired = false;
    int kind = -1;
    {
      const Failing faults(n, answer, only, onwards);
      ended = job.Run(dir, scale);
      fired = faults.Fired();
      kind = faults.kind;
    }
    ::alarm(0);
    ++totals.Runs;
    totals.Refused += ended.Way == Ended::Refused ? 1 : 0;
    std::string problem = Judge(job, dir, ended, before, fresh);
    if (problem.empty() && OpenDescriptors() != descriptors) problem = "leaked a descriptor";
    // A sync fails only for a file written: the refusal names it.
    if (problem.empty() && ended.Way == Ended::Refused && kind == static_cast<int>(Call::Fsync) && !job.Silent &&
        std::none_of(job.Outputs.begin(), job.Outputs.end(), [&](const std::string& name) {
          return (ended.Said + ended.Trail).find(fs::path(name).filename().string()) != std::string::npos;
        }))
      problem = "a failed sync did not name the file written: " + ended.Said;
    if (problem.empty() && mustFinish && ended.Way != Ended::Done) problem = "did not finish: " + ended.Said;
    if (problem.empty() && !fired && ended.Way != Ended::Done) problem = "failed with no fault";
    for (std::size_t at; (at = problem.find(dir.string())) != std::string::npos;)
      problem.replace(at, dir.string().size(), "DIR");
    if (!problem.empty() && seen.insert(problem).second)
      ADD_FAILURE() << job.Name << ", " << label << ", call " << n << " (" << (kind >= 0 ? kCallNames[kind] : "?")
                    << "): " << problem;
    if (!fired) return;
    ASSERT_LT(n, 100000) << job.Name << ": the loop does not end";
  }
}

class FaultLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    ::signal(SIGALRM, OnAlarm);
    qm::io::Executor::SetLimit(0);
  }
  void TearDown() override {
    qm::io::Executor::ResetLimit();
    ::signal(SIGALRM, SIG_DFL);
  }
  // Full: text files of one or two megabytes (more than one write-behind
  // buffer or read chunk), pictures of 256 x 256 pixels.
  const int scale_ = Full() ? 16 : 1;
};

// Every job, every fault, each call in turn, all work on the caller's thread.
TEST_F(FaultLoop, EveryCallOfEveryJob) {
  for (const Job& job : Jobs()) {
    Totals totals;
    for (const auto& [name, answer] : kFaults) Loop(job, name, scale_, totals, answer);
    std::printf("%-22s %5ld runs, %5ld refused\n", job.Name.c_str(), totals.Runs, totals.Refused);
  }
}

// One fault with helper threads allowed: the calls may fall on them.
TEST_F(FaultLoop, WithHelperThreads) {
  qm::io::Executor::ResetLimit();
  Totals totals;
  for (const Job& job : Jobs()) Loop(job, "EIO with helpers", scale_, totals, EIO);
  std::printf("with helper threads %ld runs, %ld refused\n", totals.Runs, totals.Refused);
}

// With QM_FAULT_LOOP_FULL=1: every call of one kind fails from the Nth on.
TEST_F(FaultLoop, EveryKindFailingFromTheNthOn) {
  if (!Full()) GTEST_SKIP() << "QM_FAULT_LOOP_FULL=1 runs it";
  Totals totals;
  for (const Job& job : Jobs())
    for (int kind = static_cast<int>(Call::Open); kind <= static_cast<int>(Call::ReadDir); ++kind)
      Loop(job, std::string("every ") + kCallNames[kind] + " from the Nth on", scale_, totals, EIO,
           static_cast<Call>(kind), true);
}

}  // namespace
