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
#include <iostream>
#include <set>
#include <string_view>

#include "Commands.h"
#include "io/Executor.h"
#include "io/System.h"
#include "reliability/Jobs.h"
#include "support/FaultInjection.h"

namespace {
using namespace qm::test;
namespace fs = std::filesystem;
using qm::io::sys::Call;
using qm::io::sys::Faults;

constexpr std::pair<const char*, int> kAnswers[] = {{"EIO", EIO},     {"ENOSPC", ENOSPC}, {"EMFILE", EMFILE},
                                                    {"EROFS", EROFS}, {"EINTR", EINTR},   {"short", Faults::kShort}};

// Fails the Nth call and notes the kind of the call it failed.
struct Failing : FailNthCall {
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

const bool kFull = std::getenv("QM_FAULT_LOOP_FULL") && std::string_view(std::getenv("QM_FAULT_LOOP_FULL")) == "1";
// Full: text files of one or two megabytes (more than one write-behind buffer
// or read chunk), pictures of 256 x 256 pixels.
const int kScale = kFull ? 16 : 1;

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

// A run of the job; a command of the tool runs in this process, on files of
// the folder, its output kept.
Ended RunJob(const Job& job, const Place& place) {
  if (job.Run) return job.Run(place);
  const qm::cli::Command* const commands[] = {&qm::cli::kCompress, &qm::cli::kZip,       &qm::cli::kJpeg,
                                              &qm::cli::kXmlCheck, &qm::cli::kExportTsv, &qm::cli::kMht};
  const auto* command = *std::find_if(std::begin(commands), std::end(commands),
                                      [&](const qm::cli::Command* c) { return c->Name == job.Tool[0]; });
  std::vector<std::string> args;
  for (std::size_t i = 1; i < job.Tool.size(); ++i) args.push_back((place.In / job.Tool[i]).string());
  std::ostringstream out, errors;
  std::streambuf *const stdOut = std::cout.rdbuf(out.rdbuf()), *const stdErr = std::cerr.rdbuf(errors.rdbuf());
  const int status = qm::cli::RunCommand(*command, args);
  std::cout.rdbuf(stdOut);
  std::cerr.rdbuf(stdErr);
  return {status == 0 ? Ended::Done : status == 1 ? Ended::Refused : Ended::Unclear, status ? errors.str() : ""};
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
    const bool isNew = there && (job.Same(now[name], fresh.at(name)) || (job.Has(kMht) && WithoutPicture(dir)));
    const bool isOld = there && now[name] == before.at(name);
    if (ended.Way == Ended::Done && !isNew)
      return "done, but " + name + " is not the new file (" + std::to_string(now[name].size()) + " bytes)";
    // Once the new file is in place only the folder's sync can fail, and the
    // failure says so (a false says nothing).
    const bool inPlace = isNew && (job.Has(kSilent) || ended.Said.find("synced") != std::string::npos);
    if (ended.Way == Ended::Refused && !isOld && !(i > 0 && isNew) && !inPlace && !(job.Has(kMayDrop) && !there))
      return "refused (" + ended.Said + "), but " + name + " is not the old file (" + std::to_string(now[name].size()) +
             " bytes)";
    now.erase(name);
  }
  for (const auto& [name, bytes] : before)
    if (!now.count(name) && std::find(job.Outputs.begin(), job.Outputs.end(), name) == job.Outputs.end())
      return "removed " + name;
    else if (now.count(name) && now[name] != bytes) return "changed the input " + name;
  const std::string words = ended.Said + (job.Has(kTrailNames) ? ended.Trail : "");
  if (ended.Way == Ended::Refused && !job.Has(kSilent) && std::none_of(before.begin(), before.end(), [&](auto& file) {
        return words.find(fs::path(file.first).filename().string()) != std::string::npos;
      }))
    return "refused without naming a file: " + ended.Said + " (trail: " + ended.Trail + ")";
  return {};
}

// By io::sys::Call.
constexpr const char* kCallNames[] = {"open", "close",  "read",  "write",   "fsync", "truncate", "stat", "rename",
                                      "link", "unlink", "mkdir", "readdir", "wait",  "poll",     "chmod"};

// Runs `job` with its 1st, 2nd, ... call (of the kind `only`, or any) failed
// with `answer` (and every later one too when `onwards`) until a run no longer
// reaches the call. Each distinct problem is reported once, with the first
// call that showed it.
void Loop(const Job& job, const std::string& label, std::pair<long, long>& totals, int answer,
          std::optional<Call> only = std::nullopt, bool onwards = false) {
  ::signal(SIGALRM, OnAlarm);
  const bool mustFinish = answer == EINTR || answer == Faults::kShort;
  // In memory where it can be: the loop syncs thousands of files, which
  // costs a disk seconds and tmpfs nothing; the calls made are the same.
  const ScratchDir scratch(MemoryFolder());
  const fs::path& dir = scratch.Path();
  const Place place{dir, dir, kScale};
  Ready(job, place);
  const std::map<std::string, std::string> before = Contents(dir);
  ASSERT_EQ(RunJob(job, place).Way, Ended::Done) << job.Name;
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
    std::optional<Failing> faults(std::in_place, n, answer, only, onwards);
    const Ended ended = RunJob(job, place);
    const bool fired = faults->Fired();
    const int kind = faults->kind;
    faults.reset();
    ::alarm(0);
    ++totals.first;
    totals.second += ended.Way == Ended::Refused ? 1 : 0;
    std::string problem = Judge(job, dir, ended, before, fresh);
    if (problem.empty() && OpenDescriptors() != descriptors) problem = "leaked a descriptor";
    // A sync fails only for a file written: the refusal names it.
    if (problem.empty() && ended.Way == Ended::Refused && kind == static_cast<int>(Call::Fsync) && !job.Has(kSilent) &&
        std::none_of(job.Outputs.begin(), job.Outputs.end(), [&](const std::string& name) {
          return (ended.Said + ended.Trail).find(fs::path(name).filename().string()) != std::string::npos;
        }))
      problem = "a failed sync did not name the file written: " + ended.Said;
    if (problem.empty() && mustFinish && ended.Way != Ended::Done) problem = "did not finish: " + ended.Said;
    if (problem.empty() && !fired && ended.Way != Ended::Done) problem = "failed with no fault";
    if (!problem.empty() && seen.insert(problem).second)
      ADD_FAILURE() << job.Name << ", " << label << ", call " << n << " (" << (kind >= 0 ? kCallNames[kind] : "?")
                    << "): " << problem;
    if (!fired) return;
    ASSERT_LT(n, 100000) << job.Name << ": the loop does not end";
  }
}

