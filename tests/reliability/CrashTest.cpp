// SIGKILLs each whole-file writer at random moments mid-write (30+ times, until
// a few kills land while a temporary exists); after every kill each output must
// be its old or its new content, and the kill may have left at most one new
// hidden name beside it. A temporary without a name (O_TMPFILE) vanishes with
// the writer; only a kill between its link and its rename, or one during a
// write through a named temporary (for libraries that write to a named file),
// leaves a name, which stays: nothing removes another writer's files. A
// complete write adds no name.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string_view>
#include <thread>

#include "reliability/Jobs.h"

namespace {
using namespace qm::test;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kKills = 30;
// Kills go on (up to kMaxKills) until this many landed inside a write.
constexpr int kInsideWrites = 3;
constexpr int kMaxKills = 300;

constexpr int kScale = 18;  // outputs of one or two megabytes

// The writer, started through the shell, which tells its process id first
// and then becomes the writer.
struct Child {
  Child(const std::string& command, const fs::path& folder, bool saysGo) {
    out_ = ::popen(("cd '" + folder.string() + "' && echo $$ && exec " + command).c_str(), "r");
    if (!out_ || std::fscanf(out_, "%d", &pid_) != 1) throw std::runtime_error("cannot start " + command);
    for (char word[8]; saysGo && std::fscanf(out_, "%7s", word) == 1 && std::string_view(word) != "go";) {}
    started_ = Clock::now();
  }
  ~Child() {
    if (pid_ > 0) KillAfter();
    ::pclose(out_);  // the child is reaped already
  }

