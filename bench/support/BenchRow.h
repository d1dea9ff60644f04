#pragma once
// One row of the benchmark table: our operation against the peer a user
// would pick instead, timed in the same process, the contenders taking turns.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace qm::bench {

struct Contender {
  std::string Name;
  std::function<void()> Run;  // one complete run of the measured job
};

/// The goal for a typed call against the published call of the same job: at
/// most this share of its time.
inline constexpr double kTypedGoal = 1.05;

struct RowOptions {
  int Repetitions = 3;
  /// One untimed run of each contender first (off for jobs over large trees
  /// made just before, which are warm already).
  bool WarmUp = true;
  /// The typed call of the job `ours` does through a published class, timed
  /// in the same rounds; a detail line gives its time beside ours and the
  /// median over the rounds of typed / ours, against kTypedGoal.
  const Contender* Typed = nullptr;
  /// No round is begun once the row has taken this long (0: no limit); the
  /// first round always runs.
  double BudgetSeconds = 0;
  /// Why the rounds may disagree even on an idle machine (printed when
  /// they do), such as a disk sync in the timed job.
  std::string Noise;
};

struct RowResult {
  double OursSeconds = 0;
  double PeerSeconds = 0;  // the fastest peer
  double Ratio = 0;
  double TypedSeconds = 0;                   // with RowOptions::Typed
  double TypedRatio = 0;                     // typed / ours, the median over the rounds
  std::vector<std::string> Names;            // ours, the peers, typed
  std::vector<std::vector<double>> Seconds;  // each contender's time in each round
  double Load = 0;                           // the load average during the row
};

/// Times the contenders as RunRow does, without printing anything: for the
/// smaller size of a row that grows.
RowResult Measure(const Contender& ours, const std::vector<Contender>& peers, const RowOptions& options = {});

/// Times `ours` and every peer (one untimed run each, then `repetitions`
/// rounds in which each runs once, in turns) and prints "bench ROW ratio R
/// goal G", R being the median over the rounds of our time against the
/// fastest peer's in the same round, then one detail line per contender
/// with its median time, and the ratio of each round. When the rounds'
/// ratios lie more than 20% apart, a line says so and why it may be.
RowResult RunRow(const std::string& row, double goal, const Contender& ours, const std::vector<Contender>& peers,
                 const RowOptions& options);
RowResult RunRow(const std::string& row, double goal, const Contender& ours, const std::vector<Contender>& peers,
                 int repetitions = 3);

/// Prints a detail line under the row ("  text").
void Detail(const std::string& text);

/// Prints a detail line made by printf's rules.
[[gnu::format(printf, 1, 2)]] void DetailF(const char* format, ...);

/// RunRow against one peer, then a detail line comparing the processor time
/// both spent over all their runs (steadier than wall time on a busy machine).
RowResult RunMeteredRow(const std::string& row, double goal, Contender ours, Contender peer,
                        const RowOptions& options = {});

/// A typed call measured beside its published call.
struct Beside {
  double Ratio = 0;  // typed / published (see Estimate)
  std::string Text;  // both times and the ratio, for a detail line
};

/// How TypedBeside reads its rounds.
enum class Estimate {
  /// The median of the rounds' typed / published ratios.
  Median,
  /// Each face's best round, one over the other: for short jobs of the same
  /// engine, whose rounds another tenant of the machine can only slow down
  /// (on a shared virtual machine by a third or more in single rounds).
  Best,
};

/// The typed call of a job beside its published call, without a peer: both
/// run `repetitions` times in turns (after one untimed run each); the result
/// gives both faces' times and typed / published as `estimate` reads them,
/// against kTypedGoal. Prints nothing.
Beside TypedBeside(const Contender& typed, const Contender& published, int repetitions = 3,
                   Estimate estimate = Estimate::Median);

/// How many calls of `call` make a round of at least `seconds`: jobs that
/// take a few milliseconds are repeated, so that a round is long enough to
/// time against the machine's noise.
int CallsPerRound(const std::function<void()>& call, double seconds = 0.1);

/// `c` run `calls` times in a row, as one contender.
Contender Repeated(Contender c, int calls);

/// The growth of a job's time from a smaller input to one `factor` times
/// larger, ours and the peer's, as a detail line.
void Growth(const std::string& what, double factor, const RowResult& smaller, const RowResult& larger);

/// Peak resident memory of this process so far, in bytes.
std::size_t PeakMemoryBytes();

/// Free bytes, and free inodes, on the file system of `path`.
std::size_t FreeBytes(const std::string& path);
std::size_t FreeFiles(const std::string& path);

/// A scratch folder for the row's files, removed at exit.
std::string ScratchDir(const std::string& row);

/// Runs a shell command; false when it failed.
bool Shell(const std::string& command);

}  // namespace qm::bench
