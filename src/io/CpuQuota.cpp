#include "io/CpuQuota.h"

#include <fcntl.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <optional>
#include <vector>

#include "io/System.h"

namespace qm::io {
namespace {

// The most bytes read of a file. The mount table of a host with many mounts
// runs to some hundred KiB; a quota file holds one short line.
constexpr std::size_t kProcLimit = std::size_t{1} << 20;
constexpr std::size_t kQuotaLimit = 64;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) sys::Close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// Up to `limit` bytes of the file at `path`, cut after its last whole line
// when longer; empty when it cannot be read.
std::string ReadSmall(const std::string& path, std::size_t limit) {
  std::string bytes;
  const Descriptor file(sys::Open(path.c_str(), O_RDONLY));
  if (file.Get() < 0) return bytes;
  char chunk[4096];
  while (bytes.size() < limit) {
    const ssize_t got = sys::Read(file.Get(), chunk, std::min(sizeof chunk, limit - bytes.size()));
    if (got < 0) return {};
    if (got == 0) return bytes;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  const auto lastLine = bytes.rfind('\n');
  bytes.erase(lastLine == std::string::npos ? 0 : lastLine + 1);
  return bytes;
}

// Calls `each` with every line of `text`.
template <typename Each>
void ForEachLine(std::string_view text, Each each) {
  while (!text.empty()) {
    const auto end = text.find('\n');
    each(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

// The pieces of `text` between `separator`s (empty pieces kept).
std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  for (;;) {
    const auto end = text.find(separator);
    pieces.push_back(text.substr(0, end));
    if (end == std::string_view::npos) return pieces;
    text.remove_prefix(end + 1);
  }
}

bool Lists(std::string_view commaList, std::string_view item) {
  const auto items = Split(commaList, ',');
  return std::find(items.begin(), items.end(), item) != items.end();
}

// A field of the mount table, whose spaces, tabs, newlines and backslashes
// the kernel writes as octal escapes ("\040").
std::string Unescaped(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const auto octal = [&](std::size_t at) { return at < field.size() && field[at] >= '0' && field[at] <= '7'; };
    if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

// `path` without trailing slashes ("" for the root); nullopt unless it is
// absolute and free of "." and ".." folders.
std::optional<std::string> Clean(std::string_view path) {
  if (path.empty() || path.front() != '/') return std::nullopt;
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  for (const std::string_view piece : Split(path, '/'))
    if (piece == "." || piece == "..") return std::nullopt;
  return std::string(path);
}

struct Mount {
  std::string Root;   // the sub-tree of the hierarchy it shows ("" for all)
  std::string Point;  // where it is mounted
};

// The mounts of the v2 hierarchy (`v2`) or of the v1 one with the cpu
// controller. A line reads "id parent dev root point options [tags] - type
// source superoptions".
std::vector<Mount> CgroupMounts(std::string_view mountinfo, bool v2) {
  std::vector<Mount> mounts;
  ForEachLine(mountinfo, [&](std::string_view line) {
    const auto fields = Split(line, ' ');
    const auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
    if (dash - fields.begin() < 6 || fields.end() - dash < 4) return;
    const std::string_view type = dash[1];
    const bool wanted = v2 ? type == "cgroup2" : (type == "cgroup" && Lists(dash[3], "cpu"));
    if (!wanted) return;
    auto root = Clean(Unescaped(fields[3]));
    const std::string point = Unescaped(fields[4]);
    if (root && !point.empty() && point.front() == '/') mounts.push_back({std::move(*root), point});
  });
  return mounts;
}

// The folder of `group` (a path relative to the hierarchy's root) under the
// mount that shows the most of the hierarchy above it, as the mount point
// and the group's path below it; nullopt when no mount shows the group.
std::optional<std::pair<std::string, std::string>> Locate(const std::vector<Mount>& mounts, std::string_view group) {
  const auto path = Clean(group);
  if (!path) return std::nullopt;
  const Mount* best = nullptr;
  for (const Mount& mount : mounts) {
    const bool shows = mount.Root.empty() || *path == mount.Root ||
                       (path->starts_with(mount.Root) && (*path)[mount.Root.size()] == '/');
    if (shows && (best == nullptr || mount.Root.size() < best->Root.size())) best = &mount;
  }
  if (best == nullptr) return std::nullopt;
  return std::pair(best->Point, path->substr(best->Root.size()));
}

std::optional<long long> Number(std::string_view text) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The words of a quota file, split at white space.
std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  for (std::size_t at = 0; at < text.size();) {
    if (std::isspace(static_cast<unsigned char>(text[at]))) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
    words.push_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

// Whole processors for `quota` per `period`, rounded up; 0 for none.
unsigned Processors(std::optional<long long> quota, std::optional<long long> period) {
  if (!quota || !period || *quota <= 0 || *period <= 0) return 0;
  const long long count = *quota / *period + (*quota % *period != 0 ? 1 : 0);
  return static_cast<unsigned>(std::min<long long>(count, UINT_MAX));
}

unsigned QuotaV2(const std::string& folder) {
  const std::string text = ReadSmall(folder + "/cpu.max", kQuotaLimit);
  const auto words = Words(text);
  if (words.size() != 2 || words[0] == "max") return 0;
  return Processors(Number(words[0]), Number(words[1]));
}

unsigned QuotaV1(const std::string& folder) {
  const auto single = [&](const char* name) -> std::optional<long long> {
    const std::string text = ReadSmall(folder + name, kQuotaLimit);
    const auto words = Words(text);
    if (words.size() != 1) return std::nullopt;
    return Number(words[0]);
  };
  const auto quota = single("/cpu.cfs_quota_us");
  return quota && *quota > 0 ? Processors(quota, single("/cpu.cfs_period_us")) : 0;
}

// The smallest quota from the group's folder up to the mount point.
unsigned SmallestUp(const std::string& root, const std::vector<Mount>& mounts, std::string_view group,
                    unsigned (*quotaIn)(const std::string&)) {
  const auto place = Locate(mounts, group);
  if (!place) return 0;
  unsigned smallest = 0;
  for (std::string below = place->second;; below.erase(below.rfind('/'))) {
    const unsigned here = quotaIn(root + place->first + below);
    if (here > 0 && (smallest == 0 || here < smallest)) smallest = here;
    if (below.empty()) break;
  }
  return smallest;
}

}  // namespace

unsigned CgroupCpuQuota(std::string_view cgroup, std::string_view mountinfo, const std::string& root) noexcept {
  try {
    // Lines read "id:controllers:path"; v2's is "0::path".
    std::optional<std::string_view> v1Group, v2Group;
    ForEachLine(cgroup, [&](std::string_view line) {
      const auto first = line.find(':');
      const auto second = first == std::string_view::npos ? first : line.find(':', first + 1);
      if (second == std::string_view::npos) return;
      const std::string_view id = line.substr(0, first), controllers = line.substr(first + 1, second - first - 1);
      const std::string_view path = line.substr(second + 1);
      if (id == "0" && controllers.empty()) {
        if (!v2Group) v2Group = path;
      } else if (Lists(controllers, "cpu") && !v1Group) {
        v1Group = path;
      }
    });
    unsigned v1 = 0, v2 = 0;
    if (v1Group) v1 = SmallestUp(root, CgroupMounts(mountinfo, false), *v1Group, QuotaV1);
    if (v2Group) v2 = SmallestUp(root, CgroupMounts(mountinfo, true), *v2Group, QuotaV2);
    return v1 == 0 || (v2 != 0 && v2 < v1) ? v2 : v1;
  } catch (...) {
    return 0;  // no memory: no quota
  }
}

unsigned CgroupCpuQuota() noexcept {
  try {
    return CgroupCpuQuota(ReadSmall("/proc/self/cgroup", kProcLimit), ReadSmall("/proc/self/mountinfo", kProcLimit),
                          "");
  } catch (...) {
    return 0;
  }
}

}  // namespace qm::io
