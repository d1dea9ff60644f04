// Forks in the midst of each long job, with the child going on, exiting,
// exiting at once or cancelling. The parent's output must come out whole
// every time, and no child may hang (each is bounded by alarm()).
//
// The jobs with a progress callback fork from it, on the job's own thread, so
// the child holds the job's objects part way through; the others fork from
// the test's thread while a second thread runs the job, so the child holds
// the job's state but no thread working on it.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "io/System.h"
#include "quillmark/compression/Compress.h"
#include "quillmark/errors/Error.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/quillmark.h"
#include "quillmark/runtime/FileTable.h"
#include "quillmark/runtime/Settings.h"
#include "reliability/SameOutput.h"
#include "support/TestEnvironment.h"

namespace fs = std::filesystem;

namespace {

// What the child does once it has been forked.
enum class Child { GoesOn, GoesOnLater, Exits, QuickExits, Cancels };

constexpr const char* kNames[] = {"goes on while the parent waits", "goes on once the parent has finished",
                                  "calls exit", "calls _exit", "cancels from the callback"};

// How a child ends, as its exit status.
constexpr int kDone = 0;         // its run of the job came to an end without error
constexpr int kExited = 3;       // exit() in the callback
constexpr int kQuickExited = 4;  // _exit() in the callback
constexpr int kCancelled = 5;    // the object its callback threw came back
constexpr int kInherited = 75;   // the job raised 75, saying the object belongs to the parent
constexpr int kOtherError = 6;   // anything else (written to stderr)
constexpr unsigned kChildSeconds = 10;

struct Cancel {};

// Text that compresses to about half.
std::string Text(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string text(size, ' ');
  for (auto& c : text) c = static_cast<char>('a' + random() % 16);
  return text;
}

// Text that compresses to almost nothing, fast: a hundred lines over and over.
std::string Lines(std::size_t size) {
  std::string text;
  for (std::size_t i = 0; text.size() < size; ++i) text += "line " + std::to_string(i % 100) + " of the log\n";
  text.resize(size);
  return text;
}

struct Row {
  int Id = 0;
  double Amount = 0;
  std::string Note;
  bool operator==(const Row&) const = default;
  static void Describe(qm::RecordType<Row>& type) {
    type.Name("Row").Field("Id", &Row::Id).Field("Amount", &Row::Amount).Field("Note", &Row::Note);
  }
};

// The inputs every job reads, made once.
struct Inputs {
  fs::path Dir;
  std::vector<fs::path> ZipFiles;  // files of a few hundred kilobytes
  std::vector<std::string> Found;  // what the file search finds
  std::vector<Row> Rows;           // records
  std::vector<std::string> Lines;  // lines of text
  qm::RgbImage Picture;
  std::vector<std::vector<double>> Table;
  std::optional<qm::XmlElement> Tree;
  std::map<std::string, std::string> Reference;  // each job's output made without a fork
};

// One long job: Run does it into `out` (telling `progress`, when the job takes
// one) and returns what it found, or what went wrong; Check says what is wrong
// with an output (empty when it is whole). Without a Check, the output must be
// the content a run without a fork wrote.
struct Job {
  const char* Name;
  bool ForksFromCallback;  // else from another thread while the job runs
  int GoingOnGives;        // how a child that goes on with the job ends
  bool ReplacesOldOutput;  // an output of other content is there before (not for zip: a file no archive is refused)
  std::function<std::string(const Inputs&, const fs::path& out, const qm::Progress& progress)> Run;
  std::function<std::string(const Inputs&, const fs::path& out, const std::string& result)> Check = nullptr;
  qm::test::Same IsSame = std::equal_to<std::string>();
};

std::string ReadOrEmpty(const fs::path& path) {
  std::error_code ec;
  return fs::exists(path, ec) ? qm::test::ReadFile(path.string()) : "<missing>";
}

// What is wrong with a run's output; empty when it is whole.
std::string Problem(const Job& job, const Inputs& in, const fs::path& out, const std::string& result) {
  if (job.Check) return job.Check(in, out, result);
  if (!result.empty()) return result;
  const std::string got = ReadOrEmpty(out);
  return job.IsSame(got, in.Reference.at(job.Name)) ? "" : "other output, " + std::to_string(got.size()) + " bytes";
}

// A job that raises when it fails and returns nothing.
auto Quiet(std::function<void(const Inputs&, const fs::path&, const qm::Progress&)> job) {
  return [job = std::move(job)](const Inputs& in, const fs::path& out, const qm::Progress& progress) {
    job(in, out, progress);
    return std::string();
  };
}

std::vector<Job> Jobs() {
  using P = const qm::Progress&;
  return {
      {"CompressFile", true, kInherited, true,
       Quiet([](auto& in, auto& out, P p) { qm::CompressFile(in.Dir / "plain", out, qm::DeflateLevel::Fastest, p); })},
      {"Compress.CompressFile", true, kInherited, true,
       [](auto& in, auto& out, P p) {
         const auto result =
             qm::Compress().CompressFile((in.Dir / "plain").string(), out.string(), qm::COM_BEST_SPEED, p);
         return result == 0 ? std::string() : "zlib result " + std::to_string(result);
       }},
      {"DecompressFile", true, kInherited, true,
       Quiet([](auto& in, auto& out, P p) { qm::DecompressFile(in.Dir / "packed", out, p); })},
      {"ZipFiles", true, kInherited, false,
       [](auto& in, auto& out, P p) {
         const qm::ZipReport report = qm::ZipFiles(out, in.ZipFiles, in.Dir / "zip", p);
         return report.Complete() ? std::string() : report.Message();
       },
       [](auto& in, auto& out, auto& result) {
         const auto members = qm::test::Members(ReadOrEmpty(out));
         std::map<std::string, std::string> wanted;
         for (const auto& file : in.ZipFiles) wanted[file.filename().string()] = qm::test::ReadFile(file.string());
         return !result.empty() ? result : members == wanted ? "" : "the members are not the files";
       }},
      {"PackMht", true, kInherited, true,
       Quiet([](auto& in, auto& out, P p) { qm::PackMht(in.Dir / "site" / "page.html", out, "fork", p); }), nullptr,
       qm::test::SameArchive},
      {"FindFiles", true, kDone, false,
       [](auto& in, auto&, P p) {
         std::string found;
         for (const auto& path : qm::FindFiles(in.Dir / "tree", "*.txt", true, p)) found += path.string() + "\n";
         return found;
       },
       [](auto& in, auto&, auto& result) {
         std::string wanted;
         for (const auto& path : in.Found) wanted += path + "\n";
         return result == wanted ? std::string() : "found:\n" + result;
       }},
      {"SaveRecords", false, kDone, true, Quiet([](auto& in, auto& out, P) { qm::SaveRecords(out, "Rows", in.Rows); }),
       [](auto& in, auto& out, auto&) {
         return qm::LoadRecords<Row>(out, "Rows") == in.Rows ? std::string() : "other records";
       }},
      {"TextStream", false, kDone, true, Quiet([](auto& in, auto& out, P) {
         // A file written as a whole, and one appended to, both numbered files.
         const std::int32_t whole = qm::files::FreeFile();
         qm::files::Open(whole, out.string(), qm::files::OpenMode::Output);
         qm::test::WriteFile(out.string() + ".log", "old\r\n");
         const std::int32_t log = qm::files::FreeFile();
         qm::files::Open(log, out.string() + ".log", qm::files::OpenMode::Append);
         for (const auto& line : in.Lines) {
           qm::files::PrintLine(whole, line);
           qm::files::PrintLine(log, line);
         }
         qm::files::Close(whole);
         qm::files::Close(log);
       }),
       [](auto& in, auto& out, auto&) {
         std::string wanted;
         for (const auto& line : in.Lines) wanted += line + "\r\n";
         const bool whole = ReadOrEmpty(out) == wanted && ReadOrEmpty(out.string() + ".log") == "old\r\n" + wanted;
         return whole ? std::string() : "the file or the log is not whole";
       }},
      {"WriteJpeg", false, kDone, true, Quiet([](auto& in, auto& out, P) { qm::WriteJpeg(in.Picture, out, 80); })},
      {"WriteWorkbook", false, kDone, true, Quiet([](auto& in, auto& out, P) { qm::WriteWorkbook(out, in.Table); }),
       nullptr, qm::test::SameWorkbook},
      {"XmlElement::Save", false, kDone, true, Quiet([](auto& in, auto& out, P) { in.Tree->Save(out); })},
      {"QMWriteLog", false, kDone, false, Quiet([](auto&, auto& out, P) {
         // Lines tagged with the run's output name: the log is one file for every run.
         // Last in the table: the library's own log lines slow the other jobs down.
         qm::SaveSetting("Quillmark Library", "Init", "Logging", "yes");
         for (int i = 0; i < 100; ++i) qm::QMWriteLog(out.filename().string() + " " + std::to_string(i));
       }),
       [](auto&, auto& out, auto&) {
         std::istringstream log(ReadOrEmpty(qm::LogFilePath()));
         const std::string tag = out.filename().string() + " ";
         int next = 0;
         for (std::string line; std::getline(log, line);)
           if (line.starts_with(tag) && line != tag + std::to_string(next++) + "\r") return "out of order: " + line;
         return next == 100 ? std::string() : std::to_string(next) + " lines of 100";
       }},
  };
}

void MakeInputs(Inputs& in) {
  // Several times the chunks the compressors read ahead (4 of 1 MiB).
  qm::test::WriteFile((in.Dir / "plain").string(), Lines(std::size_t{8} << 20));
  qm::test::WriteFile((in.Dir / "noise").string(), Text(std::size_t{4} << 20, 7));
  qm::CompressFile(in.Dir / "noise", in.Dir / "packed", qm::DeflateLevel::Store);  // as long as the noise

  fs::create_directories(in.Dir / "zip");
  fs::create_directories(in.Dir / "site");
  std::string page = "<html><body>\n";
  for (int i = 0; i < 12; ++i) {
    in.ZipFiles.push_back(in.Dir / "zip" / ("member" + std::to_string(i)));
    qm::test::WriteFile(in.ZipFiles.back().string(), Lines(std::size_t{256} << 10) + Text(16 << 10, 10 + i));
    // A page of eight pictures.
    const std::string name = "picture" + std::to_string(i) + ".png";
    if (i < 8) qm::test::WriteFile((in.Dir / "site" / name).string(), Text(std::size_t{256} << 10, 30 + i));
    if (i < 8) page += "<img src=\"" + name + "\">\n";
    // A tree of twelve folders.
    const fs::path folder = in.Dir / "tree" / ("folder" + std::to_string(i)) / "inner";
    fs::create_directories(folder);
    for (const char* file : {"a.txt", "b.txt", "c.dat"}) qm::test::WriteFile((folder / file).string(), file);
  }
  qm::test::WriteFile((in.Dir / "site" / "page.html").string(), page + "</body></html>\n");
  for (const auto& entry : fs::recursive_directory_iterator(in.Dir / "tree"))
    if (entry.path().extension() == ".txt") in.Found.push_back(entry.path().string());
  std::sort(in.Found.begin(), in.Found.end());

  const std::string filler = Text(40, 50);
  std::string xml = "<orders>";
  for (int i = 0; i < 40000; ++i) {
    in.Lines.push_back("line " + std::to_string(i) + " " + filler);
    if (i >= 10000) continue;
    in.Rows.push_back({i, i * 0.25, "note " + std::to_string(i * 7919)});
    xml += "<order id=\"" + std::to_string(i) + "\">item " + std::to_string(i) + "</order>";
    if (i % 10 == 0) in.Table.emplace_back();
    in.Table.back().push_back(i + 0.5);  // 1000 rows of 10
  }
  in.Tree = qm::ParseXml(xml + "</orders>");
  const std::string pixels = Text(std::size_t{1600} * 1200 * 3, 60);
  in.Picture = {1600, 1200, {pixels.begin(), pixels.end()}};
}

// A callback forks once, a quarter of the way through the job (the fourth folder of a search).
bool QuarterWay(std::uint64_t done, std::uint64_t total) {
  return total == 0 ? done >= 4 : done > 0 && 4 * done >= total;
}

// How the child ended: its exit status, or a text for a signal.
std::string Ending(pid_t child) {
  int status = 0;
  if (qm::io::sys::WaitPid(child, &status, 0) != child) return "not waited for";
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status))
    return WTERMSIG(status) == SIGALRM ? std::string("hung (ended by its alarm)")
                                       : "killed by signal " + std::to_string(WTERMSIG(status));
  return "?";
}

