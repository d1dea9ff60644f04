#pragma once
// One row of the benchmark table: our operation against the peer a user
// would pick instead, timed in the same process, the contenders taking turns.

#include <functional>
#include <string>
#include <vector>

namespace qm::bench {

struct Contender {
  std::string Name;
  std::function<void()> Run;  // one complete run of the measured job
};

struct RowResult {
  double OursSeconds = 0;
  double PeerSeconds = 0;  // the fastest peer
  double Ratio = 0;
};

/// Times `ours` and every peer (one untimed run each, then `repetitions`
/// rounds in which each runs once, in turns) and prints "bench ROW ratio R
/// goal G", R being the median over the rounds of our time against the
/// fastest peer's in the same round, then one detail line per contender
/// with its median time.
RowResult RunRow(const std::string& row, double goal, const Contender& ours, const std::vector<Contender>& peers,
                 int repetitions = 3);

/// Prints a detail line under the row ("  text").
void Detail(const std::string& text);

/// RunRow against one peer, then a detail line comparing the processor time
/// both spent over all their runs (steadier than wall time on a busy machine).
RowResult RunMeteredRow(const std::string& row, double goal, Contender ours, Contender peer);

/// Peak resident memory of this process so far, in bytes.
std::size_t PeakMemoryBytes();

/// A scratch folder for the row's files, removed at exit.
std::string ScratchDir(const std::string& row);

/// Runs a shell command; false when it failed.
bool Shell(const std::string& command);

}  // namespace qm::bench
