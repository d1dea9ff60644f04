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
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
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

struct Job {
  std::string Name;
  std::vector<std::string> Outputs;  // relative to the folder; on a refusal the first must be its old self
  std::function<void(const fs::path&, int scale)> Setup = nullptr;  // the inputs (and old outputs of a kind)
  std::function<Ended(const fs::path&, int scale)> Run;
  qm::test::Same IsSame = std::equal_to<std::string>();
  bool Silent = false;      // refuses without words (XML::SaveFile's false)
  bool TrailNames = false;  // a refusal may name the file in its trail only (the published converter's call frame)
  bool MayDrop = false;     // a refusal may remove the old output (Compress::CompressFile's contract)
  std::function<bool(const fs::path&)> Partial = nullptr;  // done without a part the contract lets it skip
};

struct Fault {
  const char* Name;
  int Answer;
};
constexpr Fault kFaults[] = {{"EIO", EIO},     {"ENOSPC", ENOSPC}, {"EMFILE", EMFILE},
                             {"EROFS", EROFS}, {"EINTR", EINTR},   {"short", Faults::kShort}};

using Failing = qm::test::FailNthCall;

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
  const char* full = std::getenv("QM_FAULT_LOOP_FULL");
  return full != nullptr && std::string(full) == "1";
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
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x)
      for (int c = 0; c < 3; ++c) bmp[54 + y * row + x * 3 + c] = static_cast<char>((x * (c + 1) + y * 3) & 0xff);
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

// Runs a command of the tool in this process, its output kept.
Ended Tool(const qm::cli::Command& command, const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream errors;
  struct Redirect {
    std::streambuf* out;
    std::streambuf* errors;
    ~Redirect() {
      std::cout.rdbuf(out);
      std::cerr.rdbuf(errors);
    }
  } redirect{std::cout.rdbuf(out.rdbuf()), std::cerr.rdbuf(errors.rdbuf())};
  const int status = qm::cli::RunCommand(command, args);
  if (status == 0) return {};
  return {status == 1 ? Ended::Refused : Ended::Unclear, errors.str()};
}

std::string In(const fs::path& dir, const char* name) { return (dir / name).string(); }

// A run of a job that raises when it fails.
template <typename F>
auto Raising(F job) {
  return [job](const fs::path& dir, int scale) { return Typed([&] { job(dir, scale); }); };
}