// Runs `run`, keeping what it raises.
std::exception_ptr Attempt(const std::function<void()>& run) {
  try {
    run();
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

// In the child: the status that tells how its run of the job ended.
[[noreturn]] void EndChild(std::exception_ptr failure) {
  int status = kDone;
  try {
    if (failure) std::rethrow_exception(std::move(failure));
  } catch (const Cancel&) {
    status = kCancelled;
  } catch (const qm::Error& e) {
    const bool says = e.Description().find("fork") != std::string::npos;
    status = e.Number() == 75 && says ? kInherited : kOtherError;
    if (status == kOtherError) std::fprintf(stderr, "child: error %d: %s\n", e.Number(), e.Description().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "child: %s\n", e.what());
    status = kOtherError;
  } catch (...) {
    status = kOtherError;
  }
  std::exit(status);  // as a program that goes on ends: static destructors run
}

// The exit status of a child that behaves so.
int Expected(const Job& job, Child behaviour) {
  const int statuses[] = {job.GoingOnGives, job.GoingOnGives, kExited, kQuickExited, kCancelled};
  return statuses[static_cast<int>(behaviour)];
}

// In the parent: what is wrong with its run of the job; empty when nothing is.
std::string ParentsProblem(const Job& job, const Inputs& in, const fs::path& out, const std::string& result,
                           std::exception_ptr failure) {
  try {
    if (failure) std::rethrow_exception(std::move(failure));
  } catch (const qm::Error& e) {
    return "the parent's job failed: " + std::to_string(e.Number()) + " " + e.Description();
  } catch (...) {
    return "the parent's job failed";
  }
  return Problem(job, in, out, result);
}

// Forks from the job's progress callback, a quarter of the way through.
void ForkInCallback(const Job& job, Child behaviour, const Inputs& in, const fs::path& out) {
  const pid_t parent = ::getpid();
  int gate[2] = {-1, -1};  // the child that goes on later reads until the parent closes it
  ASSERT_EQ(::pipe2(gate, O_CLOEXEC), 0);
  pid_t child = -1;
  std::string waitedInCallback;
  const qm::Progress progress = [&](std::uint64_t done, std::uint64_t total) {
    if (child != -1 || !QuarterWay(done, total)) return;
    std::fflush(nullptr);
    child = ::fork();
    if (child < 0) return;
    if (child > 0) {
      if (behaviour == Child::GoesOn) waitedInCallback = Ending(child);
      return;
    }
    ::alarm(kChildSeconds);
    switch (behaviour) {
      case Child::GoesOn: return;
      case Child::GoesOnLater: {
        qm::io::sys::Close(gate[1]);
        char byte;
        while (qm::io::sys::Read(gate[0], &byte, 1) > 0) {}
        return;
      }
      case Child::Exits: std::exit(kExited);
      case Child::QuickExits: ::_exit(kQuickExited);
      case Child::Cancels: throw Cancel{};
    }
  };
  std::string result;
  const std::exception_ptr failure = Attempt([&] { result = job.Run(in, out, progress); });
  if (::getpid() != parent) EndChild(failure);

  qm::io::sys::Close(gate[1]);
  qm::io::sys::Close(gate[0]);
  ASSERT_GT(child, 0) << "the callback never forked";
  EXPECT_EQ(behaviour == Child::GoesOn ? waitedInCallback : Ending(child),
            "exit " + std::to_string(Expected(job, behaviour)));
  EXPECT_EQ(ParentsProblem(job, in, out, result, failure), "");
}

// Forks from this thread while another runs the job, `delay` after it began.
void ForkBeside(const Job& job, Child behaviour, const Inputs& in, const fs::path& out,
                std::chrono::microseconds delay) {
  std::atomic<bool> started{false};
  std::string result;
  std::exception_ptr failure;
  std::thread worker([&] {
    started = true;
    failure = Attempt([&] { result = job.Run(in, out, {}); });
  });
  while (!started) std::this_thread::yield();
  std::this_thread::sleep_for(delay);
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(kChildSeconds);
    if (behaviour == Child::Exits) std::exit(kExited);
    if (behaviour == Child::QuickExits) ::_exit(kQuickExited);
    // Goes on: the child does the same job on its own output.
    EndChild(Attempt([&] {
      const fs::path own = out.string() + ".child";
      const std::string problem = Problem(job, in, own, job.Run(in, own, {}));
      if (!problem.empty()) throw std::runtime_error(problem);
    }));
  }
  const std::string ended = child > 0 ? Ending(child) : "not forked";
  worker.join();
  EXPECT_EQ(ended, "exit " + std::to_string(Expected(job, behaviour)));
  EXPECT_EQ(ParentsProblem(job, in, out, result, failure), "");
}

TEST(ForkMatrix, EveryJobLeavesTheParentsOutputWholeAndNoChildHangs) {
  if (qm::test::SanitizerAllocator() || qm::test::ThreadSanitizer())
    GTEST_SKIP() << "the children fork amid helper threads and start their own (see TestEnvironment.h)";
  qm::test::ScratchDir dir;
  Inputs in;
  in.Dir = dir.Path();
  MakeInputs(in);
  const std::vector<Job> jobs = Jobs();

  // Each job once without a fork: the reference output, and how long it takes.
  std::map<std::string, std::chrono::microseconds> took;
  for (const Job& job : jobs) {
    const fs::path out = in.Dir / ("reference-" + std::to_string(took.size()));
    const auto start = std::chrono::steady_clock::now();
    job.Run(in, out, {});
    took[job.Name] = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    if (fs::exists(out)) in.Reference[job.Name] = qm::test::ReadFile(out.string());
  }
  qm::DeleteSetting("Quillmark Library", "Init");  // no log until the log's own rows

  int row = 0;
  for (const Job& job : jobs) {
    for (const Child behaviour : {Child::GoesOn, Child::GoesOnLater, Child::Exits, Child::QuickExits, Child::Cancels}) {
      if (!job.ForksFromCallback && (behaviour == Child::GoesOnLater || behaviour == Child::Cancels)) continue;
      SCOPED_TRACE(std::string(job.Name) + ", the child " + kNames[static_cast<int>(behaviour)]);
      // An old output of other content, which the job replaces.
      const fs::path out = in.Dir / ("out" + std::to_string(++row));
      if (job.ReplacesOldOutput) qm::test::WriteFile(out.string(), "old output");
      if (job.ForksFromCallback) ForkInCallback(job, behaviour, in, out);
      else ForkBeside(job, behaviour, in, out, took[job.Name] / 3);
    }
  }
}

}  // namespace