// Every job, every fault, each call in turn, all work on the caller's thread.
TEST(FaultLoop, EveryCallOfEveryJob) {
  qm::io::Executor::SetLimit(0);
  for (const Job& job : Jobs(kFaults)) {
    std::pair<long, long> totals;  // runs, refused
    for (const auto& [name, answer] : kAnswers) Loop(job, name, totals, answer);
    std::printf("%-22s %5ld runs, %5ld refused\n", job.Name.c_str(), totals.first, totals.second);
  }
}

// One fault with helper threads allowed: the calls may fall on them.
TEST(FaultLoop, WithHelperThreads) {
  qm::io::Executor::ResetLimit();
  std::pair<long, long> totals;
  for (const Job& job : Jobs(kFaults)) Loop(job, "EIO with helpers", totals, EIO);
  std::printf("with helper threads %ld runs, %ld refused\n", totals.first, totals.second);
}

// With QM_FAULT_LOOP_FULL=1: every call of one kind fails from the Nth on.
TEST(FaultLoop, EveryKindFailingFromTheNthOn) {
  if (!kFull) GTEST_SKIP() << "QM_FAULT_LOOP_FULL=1 runs it";
  qm::io::Executor::SetLimit(0);
  std::pair<long, long> totals;
  for (const Job& job : Jobs(kFaults))
    for (int kind = static_cast<int>(Call::Open); kind <= static_cast<int>(Call::ReadDir); ++kind)
      Loop(job, std::string("every ") + kCallNames[kind] + " from the Nth on", totals, EIO, static_cast<Call>(kind),
           true);
}

}  // namespace
