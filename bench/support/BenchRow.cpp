#include "support/BenchRow.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

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
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

// The contenders take turns, round after round (the order reversed every
// other round), after one untimed warm-up run each: a machine whose speed
// drifts during the row slows all of them alike instead of whichever ran
// during the slow spell.
RowResult RunRow(const std::string& row, double goal, const Contender& ours, const std::vector<Contender>& peers,
                 int repetitions) {
  std::vector<const Contender*> all{&ours};
  for (const auto& p : peers) all.push_back(&p);
  for (const Contender* c : all) c->Run();
  std::vector<std::vector<double>> times(all.size());
  for (int round = 0; round < repetitions; ++round) {
    for (std::size_t k = 0; k < all.size(); ++k) {
      const std::size_t i = round % 2 == 0 ? k : all.size() - 1 - k;
      times[i].push_back(Seconds(*all[i]));
    }
  }
  std::vector<double> medians;
  for (const auto& t : times) medians.push_back(Median(t));
  // The ratio is taken within each round, against the fastest peer of that
  // round, and the median of those kept: runs next to each other in time
  // share the machine's speed of the moment.
  std::vector<double> ratios;
  for (int round = 0; round < repetitions; ++round) {
    double peer = 0;
    for (std::size_t i = 1; i < all.size(); ++i)
      if (peer == 0 || times[i][round] < peer) peer = times[i][round];
    if (peer > 0) ratios.push_back(times[0][round] / peer);
  }

  RowResult result;
  result.OursSeconds = medians[0];
  result.PeerSeconds = *std::min_element(medians.begin() + 1, medians.end());
  result.Ratio = ratios.empty() ? 0 : Median(ratios);
  std::printf("bench %s ratio %s goal %s\n", row.c_str(), Format(result.Ratio, "%.2f").c_str(),
              Format(goal, "%g").c_str());
  for (std::size_t i = 0; i < all.size(); ++i)
    Detail(all[i]->Name + ": " + Format(medians[i] * 1000, "%.1f") + " ms (median of " + std::to_string(repetitions) +
           ")");
  std::string byRound = "ratio in each round:";
  for (const double r : ratios) byRound += Format(r, " %.2f");
  Detail(byRound);
  std::fflush(stdout);
  return result;
}

void Detail(const std::string& text) { std::printf("  %s\n", text.c_str()); }

RowResult RunMeteredRow(const std::string& row, double goal, Contender ours, Contender peer) {
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
  const RowResult result = RunRow(row, goal, ours, {peer});
  char cpu[128];
  std::snprintf(cpu, sizeof cpu, "processor time over all runs: %.2f s against %.2f s, ratio %.2f", oursCpu, peerCpu,
                oursCpu / peerCpu);
  Detail(cpu);
  return result;
}

std::size_t PeakMemoryBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<std::size_t>(usage.ru_maxrss) * 1024;
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
