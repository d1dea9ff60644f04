// The edges of a process's life. EdgeChild runs in a process of its own with
// a private temporary folder (where the log goes) and settings store, under a
// time limit: a hang shows as a failure, not as a stuck test run. And the
// library's helper threads, seen from outside.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "quillmark/compression/Compress.h"
#include "quillmark/compression/ZipFiles.h"
#include "quillmark/runtime/TextStream.h"
#include "support/TestEnvironment.h"

namespace {

TEST(ProcessEdges, LoggingWorksFromStaticDestructorsAndThreadsAtExit) {
  for (int round = 0; round < 5; ++round) {
    qm::test::ScratchDir scratch;
    const std::string folder = scratch.Path().string();
    const std::string output =
        qm::test::Output("cd '" + folder + "' && TEMP='" + folder + "' XDG_CONFIG_HOME='" + folder +
                         "/config' timeout -s KILL 60 '" QM_EDGE_CHILD "' 2>&1; echo \"status=$?\"");
    ASSERT_TRUE(output.ends_with("status=0\n")) << output;  // 137 when killed at the time limit
    const std::string log = qm::test::ReadFile((scratch.Path() / "lib.log").string());
    for (const std::string line : {"written by main", "written by a static destructor"})  // once each
      EXPECT_TRUE(log.find(line) != std::string::npos && log.find(line) == log.rfind(line)) << line << " in\n" << log;
  }
}

// The threads the library works on, seen from outside: while and after jobs that hand
// work to helpers (a text file written as a whole, a compressed container,
// a zip archive), every thread of the process other than the test's own has
// the application's signals blocked, and their number stays within the
// library's pool (at most 8) however many jobs ran.

std::set<std::string> Threads() {
  std::set<std::string> ids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ids.insert(entry.path().filename());
  return ids;
}

// Looked at while the helpers work (from the jobs' progress reports) and
// after the jobs: every thread the test did not start must have the
// application's signals blocked (in its SigBlk mask); they are counted.
TEST(HelperThreads, BlockTheApplicationsSignalsAndStayWithinThePool) {
  const std::set<std::string> before = Threads();
  std::size_t most = 0;
  int unblocked = 0;
  const qm::Progress look = [&](std::uint64_t, std::uint64_t) {
    std::size_t added = 0;
    for (const std::string& thread : Threads()) {
      if (before.count(thread)) continue;
      ++added;
      std::ifstream status("/proc/self/task/" + thread + "/status");
      std::uint64_t mask = 0;
      for (std::string line; std::getline(status, line);)
        if (line.starts_with("SigBlk:")) mask = std::stoull(line.substr(7), nullptr, 16);
      for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGCHLD, SIGWINCH})
        unblocked += (mask >> (signal - 1) & 1) == 0 ? 1 : 0;
    }
    most = std::max(most, added);
  };
  qm::test::ScratchDir scratch;
  const std::string big(1 << 20, 'x');
  std::vector<std::filesystem::path> members;
  for (int round = 0; round < 12; ++round) {
    const auto text = scratch.Path() / ("text" + std::to_string(round) + ".txt");
    auto stream = qm::TextStream::Open(text.string(), qm::IOMode::ForWriting);
    for (int i = 0; i < 6; ++i) stream->WriteLine(big);
    stream->Close();
    members.push_back(text);
    if (round % 4 == 3) {
      ASSERT_EQ(qm::Compress().CompressFile(text.string(), scratch / "packed.bin", qm::COM_DEFAULT_COMPRESSION, look),
                0);
      EXPECT_TRUE(qm::ZipFiles(scratch.Path() / "all.zip", members, look).Complete());
    }
  }
  look(0, 0);
  EXPECT_EQ(unblocked, 0);
  EXPECT_LE(most, 8u);
}

}  // namespace
