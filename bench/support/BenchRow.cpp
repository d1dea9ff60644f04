#include "support/BenchRow.h"

#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace qm::bench {
namespace {

std::string Format(double value, const char* format) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// Processor time so far (user + system, this process and its finished children).
double CpuSeconds() {
  rusage self{}, children{};
  getrusage(RUSAGE_SELF, &self);
  getrusage(RUSAGE_CHILDREN, &children);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(children.ru_utime) + seconds(children.ru_stime);
}

double Seconds(const Contender& c) {
  const auto start = std::chrono::steady_clock::now();
  c.Run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The load average over the last minute (0 when it cannot be read).
double LoadAverage() {
  std::ifstream in("/proc/loadavg");
  double load = 0;
  in >> load;
  return load;
}

// Runs `all` one untimed time each (with `warmUp`), then `repetitions` rounds in which each
// runs once, the order reversed every other round: a machine whose speed
// drifts during the row slows all of them alike instead of whichever ran
// during the slow spell. Returns each contender's times, round by round.
std::vector<std::vector<double>> TakeTurns(const std::vector<const Contender*>& all, int repetitions, bool warmUp,
                                           double budget = 0) {
  const auto start = std::chrono::steady_clock::now();
  // QM_BENCH_ROUNDS asks for more rounds than a row's own (on a busy
  // machine, a median of more rounds is steadier).
  if (const char* asked = std::getenv("QM_BENCH_ROUNDS")) repetitions = std::max(repetitions, std::atoi(asked));
  if (warmUp)
    for (const Contender* c : all) c->Run();
  std::vector<std::vector<double>> times(all.size());
  for (int round = 0; round < repetitions; ++round) {
    if (round > 0 && budget > 0 &&
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > budget)
      break;
    for (std::size_t k = 0; k < all.size(); ++k) {
      const std::size_t i = round % 2 == 0 ? k : all.size() - 1 - k;
      times[i].push_back(Seconds(*all[i]));
    }
  }
  return times;
}

// a / b in each round.
std::vector<double> RoundRatios(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> ratios;
  for (std::size_t round = 0; round < a.size() && round < b.size(); ++round)
    if (b[round] > 0) ratios.push_back(a[round] / b[round]);
  return ratios;
}

// Ours (times[0]) against the fastest of the peers (times[1] up to
// peerEnd) in each round. The ratio is taken within each round and the median
// of those kept: runs next to each other in time share the machine's speed of
// the moment.
std::vector<double> OursAgainstPeers(const std::vector<std::vector<double>>& times, std::size_t peerEnd) {
  std::vector<double> fastest;
  for (std::size_t round = 0; round < times[0].size(); ++round) {
    double peer = 0;
    for (std::size_t i = 1; i < peerEnd; ++i)
      if (peer == 0 || times[i][round] < peer) peer = times[i][round];
    fastest.push_back(peer);
  }
  return RoundRatios(times[0], fastest);
}

std::string RatiosText(const std::vector<double>& ratios) {
  std::string text;
  for (const double r : ratios) text += Format(r, " %.2f");
  return text;
}

// When the rounds' ratios lie more than 20% of their median apart, says so,
// with what may have caused it.
void CheckSpread(const std::vector<double>& ratios, double shortestRound, double load, const std::string& noise) {
  if (ratios.size() < 2) return;
  const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
  const double median = Median(ratios);
  if (median <= 0 || (*high - *low) <= 0.2 * median) return;
  std::string why;
  const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
  if (load > processors - 0.5)
    why += "; the machine was busy (load average " + Format(load, "%.1f") + " on " + std::to_string(processors) +
           " processors)";
  if (shortestRound < 0.05) why += "; a round takes only " + Format(shortestRound * 1000, "%.1f") + " ms";
  if (!noise.empty()) why += "; " + noise;
  if (why.empty()) why = "; no cause seen (the machine looked idle)";
  Detail("rounds disagree by more than 20% (" + Format(*low, "%.2f") + " to " + Format(*high, "%.2f") + ")" + why);
}

}  // namespace

RowResult Measure(const Contender& ours, const std::vector<Contender>& peers, const RowOptions& options) {
  std::vector<const Contender*> all{&ours};
  for (const auto& p : peers) all.push_back(&p);
  if (options.Typed) all.push_back(options.Typed);
  const std::size_t peerEnd = 1 + peers.size();
  RowResult result;
  for (const Contender* c : all) result.Names.push_back(c->Name);
  const double loadBefore = LoadAverage();
  result.Seconds = TakeTurns(all, options.Repetitions, options.WarmUp, options.BudgetSeconds);
  result.Load = std::max(loadBefore, LoadAverage());
  const auto& times = result.Seconds;
  result.OursSeconds = Median(times[0]);
  result.PeerSeconds = Median(times[1]);
  for (std::size_t i = 2; i < peerEnd; ++i) result.PeerSeconds = std::min(result.PeerSeconds, Median(times[i]));
  result.Ratio = Median(OursAgainstPeers(times, peerEnd));
  if (options.Typed) {
    result.TypedSeconds = Median(times.back());
    result.TypedRatio = Median(RoundRatios(times.back(), times[0]));
  }
  return result;
}

RowResult RunRow(const std::string& row, double goal, const Contender& ours, const std::vector<Contender>& peers,
                 const RowOptions& options) {
  const RowResult result = Measure(ours, peers, options);
  const auto& times = result.Seconds;
  const std::size_t peerEnd = 1 + peers.size();
  const std::vector<double> ratios = OursAgainstPeers(times, peerEnd);
  std::printf("bench %s ratio %s goal %s\n", row.c_str(), Format(result.Ratio, "%.2f").c_str(),
              Format(goal, "%g").c_str());
  double shortest = 0;
  for (std::size_t i = 0; i < peerEnd; ++i) {
    const double median = Median(times[i]);
    shortest = i == 0 ? median : std::min(shortest, median);
    Detail(result.Names[i] + ": " + Format(median * 1000, "%.1f") + " ms (median of " +
           std::to_string(times[i].size()) + ")");
  }
  Detail("ratio in each round:" + RatiosText(ratios));
  CheckSpread(ratios, shortest, result.Load, options.Noise);
  if (static_cast<int>(ratios.size()) < options.Repetitions)
    DetailF("%zu of %d rounds: the row's time (%.0f s) was spent", ratios.size(), options.Repetitions,
            options.BudgetSeconds);
  if (options.Typed) {
    DetailF("typed %s: %.1f ms (median of %d) beside %s's %.1f ms: %.2f of its time (goal at most %g; rounds:%s)",
            options.Typed->Name.c_str(), result.TypedSeconds * 1000, static_cast<int>(times.back().size()),
            ours.Name.c_str(), result.OursSeconds * 1000, result.TypedRatio, kTypedGoal,
            RatiosText(RoundRatios(times.back(), times[0])).c_str());
  }
  std::fflush(stdout);
  return result;
}

RowResult RunRow(const std::string& row, double goal, const Contender& ours, const std::vector<Contender>& peers,
                 int repetitions) {
  RowOptions options;
  options.Repetitions = repetitions;
  return RunRow(row, goal, ours, peers, options);
}

void Detail(const std::string& text) { std::printf("  %s\n", text.c_str()); }

void DetailF(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  Detail(text);
}

RowResult RunMeteredRow(const std::string& row, double goal, Contender ours, Contender peer,
                        const RowOptions& options) {
  double oursCpu = 0, peerCpu = 0;
  const auto metered = [](std::function<void()> job, double& total) {
    return [job = std::move(job), &total] {
      const double start = CpuSeconds();
      job();
      total += CpuSeconds() - start;
    };
  };
  ours.Run = metered(std::move(ours.Run), oursCpu);
  peer.Run = metered(std::move(peer.Run), peerCpu);
  const RowResult result = RunRow(row, goal, ours, {peer}, options);
  DetailF("processor time over all runs: %.2f s against %.2f s, ratio %.2f", oursCpu, peerCpu, oursCpu / peerCpu);
  return result;
}

Beside TypedBeside(const Contender& typed, const Contender& published, int repetitions, Estimate estimate) {
  const std::vector<std::vector<double>> times = TakeTurns({&typed, &published}, repetitions, true);
  const std::vector<double> ratios = RoundRatios(times[0], times[1]);
  const bool best = estimate == Estimate::Best;
  const auto face = [best](const std::vector<double>& rounds) {
    return best ? *std::min_element(rounds.begin(), rounds.end()) : Median(rounds);
  };
  Beside result;
  result.Ratio = best ? face(times[0]) / face(times[1]) : Median(ratios);
  char text[1024];
  std::snprintf(text, sizeof text,
                "typed %s: %.2f ms beside %s: %.2f ms (%s of %d): %.2f of its time (goal at most %g; rounds:%s)",
                typed.Name.c_str(), face(times[0]) * 1000, published.Name.c_str(), face(times[1]) * 1000,
                best ? "best" : "medians", static_cast<int>(ratios.size()), result.Ratio, kTypedGoal,
                RatiosText(ratios).c_str());
  result.Text = text;
  return result;
}

int CallsPerRound(const std::function<void()>& call, double seconds) {
  int calls = 1;
  for (;;) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) call();
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (took >= seconds || calls >= (1 << 24)) return calls;
    // Aim a little past the target from the time measured, at least doubling.
    const double wanted = took > 0 ? 1.2 * seconds / took * calls : 2.0 * calls;
    calls = static_cast<int>(std::min(std::max(wanted, 2.0 * calls), static_cast<double>(1 << 24)));
  }
}