  // Waits for the end; the exit status and the time since the write started.
  std::pair<int, Clock::duration> Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Clock::now() - started_};
  }
  // Stops the child after `delay`, notes the files without a name it has
  // open, and kills it.
  void KillAfter(Clock::duration delay = {}) {
    std::this_thread::sleep_until(started_ + delay);
    ::kill(pid_, SIGSTOP);
    int status = 0;
    Unnamed.clear();
    if (::waitpid(pid_, &status, WUNTRACED) != pid_ || !WIFSTOPPED(status)) {
      pid_ = -1;  // it had ended already (and is reaped)
      return;
    }
    const fs::path fds = "/proc/" + std::to_string(pid_) + "/fd";
    for (const auto& fd : fs::directory_iterator(fds)) {
      std::error_code readError;
      const fs::path target = fs::read_symlink(fd.path(), readError);
      // A file opened with O_TMPFILE reads "FOLDER/#INODE (deleted)".
      if (!readError && target.string().ends_with(" (deleted)") && target.filename().string().starts_with('#'))
        Unnamed.push_back(target.parent_path());
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
  Clock::time_point started_;
  std::vector<fs::path> Unnamed;  // the folders of the files without a name the child had open when killed
};

// The number of hidden names of temporaries beside each output.
std::vector<std::size_t> Temporaries(const Job& job, const fs::path& dir) {
  std::vector<std::size_t> counts;
  for (const auto& output : job.Outputs) {
    const std::string prefix = "." + fs::path(output).filename().string() + ".~qm";
    counts.push_back(std::count_if(fs::directory_iterator((dir / output).parent_path()), {}, [&](const auto& entry) {
      return entry.path().filename().string().starts_with(prefix);
    }));
  }
  return counts;
}

// Kills the job's writer again and again and checks the outputs after each kill.
void Torture(const std::string& name) {
  const auto jobs = Jobs(kCrash);
  const auto& job = *std::find_if(jobs.begin(), jobs.end(), [&](const auto& j) { return j.Name == name; });
  const ScratchDir scratch;
  const fs::path& dir = scratch.Path();
  const auto contents = [&] { return Outputs(job, dir); };
  // Each variant's inputs, made once in a folder of their own (making a
  // container takes longer than the write).
  for (int variant : {0, 1}) {
    fs::create_directory(dir / ("in" + std::to_string(variant)));
    if (job.Make) job.Make({dir / ("in" + std::to_string(variant)), dir, kScale, variant});
  }
  // Puts the variant's inputs in place (the tool's own file, which it
  // rewrites in place, among them) and starts the job's writer: the helper,
  // or the tool (whose last word is its output), which starts writing with
  // the process.
  const auto start = [&](int variant, std::vector<std::string>* old = nullptr) {
    fs::copy(dir / ("in" + std::to_string(variant)), dir,
             fs::copy_options::overwrite_existing | fs::copy_options::recursive);
    Ready(job, {dir, dir, kScale, variant}, false);
    if (old) *old = contents();
    std::string command = QM_CRASH_WRITER " '" + name + "' " + std::to_string(variant) + " " + std::to_string(kScale);
#ifdef QM_CLI
    if (!job.Tool.empty()) command = QM_CLI;
    for (const std::string& word : job.Tool) command += " " + word;
#endif
    return std::make_unique<Child>(command, dir, job.Tool.empty());
  };

  // Complete runs give each variant's outputs and how long a write takes.
  std::vector<std::string> expected[2];
  std::vector<Clock::duration> took;
  for (int variant : {0, 1, 0, 1}) {
    const auto [status, duration] = start(variant)->Wait();
    ASSERT_EQ(status, 0) << "variant " << variant;
    took.push_back(duration);
    expected[variant] = contents();
  }
  ASSERT_FALSE(job.Same(expected[0][0], expected[1][0]));

  // Kills fall anywhere up to a typical write's end (some land later still,
  // as the test wakes late on a busy machine); every other pair of kills falls
  // in its last fifth, where writers that work before they write (a tool
  // that parses its input first, slower still under a sanitizer) have their
  // temporary.
  std::sort(took.begin(), took.end());
  const auto typical = std::chrono::duration_cast<std::chrono::microseconds>(took[took.size() / 2]);
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<long long> moment(0, typical.count()), late(typical.count() * 4 / 5, typical.count());
  const fs::path canonicalDir = fs::canonical(dir);
  int caught = 0, leftovers = 0, kill = 0;
  for (; kill < kKills || (caught < kInsideWrites && kill < kMaxKills); ++kill) {
    const int variant = kill % 2;
    const std::vector<std::size_t> before = Temporaries(job, dir);
    std::vector<std::string> old;
    const auto child = start(variant, &old);
    child->KillAfter(std::chrono::microseconds((kill / 2) % 2 ? late(random) : moment(random)));

    // A temporary existed at the kill: one without a name open in an
    // output's folder, or a new hidden name beside an output.
    const std::vector<std::string> now = contents();
    const std::vector<std::size_t> after = Temporaries(job, dir);
    bool inside = false;
    for (std::size_t i = 0; i < job.Outputs.size(); ++i) {
      EXPECT_TRUE(now[i] == old[i] || job.Same(now[i], expected[variant][i]))
          << job.Outputs[i] << " is torn after kill " << kill << ": " << now[i].size() << " bytes, old "
          << old[i].size() << ", new " << expected[variant][i].size();
      EXPECT_LE(after[i], before[i] + 1) << job.Outputs[i] << " after kill " << kill;
      leftovers += after[i] > before[i] ? 1 : 0;
      const fs::path folder = (canonicalDir / job.Outputs[i]).parent_path();
      inside = inside || after[i] > before[i] || std::count(child->Unnamed.begin(), child->Unnamed.end(), folder);
    }
    caught += inside ? 1 : 0;
  }
  std::printf("write %.0f ms; %d kills, %d while a temporary existed, %d left a hidden name\n",
              static_cast<double>(typical.count()) / 1000, kill, caught, leftovers);
  EXPECT_GE(caught, kInsideWrites)
      << "too few kills landed inside a write: the outputs are too small to prove anything";

  // A complete write puts the content in place and leaves no name of its own
  // (the names killed writers left stay: nothing removes another's files).
  const std::vector<std::size_t> before = Temporaries(job, dir);
  EXPECT_EQ(start(0)->Wait().first, 0);
  const std::vector<std::string> now = contents();
  for (std::size_t i = 0; i < job.Outputs.size(); ++i) EXPECT_TRUE(job.Same(now[i], expected[0][i])) << job.Outputs[i];
  EXPECT_EQ(Temporaries(job, dir), before);
}

}  // namespace

TEST(CrashTest, CompressedFileContainer) { Torture("Compress.CompressFile"); }
TEST(CrashTest, DecompressedOutput) { Torture("Compress.DecompressFile"); }
TEST(CrashTest, XmlSaveFile) { Torture("XML.SaveFile"); }
TEST(CrashTest, TextStreamForWriting) { Torture("TextStream"); }
TEST(CrashTest, HtmlPageAndPicture) { Torture("HTMLDoc.SaveAs"); }
TEST(CrashTest, OleStreamCopy) { Torture("OLEStreamWriter"); }
TEST(CrashTest, JpegOutput) { Torture("SaveJPG"); }
#ifdef QM_CLI
TEST(CrashTest, ToolXmlCheckInPlace) { Torture("tool xml-check"); }
TEST(CrashTest, ToolMhtArchive) { Torture("tool mht"); }
TEST(CrashTest, ToolWorkbook) { Torture("tool export-tsv"); }
#endif
