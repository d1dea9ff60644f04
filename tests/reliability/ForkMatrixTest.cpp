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

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "io/System.h"
#include "reliability/Jobs.h"

namespace fs = std::filesystem;

namespace {
using namespace qm::test;

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
// Inputs of several megabytes: several times the chunks the compressors read
// ahead (4 of 1 MiB).
constexpr int kScale = 33;

struct Cancel {};

// A run of a job without a fork: what it found, its outputs, and how long its write took.
struct Reference {
  std::string Said;
  std::vector<std::string> Outputs;
  std::chrono::microseconds Took;
};

// What is wrong with a run; empty when it ended as the run without a fork did.
std::string Problem(const Job& job, const Place& place, const Ended& ended, const Reference& reference) {
  if (ended.Way != Ended::Done) return "failed: " + std::to_string(ended.Number) + " " + ended.Said;
  if (ended.Said != reference.Said) return "found:\n" + ended.Said;
  const std::vector<std::string> got = Outputs(job, place.Out);
  for (std::size_t i = 0; i < got.size(); ++i)
    if (!job.Same(got[i], reference.Outputs[i]))
      return job.Outputs[i] + " is another output, " + std::to_string(got[i].size()) + " bytes";
  return job.Check ? job.Check(place) : "";
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

// Runs `run`; what it raises past the job's own ways of failing ends it unclearly.
Ended Attempt(const std::function<Ended()>& run) {
  try {
    return run();
  } catch (const Cancel&) {
    return {Ended::Unclear, "cancelled"};
  } catch (...) {
    return {Ended::Unclear, "raised"};
  }
}

// In the child: the status that tells how its run of the job ended.
[[noreturn]] void EndChild(const Ended& ended) {
  int status = ended.Way == Ended::Done ? kDone : kOtherError;
  if (ended.Number == 75 && ended.Said.find("fork") != std::string::npos) status = kInherited;
  else if (ended.Way == Ended::Unclear && ended.Said == "cancelled") status = kCancelled;
  else if (status == kOtherError) std::fprintf(stderr, "child: error %d: %s\n", ended.Number, ended.Said.c_str());
  std::exit(status);  // as a program that goes on ends: static destructors run
}

// How the child ended, and what is wrong with the parent's run (empty when nothing).
using Outcome = std::pair<std::string, std::string>;

// In a child just forked: starts its clock, and exits or cancels as it
// behaves; returns when it goes on.
void Leave(Child behaviour) {
  ::alarm(kChildSeconds);
  if (behaviour == Child::Exits) std::exit(kExited);
  if (behaviour == Child::QuickExits) ::_exit(kQuickExited);
  if (behaviour == Child::Cancels) throw Cancel{};
}

// The exit status of a child that behaves so. One that goes on with a job
// that writes a file from its callback is refused: the file is the parent's.
int Expected(const Job& job, Child behaviour) {
  const int goingOn = (job.Has(kForkInCallback)) && !job.Outputs.empty() ? kInherited : kDone;
  const int statuses[] = {goingOn, goingOn, kExited, kQuickExited, kCancelled};
  return statuses[static_cast<int>(behaviour)];
}

// Forks from the job's progress callback, a quarter of the way through.
Outcome ForkInCallback(const Job& job, Child behaviour, Place place, const Reference& reference) {
  const pid_t parent = ::getpid();
  int gate[2] = {-1, -1};  // the child that goes on later reads until the parent closes it
  if (::pipe2(gate, O_CLOEXEC) != 0) return {"no pipe", ""};
  pid_t child = -1;
  std::string waitedInCallback;
  place.OnProgress = [&](std::uint64_t done, std::uint64_t total) {
    // Once, a quarter of the way through the job (the fourth folder of a search).
    if (child != -1 || !(total == 0 ? done >= 4 : done > 0 && 4 * done >= total)) return;
    std::fflush(nullptr);
    child = ::fork();
    if (child < 0) return;
    if (child > 0) {
      if (behaviour == Child::GoesOn) waitedInCallback = Ending(child);
      return;
    }
    Leave(behaviour);
    if (behaviour == Child::GoesOnLater) {
      qm::io::sys::Close(gate[1]);
      char byte;
      while (qm::io::sys::Read(gate[0], &byte, 1) > 0) {}
    }
  };
  const Ended ended = Attempt([&] { return job.Run(place); });
  if (::getpid() != parent) EndChild(ended);

  qm::io::sys::Close(gate[1]);
  qm::io::sys::Close(gate[0]);
  return {child <= 0                   ? "never forked"
          : behaviour == Child::GoesOn ? waitedInCallback
                                       : Ending(child),
          Problem(job, place, ended, reference)};
}

// Forks from this thread while another runs the job, a third of its write's
// time after the write began.
Outcome ForkBeside(const Job& job, Child behaviour, Place place, const Reference& reference) {
  std::atomic<bool> writing{false}, finished{false};
  place.Go = [&] { writing = true; };
  Ended ended;
  std::thread worker([&] {
    ended = Attempt([&] { return job.Run(place); });
    finished = true;
  });
  while (!writing && !finished) std::this_thread::yield();
  std::this_thread::sleep_for(reference.Took / 3);
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    Leave(behaviour);
    // Goes on: the child does the same job on its own output.
    Place own{place.In, place.Out.string() + ".child", place.Scale};
    EndChild(Attempt([&] {
      Ready(job, own, false);
      const Ended owned = job.Run(own);
      const std::string problem = Problem(job, own, owned, reference);
      return problem.empty() ? owned : Ended{Ended::Unclear, problem};
    }));
  }
  const std::string ending = child > 0 ? Ending(child) : "not forked";
  worker.join();
  return {ending, Problem(job, place, ended, reference)};
}

TEST(ForkMatrix, EveryJobLeavesTheParentsOutputWholeAndNoChildHangs) {
  if (SanitizerAllocator() || ThreadSanitizer())
    GTEST_SKIP() << "the children fork amid helper threads and start their own (see TestEnvironment.h)";
  ScratchDir dir;
  const fs::path& in = dir.Path();
  const std::vector<Job> jobs = Jobs(kFork | kForkInCallback);

  // Each job once without a fork: its inputs, its reference outputs, and how long its write takes.
  std::map<std::string, Reference> references;
  for (const Job& job : jobs) {
    Place place{in, in / ("reference-" + std::to_string(references.size())), kScale};
    auto go = std::chrono::steady_clock::now();
    place.Go = [&go] { go = std::chrono::steady_clock::now(); };
    // With a callback as the rows have (a job may choose its way by it).
    if (job.Has(kForkInCallback)) place.OnProgress = [](std::uint64_t, std::uint64_t) {};
    Ready(job, place);
    const Ended ended = job.Run(place);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - go);
    ASSERT_EQ(ended.Way, Ended::Done) << job.Name << ": " << ended.Said;
    references[job.Name] = {ended.Said, Outputs(job, place.Out), took};
  }
  qm::DeleteSetting("Quillmark Library", "Init");  // no log until the log's own rows

  int row = 0;
  for (const Job& job : jobs) {
    const bool inCallback = job.Has(kForkInCallback);
    for (const Child behaviour : {Child::GoesOn, Child::GoesOnLater, Child::Exits, Child::QuickExits, Child::Cancels}) {
      if (!inCallback && (behaviour == Child::GoesOnLater || behaviour == Child::Cancels)) continue;
      SCOPED_TRACE(job.Name + ", the child " + kNames[static_cast<int>(behaviour)]);
      // Old outputs of other content, which the job replaces.
      const Place place{in, in / ("out" + std::to_string(++row)), kScale};
      Ready(job, place, false);
      const auto [ending, problem] =
          (inCallback ? ForkInCallback : ForkBeside)(job, behaviour, place, references[job.Name]);
      EXPECT_EQ(ending, "exit " + std::to_string(Expected(job, behaviour)));
      EXPECT_EQ(problem, "");
    }
  }
}

}  // namespace
