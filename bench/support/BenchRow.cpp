#include "support/BenchRow.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

namespace qm::bench {
namespace {

// Collects the median real time of each benchmark instead of printing it.
class MedianCollector : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        medians[run.run_name.function_name] = run.GetAdjustedRealTime() / 1e9;  // unit is ns
    }
  }
  std::map<std::string, double> medians;
};

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
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(children.ru_utime) + seconds(children.ru_stime);
}

}  // namespace

RowResult RunRow(const std::string& row, double goal, const Contender& ours, const std::vector<Contender>& peers,
                 int repetitions) {
  std::vector<const Contender*> all{&ours};
  for (const auto& p : peers) all.push_back(&p);
  for (const Contender* c : all) {
    benchmark::RegisterBenchmark(c->Name.c_str(),
                                 [c](benchmark::State& state) {
                                   for (auto _ : state) c->Run();
                                 })
        ->Iterations(1)
        ->Repetitions(repetitions)
        ->ReportAggregatesOnly(true)
        ->Unit(benchmark::kNanosecond)
        ->UseRealTime();
  }
  int argc = 1;
  char name[] = "bench";
  char* argv[] = {name, nullptr};
  benchmark::Initialize(&argc, argv);
  MedianCollector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::ClearRegisteredBenchmarks();

  RowResult result;
  result.OursSeconds = collector.medians[ours.Name];
  result.PeerSeconds = 0;
  for (const auto& p : peers) {
    const double t = collector.medians[p.Name];
    if (result.PeerSeconds == 0 || t < result.PeerSeconds) result.PeerSeconds = t;
  }
  result.Ratio = result.PeerSeconds > 0 ? result.OursSeconds / result.PeerSeconds : 0;
  std::printf("bench %s ratio %s goal %s\n", row.c_str(), Format(result.Ratio, "%.2f").c_str(),
              Format(goal, "%g").c_str());
  for (const Contender* c : all)
    Detail(c->Name + ": " + Format(collector.medians[c->Name] * 1000, "%.1f") + " ms (median of " +
           std::to_string(repetitions) + ")");
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
  std::filesystem::path dir = std::filesystem::path(base && *base ? base : "/tmp") /
                              ("qm-bench-" + row + "-" + std::to_string(getpid()));
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
