// Kills each whole-file writer with SIGKILL at random moments while it writes
// a large output (at least 30 times, and until a few kills landed while a
// temporary existed), and checks after every kill that each output is byte
// for byte its old content or its new one, with at most one hidden temporary
// left beside it, which the next complete write removes.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/TestEnvironment.h"

extern char** environ;

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using qm::test::ReadFile;

constexpr int kKills = 30;
// Kills go on (up to kMaxKills) until this many landed inside a write.
constexpr int kInsideWrites = 3;
constexpr int kMaxKills = 150;

struct Writer {
  // The command for a variant (0 or 1), run in the scratch folder.
  std::function<std::vector<std::string>(int)> Command;
  // The outputs, relative to the scratch folder.
  std::vector<std::string> Outputs;
  // Whether the command says "go" when its write starts (otherwise the
  // write starts with the process).
  bool SaysGo = true;
  // Run before each start, to put the old content in place (for a command
  // that rewrites its own input).
  std::function<void(int)> Prepare;
  // Whether two complete outputs are the same (byte for byte by default).
  std::function<bool(const std::string&, const std::string&)> Same = std::equal_to<std::string>();
};

class Child {
 public:
  Child(const std::vector<std::string>& command, const fs::path& folder, bool saysGo) {
    int pipe[2];
    if (::pipe(pipe) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipe[0]);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    std::vector<char*> argv;
    for (const auto& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    out_ = pipe[0];
    if (spawned != 0) throw std::runtime_error("cannot start " + command[0]);
    if (saysGo) {
      std::string said;
      char c;
      while (said.find("go\n") == std::string::npos && ::read(out_, &c, 1) == 1) said += c;
    }
    started_ = Clock::now();
  }
  ~Child() {
    if (pid_ > 0) Kill();
    ::close(out_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Waits for the end; the exit status and the time since the write started.
  std::pair<int, Clock::duration> Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Clock::now() - started_};
  }
  void KillAfter(Clock::duration delay) {
    std::this_thread::sleep_until(started_ + delay);
    Kill();
  }

 private:
  void Kill() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  pid_t pid_ = -1;
  int out_ = -1;
  Clock::time_point started_;
};

// The hidden temporaries beside an output.
std::vector<fs::path> Temporaries(const fs::path& output) {
  std::vector<fs::path> found;
  const std::string prefix = "." + output.filename().string() + ".~qm";
  for (const auto& entry : fs::directory_iterator(output.parent_path()))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) found.push_back(entry.path());
  return found;
}

// Kills the writer again and again and checks the outputs after each kill.
void Torture(const Writer& writer, const fs::path& dir) {
  auto start = [&](int variant) {
    if (writer.Prepare) writer.Prepare(variant);
    return std::make_unique<Child>(writer.Command(variant), dir, writer.SaysGo);
  };

  // Complete runs give each variant's outputs and how long a write takes.
  std::map<int, std::vector<std::string>> expected;
  std::vector<Clock::duration> took;
  for (int variant : {0, 1, 0, 1}) {
    const auto [status, duration] = start(variant)->Wait();
    ASSERT_EQ(status, 0) << "variant " << variant;
    took.push_back(duration);
    expected[variant].clear();
    for (const auto& output : writer.Outputs) expected[variant].push_back(ReadFile((dir / output).string()));
  }
  ASSERT_FALSE(writer.Same(expected[0][0], expected[1][0]));

  // Kills fall anywhere up to a typical write's end (some land later still,
  // as the test wakes late on a busy machine).
  std::sort(took.begin(), took.end());
  const auto typical = std::chrono::duration_cast<std::chrono::microseconds>(took[took.size() / 2]);
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<long long> moment(0, typical.count());
  int caught = 0;
  int completed = 0;
  int kill = 0;
  for (; kill < kKills || (caught < kInsideWrites && kill < kMaxKills); ++kill) {
    const int variant = kill % 2;
    if (writer.Prepare) writer.Prepare(variant);
    std::vector<std::string> old;
    for (const auto& output : writer.Outputs) old.push_back(ReadFile((dir / output).string()));
    Child child(writer.Command(variant), dir, writer.SaysGo);
    child.KillAfter(std::chrono::microseconds(moment(random)));

    bool allNew = true;
    bool leftover = false;
    for (std::size_t i = 0; i < writer.Outputs.size(); ++i) {
      const fs::path output = dir / writer.Outputs[i];
      const std::string now = ReadFile(output.string());
      const bool isOld = now == old[i];
      const bool isNew = !isOld && writer.Same(now, expected[variant][i]);
      EXPECT_TRUE(isOld || isNew) << writer.Outputs[i] << " is torn after kill " << kill << ": " << now.size()
                                  << " bytes, old " << old[i].size() << ", new " << expected[variant][i].size();
      allNew = allNew && isNew;
      const auto temporaries = Temporaries(output);
      EXPECT_LE(temporaries.size(), 1u) << writer.Outputs[i] << " after kill " << kill;
      leftover = leftover || !temporaries.empty();
    }
    caught += leftover ? 1 : 0;
    completed += allNew ? 1 : 0;
  }
  std::printf("write %.0f ms; %d kills: %d caught while a temporary existed, %d after the new content was in place\n",
              static_cast<double>(typical.count()) / 1000, kill, caught, completed);
  EXPECT_GE(caught, kInsideWrites) << "too few kills landed inside a write: the outputs are too small to prove anything";

  // A complete write puts the content in place and removes every leftover.
  EXPECT_EQ(start(0)->Wait().first, 0);
  for (std::size_t i = 0; i < writer.Outputs.size(); ++i) {
    const fs::path output = dir / writer.Outputs[i];
    EXPECT_TRUE(writer.Same(ReadFile(output.string()), expected[0][i])) << writer.Outputs[i];
    EXPECT_TRUE(Temporaries(output).empty()) << writer.Outputs[i];
  }
}