// A run of a command of the tool, on files of the folder.
auto ToolOn(const qm::cli::Command& command, std::vector<const char*> names) {
  return [&command, names = std::move(names)](const fs::path& dir, int) {
    std::vector<std::string> args;
    for (const char* name : names) args.push_back(In(dir, name));
    return Tool(command, args);
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

std::string TsvTable(int scale) {
  std::string tsv = "item\tprice\n";
  for (int i = 0; i < 20 * scale * scale; ++i) tsv += "item " + std::to_string(i) + "\t" + std::to_string(i) + "\n";
  return tsv;
}

std::vector<Job> Jobs() {
  using Refusal = std::optional<std::string>;
  return {
      {.Name = "TextStream",
       .Outputs = {"out.txt"},
       .Run = Raising([](const fs::path& dir, int scale) {
         auto stream = qm::TextStream::Open(In(dir, "out.txt"), qm::IOMode::ForWriting);
         for (int i = 0; i < 100 * scale * scale; ++i)
           stream->WriteLine("line " + std::to_string(i) + " of the new text, written a line at a time");
         stream->Close();
       })},
      {.Name = "SaveRecords", .Outputs = {"rows.qms"}, .Run = Raising([](const fs::path& dir, int scale) {
                                                         std::vector<Row> rows;
                                                         for (int i = 0; i < 50 * scale * scale; ++i)
                                                           rows.push_back({i, "name " + std::to_string(i)});
                                                         qm::SaveRecords(dir / "rows.qms", "Rows", rows);
                                                       })},
      {.Name = "HtmlPage.Save",
       .Outputs = {"site/page.html", "site/chart.bmp"},
       .Setup =
           [](const fs::path& dir, int scale) {
             fs::create_directories(dir / "site");
             fs::create_directories(dir / "pics");
             WriteFile(dir / "pics/chart.bmp", Bmp(16 * scale));
           },
       .Run = Raising([](const fs::path& dir, int scale) {
         qm::HtmlPage("Faults")
             .Paragraph(Text(10 * scale))
             .Image(dir / "pics/chart.bmp", "chart")
             .Save(dir / "site/page.html");
       })},
      {.Name = "PackMht",
       .Outputs = {"page.mht"},
       .Setup = Site,
       .Run = Raising([](const fs::path& dir, int) { qm::PackMht(dir / "page.html", dir / "page.mht", "s"); }),
       .IsSame = qm::test::SameArchive,
       .Partial = WithoutPicture},
      {.Name = "ZipFiles",
       .Outputs = {"out.zip"},
       .Setup =
           [](const fs::path& dir, int scale) {
             WriteFile(dir / "a.txt", Text(100 * scale));
             WriteFile(dir / "b.bmp", Bmp(8 * scale));
             WriteFile(dir / "kept.txt", "an entry of the old archive\n");
             ASSERT_TRUE(qm::ZipFiles(dir / "out.zip", std::vector<fs::path>{dir / "kept.txt"}, dir).Complete());
           },
       .Run = Reporting([](const fs::path& dir, int) {
         const qm::ZipReport report =
             qm::ZipFiles(dir / "out.zip", std::vector<fs::path>{dir / "a.txt", dir / "b.bmp"}, dir);
         return report.Complete() ? Refusal() : report.Message();
       })},
      {.Name = "CompressFile", .Outputs = {"out.z"}, .Setup = TextInput, .Run = Raising([](const fs::path& dir, int) {
                                                                           qm::CompressFile(dir / "in.txt",
                                                                                            dir / "out.z");
                                                                         })},
      {.Name = "DecompressFile",
       .Outputs = {"out.txt"},
       .Setup =
           [](const fs::path& dir, int scale) {
             TextInput(dir, scale);
             qm::CompressFile(dir / "in.txt", dir / "in.z");
             fs::remove(dir / "in.txt");
           },
       .Run = Raising([](const fs::path& dir, int) { qm::DecompressFile(dir / "in.z", dir / "out.txt"); })},
      {.Name = "WriteJpeg", .Outputs = {"out.jpg"}, .Run = Raising([](const fs::path& dir, int scale) {
                                                      qm::WriteJpeg(Chart(scale), dir / "out.jpg", 90);
                                                    })},
      {.Name = "WriteWorkbook",
       .Outputs = {"out.xlsx"},
       .Run = Raising([](const fs::path& dir, int scale) {
         std::vector<std::vector<std::string>> table{{"item", "price"}};
         for (int i = 0; i < 20 * scale * scale; ++i) table.push_back({"item " + std::to_string(i), std::to_string(i)});
         qm::WriteWorkbook(dir / "out.xlsx", table);
       }),
       .IsSame = qm::test::SameWorkbook},
      {.Name = "XmlElement.Save", .Outputs = {"out.xml"}, .Run = Raising([](const fs::path& dir, int scale) {
                                                            qm::ParseXml(XmlText(scale)).Save(dir / "out.xml");
                                                          })},
      {.Name = "XML.SaveFile",
       .Outputs = {"out.xml"},
       .Run =
           [](const fs::path& dir, int scale) {
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
       .Run = Raising([](const fs::path& dir, int) {
         std::string subject = "s";
         qm::mdlHTML2MHT::ConvertHTMLToMHT(In(dir, "page.html"), In(dir, "page.mht"), subject);
       }),
       .IsSame = qm::test::SameArchive,
       .TrailNames = true,
       .Partial = WithoutPicture},
      {.Name = "Compress.CompressFile",
       .Outputs = {"out.z"},
       .Setup = TextInput,
       .Run = Reporting([](const fs::path& dir, int) {
         const std::int32_t result =
             qm::Compress().CompressFile(In(dir, "in.txt"), In(dir, "out.z"), qm::COM_DEFAULT_COMPRESSION);
         return result == 0 ? Refusal() : "result " + std::to_string(result);
       }),
       .MayDrop = true},
      {.Name = "tool compress",
       .Outputs = {"out.z"},
       .Setup = TextInput,
       .Run = ToolOn(qm::cli::kCompress, {"in.txt", "out.z"})},
      {.Name = "tool zip",
       .Outputs = {"out.zip"},
       .Setup =
           [](const fs::path& dir, int scale) {
             WriteFile(dir / "a.txt", Text(100 * scale));
             WriteFile(dir / "b.txt", Text(10 * scale));
             ASSERT_EQ(ToolOn(qm::cli::kZip, {"out.zip", "b.txt"})(dir, scale).Way, Ended::Done);
           },
       .Run = ToolOn(qm::cli::kZip, {"out.zip", "a.txt"})},
      {.Name = "tool jpeg",
       .Outputs = {"out.jpg"},
       .Setup = [](const fs::path& dir, int scale) { WriteFile(dir / "pic.bmp", Bmp(16 * scale)); },
       .Run = ToolOn(qm::cli::kJpeg, {"pic.bmp", "out.jpg"})},
      {.Name = "tool xml-check",
       .Outputs = {"doc.xml"},
       .Setup = [](const fs::path& dir, int scale) { WriteFile(dir / "doc.xml", XmlText(scale)); },
       .Run = ToolOn(qm::cli::kXmlCheck, {"doc.xml"})},
      {.Name = "tool export-tsv",
       .Outputs = {"out.xlsx"},
       .Setup = [](const fs::path& dir, int scale) { WriteFile(dir / "table.tsv", TsvTable(scale)); },
       .Run = ToolOn(qm::cli::kExportTsv, {"table.tsv", "out.xlsx"}),
       .IsSame = qm::test::SameWorkbook},
      {.Name = "tool mht",
       .Outputs = {"page.mht"},
       .Setup = Site,
       .Run = ToolOn(qm::cli::kMht, {"page.html", "page.mht"}),
       .IsSame = qm::test::SameArchive,
       .Partial = WithoutPicture},
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
  long Runs = 0;
  long Refused = 0;
};

constexpr const char* kCallNames[] = {"open",   "close", "read",   "write", "fsync",   "truncate", "stat",
                                      "rename", "link",  "unlink", "mkdir", "readdir", "wait",     "poll"};

// Runs `job` with its 1st, 2nd, ... call failed by `make(n)` until a run no
// longer reaches the call. Each distinct problem is reported once, with the
// first call that showed it.
void Loop(const Job& job, const std::string& label, int scale,
          const std::function<std::unique_ptr<Failing>(long)>& make, Totals& totals, bool mustFinish) {
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
      const auto faults = make(n);
      ended = job.Run(dir, scale);
      fired = faults->Fired();
      kind = faults->Kind();
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
    for (const Fault& fault : kFaults)
      Loop(
          job, fault.Name, scale_, [&](long n) { return std::make_unique<Failing>(n, fault.Answer); }, totals,
          fault.Answer == EINTR || fault.Answer == Faults::kShort);
    std::printf("%-22s %5ld runs, %5ld refused\n", job.Name.c_str(), totals.Runs, totals.Refused);
  }
}

// One fault with helper threads allowed: the calls may fall on them.
TEST_F(FaultLoop, WithHelperThreads) {
  qm::io::Executor::ResetLimit();
  Totals totals;
  for (const Job& job : Jobs())
    Loop(
        job, "EIO with helpers", scale_, [](long n) { return std::make_unique<Failing>(n, EIO); }, totals, false);
  std::printf("with helper threads %ld runs, %ld refused\n", totals.Runs, totals.Refused);
}

// With QM_FAULT_LOOP_FULL=1: every call of one kind fails from the Nth on.
TEST_F(FaultLoop, EveryKindFailingFromTheNthOn) {
  if (!Full()) GTEST_SKIP() << "QM_FAULT_LOOP_FULL=1 runs it";
  const Call kinds[] = {Call::Open, Call::Close,  Call::Read, Call::Write,  Call::Fsync, Call::Truncate,
                        Call::Stat, Call::Rename, Call::Link, Call::Unlink, Call::Mkdir, Call::ReadDir};
  Totals totals;
  for (const Job& job : Jobs())
    for (const Call kind : kinds)
      Loop(
          job, std::string("every ") + kCallNames[static_cast<int>(kind)] + " from the Nth on", scale_,
          [&](long n) { return std::make_unique<Failing>(n, EIO, kind, true); }, totals, false);
}

}  // namespace
