#pragma once
// ProgressLine: how far a long job has come, as one line on the terminal
// rewritten in place ("\r"), at most ten times a second, and cleared when
// the job ends, so that what the command prints afterwards starts on a clean
// line. A line that is not shown writes nothing at all.

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "quillmark/runtime/Progress.h"

namespace qm::cli {

class ProgressLine {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  enum class Unit { Bytes, Parts, Folders };

  /// The shortest time between two drawings.
  static constexpr std::chrono::milliseconds kInterval{100};

  /// A line labelled `label` ("quillmark zip") drawn on `out` when `shown`.
  ProgressLine(
      std::ostream& out, bool shown, std::string label, Unit unit,
      Clock clock = [] { return std::chrono::steady_clock::now(); });
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  /// Redraws with `done` of `total` (0: not known) unless the line was
  /// drawn less than kInterval ago.
  void Update(std::uint64_t done, std::uint64_t total);
  /// Removes the line from the terminal (blanks it and returns the cursor).
  void Clear();
  /// The library's progress callback, updating this line.
  Progress Callback();

  /// The line's text: "quillmark zip: 1.5 MiB of 6.0 MiB (25%)", "quillmark mht: 2 of 5 parts (40%)",
  /// "quillmark find: 12 folders".
  static std::string Text(const std::string& label, Unit unit, std::uint64_t done, std::uint64_t total);

 private:
  std::ostream& out_;
  bool shown_;
  std::string label_;
  Unit unit_;
  Clock clock_;
  std::chrono::steady_clock::time_point last_{};
  bool drawn_ = false;     // a line is on the terminal now
  std::size_t width_ = 0;  // its length
};

/// True when progress should be drawn: stderr is a terminal and `chatty`.
bool ProgressWanted(bool chatty);

}  // namespace qm::cli