// A writer of the library, run by the helper.
void Torture(const std::string& name, std::vector<std::string> outputs) {
  Writer writer;
  writer.Command = [name](int variant) {
    return std::vector<std::string>{QM_CRASH_WRITER, name, std::to_string(variant), "."};
  };
  writer.Outputs = std::move(outputs);
  const qm::test::ScratchDir scratch;
  Torture(writer, scratch.Path());
}

// The members of a zip archive, by name; nothing when it is not a whole archive.
std::optional<std::map<std::string, std::string>> Members(const std::string& bytes) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  zip_t* archive = source ? zip_open_from_source(source, ZIP_CHECKCONS | ZIP_RDONLY, &error) : nullptr;
  zip_error_fini(&error);
  if (!archive) {
    if (source) zip_source_free(source);
    return std::nullopt;
  }
  std::optional<std::map<std::string, std::string>> members(std::in_place);
  for (zip_int64_t i = 0; members && i < zip_get_num_entries(archive, 0); ++i) {
    zip_stat_t info;
    zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
    std::string content;
    if (file && zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &info) == 0) {
      content.resize(info.size);
      if (zip_fread(file, content.data(), info.size) == static_cast<zip_int64_t>(info.size)) (*members)[info.name] = content;
      else members.reset();
    } else {
      members.reset();
    }
    if (file) zip_fclose(file);
  }
  zip_discard(archive);
  return members;
}

// Two workbooks hold the same table: whole archives with the same members
// and the same content, except the members that carry the time of writing
// and the sheet's name (the name of a scratch file).
bool SameWorkbook(const std::string& a, const std::string& b) {
  auto first = Members(a);
  auto second = Members(b);
  if (!first || !second) return false;
  for (const char* varying : {"docProps/core.xml", "docProps/app.xml", "xl/workbook.xml"}) {
    if (!first->count(varying) || !second->count(varying)) return false;
    first->erase(varying);
    second->erase(varying);
  }
  return *first == *second;
}

// A writer of the command-line tool, with the helper's inputs in `dir`.
Writer Tool(std::function<std::vector<std::string>(int)> command, std::vector<std::string> outputs,
            const fs::path& dir) {
  for (int variant : {0, 1}) {
    Child child({QM_CRASH_WRITER, "tool-inputs", std::to_string(variant), "."}, dir, false);
    if (child.Wait().first != 0) throw std::runtime_error("no inputs for the tool");
  }
  Writer writer;
  writer.Command = std::move(command);
  writer.Outputs = std::move(outputs);
  writer.SaysGo = false;
  return writer;
}

}  // namespace

TEST(CrashTest, CompressedFileContainer) { Torture("compress", {"out.z"}); }
TEST(CrashTest, DecompressedOutput) { Torture("decompress", {"out.txt"}); }
TEST(CrashTest, XmlSaveFile) { Torture("xml", {"out.xml"}); }
TEST(CrashTest, TextStreamForWriting) { Torture("records", {"out.txt"}); }
TEST(CrashTest, HtmlPageAndPicture) { Torture("page", {"site/page.html", "site/picture.bmp"}); }
TEST(CrashTest, TypographerReport) { Torture("report", {"report.html"}); }
TEST(CrashTest, OleStreamCopy) { Torture("ole", {"out.bin"}); }
TEST(CrashTest, JpegOutput) { Torture("jpeg", {"out.jpg"}); }

#ifdef QM_CLI
// The tool rewrites the user's own file in place: each start finds the
// variant's source there, and a kill must leave it or the saved form.
TEST(CrashTest, ToolXmlCheckInPlace) {
  const qm::test::ScratchDir scratch;
  const fs::path dir = scratch.Path();
  Writer writer = Tool([](int) { return std::vector<std::string>{QM_CLI, "xml-check", "doc.xml"}; }, {"doc.xml"}, dir);
  writer.Prepare = [dir](int variant) {
    qm::test::WriteFile((dir / "doc.xml").string(), ReadFile((dir / ("source" + std::to_string(variant) + ".xml")).string()));
  };
  Torture(writer, dir);
}

// Two archives hold the same parts: the boundary, made from the time of
// writing, aside.
bool SameArchive(std::string a, std::string b) {
  for (std::string* text : {&a, &b}) {
    const std::string marker = "----=_QMLib_";
    for (std::size_t at = text->find(marker); at != std::string::npos; at = text->find(marker, at + marker.size())) {
      std::size_t end = at + marker.size();
      while (end < text->size() && (std::isdigit(static_cast<unsigned char>((*text)[end])) || (*text)[end] == '.')) ++end;
      text->erase(at + marker.size(), end - at - marker.size());
    }
  }
  return a == b;
}

TEST(CrashTest, ToolMhtArchive) {
  const qm::test::ScratchDir scratch;
  Writer writer = Tool(
      [](int variant) {
        return std::vector<std::string>{QM_CLI, "mht", "page" + std::to_string(variant) + ".html", "out.mht"};
      },
      {"out.mht"}, scratch.Path());
  writer.Same = SameArchive;
  Torture(writer, scratch.Path());
}

TEST(CrashTest, ToolWorkbook) {
  const qm::test::ScratchDir scratch;
  Writer writer = Tool(
      [](int variant) {
        return std::vector<std::string>{QM_CLI, "export-tsv", "table" + std::to_string(variant) + ".tsv", "out.xlsx"};
      },
      {"out.xlsx"}, scratch.Path());
  writer.Same = SameWorkbook;
  Torture(writer, scratch.Path());
}
#endif
