#include "ProgressLine.h"

#include <unistd.h>

#include <cstdio>

namespace qm::cli {
namespace {

// "512 bytes", "1.5 KiB", "6.0 MiB", "2.3 GiB".
std::string Size(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(units)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

const char* Noun(ProgressLine::Unit unit) {
  switch (unit) {
    case ProgressLine::Unit::Parts: return "parts";
    case ProgressLine::Unit::Folders: return "folders";
    case ProgressLine::Unit::Bytes: break;
  }
  return "bytes";
}

}  // namespace

ProgressLine::ProgressLine(std::ostream& out, bool shown, std::string label, Unit unit, Clock clock)
    : out_(out), shown_(shown), label_(std::move(label)), unit_(unit), clock_(std::move(clock)) {}

ProgressLine::~ProgressLine() { Clear(); }

std::string ProgressLine::Text(const std::string& label, Unit unit, std::uint64_t done, std::uint64_t total) {
  std::string text = label + ": ";
  if (unit == Unit::Bytes) {
    text += Size(done);
    if (total > 0) text += " of " + Size(total);
  } else {
    text += std::to_string(done);
    if (total > 0) text += " of " + std::to_string(total);
    std::string noun = Noun(unit);
    if (done == 1 && total == 0) noun.pop_back();  // "1 folder"
    text += " " + noun;
  }
  if (total > 0) text += " (" + std::to_string(done >= total ? 100 : done * 100 / total) + "%)";
  return text;
}

void ProgressLine::Update(std::uint64_t done, std::uint64_t total) {
  if (!shown_) return;
  const auto now = clock_();
  if (drawn_ && now - last_ < kInterval) return;
  last_ = now;
  const std::string text = Text(label_, unit_, done, total);
  // Blanks cover what is left of a longer line drawn before.
  out_ << '\r' << text << std::string(width_ > text.size() ? width_ - text.size() : 0, ' ') << std::flush;
  width_ = std::max(width_, text.size());
  drawn_ = true;
}

void ProgressLine::Clear() {
  if (!drawn_) return;
  out_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
  drawn_ = false;
  width_ = 0;
}

Progress ProgressLine::Callback() {
  if (!shown_) return {};
  return [this](std::uint64_t done, std::uint64_t total) { Update(done, total); };
}

bool ProgressWanted(bool chatty) { return chatty && ::isatty(STDERR_FILENO) == 1; }

}  // namespace qm::cli