Contender Repeated(Contender c, int calls) {
  return {c.Name + " x" + std::to_string(calls), [run = std::move(c.Run), calls] {
            for (int i = 0; i < calls; ++i) run();
          }};
}

void Growth(const std::string& what, double factor, const RowResult& smaller, const RowResult& larger) {
  DetailF("growth to %g times the %s: ours x%.2f (%.0f to %.0f ms), the peer x%.2f (%.0f to %.0f ms)", factor,
          what.c_str(), larger.OursSeconds / smaller.OursSeconds, smaller.OursSeconds * 1000, larger.OursSeconds * 1000,
          larger.PeerSeconds / smaller.PeerSeconds, smaller.PeerSeconds * 1000, larger.PeerSeconds * 1000);
}

std::size_t PeakMemoryBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<std::size_t>(usage.ru_maxrss) * 1024;
}

std::size_t FreeBytes(const std::string& path) {
  struct statvfs info {};
  if (::statvfs(path.c_str(), &info) != 0) return 0;
  return static_cast<std::size_t>(info.f_bavail) * info.f_frsize;
}

std::size_t FreeFiles(const std::string& path) {
  struct statvfs info {};
  return ::statvfs(path.c_str(), &info) == 0 ? static_cast<std::size_t>(info.f_favail) : 0;
}

std::string ScratchDir(const std::string& row) {
  const char* base = std::getenv("QM_BENCH_DIR");
  std::filesystem::path dir =
      std::filesystem::path(base && *base ? base : "/tmp") / ("qm-bench-" + row + "-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  static std::vector<std::filesystem::path> toRemove;  // bench processes are short-lived
  if (toRemove.empty()) {
    std::atexit([] {
      std::error_code ec;
      for (const auto& p : toRemove) std::filesystem::remove_all(p, ec);
    });
  }
  toRemove.push_back(dir);
  return dir.string();
}

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

}  // namespace qm::bench
