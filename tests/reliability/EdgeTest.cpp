// Runs the scenarios of EdgeChild, each in a process of its own with a
// private temporary folder (where the log goes) and settings store, under a
// time limit: a hang shows as a failure, not as a stuck test run.

#include <gtest/gtest.h>

#include <string>

#include "support/TestEnvironment.h"

namespace {

using qm::test::ReadFile;

struct Outcome {
  int Status = -1;  // the exit status; 137 when killed at the time limit
  std::string Output;
};

Outcome RunScenario(const std::string& scenario, const qm::test::ScratchDir& scratch) {
  const std::string folder = scratch.Path().string();
  const std::string command = "cd '" + folder + "' && TEMP='" + folder + "' XDG_CONFIG_HOME='" + folder +
                              "/config' timeout -s KILL 60 '" QM_EDGE_CHILD "' " + scenario + " '" + folder +
                              "' 2>&1; echo \"status=$?\"";
  Outcome outcome;
  outcome.Output = qm::test::Output(command);
  const auto at = outcome.Output.rfind("status=");
  if (at != std::string::npos) outcome.Status = std::stoi(outcome.Output.substr(at + 7));
  return outcome;
}

std::size_t Count(const std::string& text, const std::string& piece) {
  std::size_t n = 0;
  for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

TEST(ProcessEdges, LoggingWorksFromStaticDestructorsAndThreadsAtExit) {
  for (int round = 0; round < 5; ++round) {
    qm::test::ScratchDir scratch;
    const Outcome run = RunScenario("exit-log", scratch);
    ASSERT_EQ(run.Status, 0) << run.Output;
    const std::string log = ReadFile((scratch.Path() / "lib.log").string());
    EXPECT_EQ(Count(log, "written by main"), 1u);
    EXPECT_EQ(Count(log, "written by a static destructor"), 1u);
  }
}

// A child of a fork that writes to or closes the parent's numbered files
// gets 75 and writes nothing; the parent's files hold its lines, each once.
TEST(ProcessEdges, ChildAfterForkLeavesTheParentsFilesAlone) {
  qm::test::ScratchDir scratch;
  const Outcome run = RunScenario("fork-child-calls", scratch);
  ASSERT_EQ(run.Status, 0) << run.Output;
  EXPECT_NE(run.Output.find("75 "), std::string::npos) << run.Output;
  EXPECT_NE(run.Output.find("forked"), std::string::npos) << run.Output;
  EXPECT_EQ(ReadFile((scratch.Path() / "closed-in-child.txt").string()), "from the parent\r\n");
  const std::string appended = ReadFile((scratch.Path() / "appended.txt").string());
  EXPECT_EQ(Count(appended, "parent\r\n"), 100u);
  EXPECT_EQ(Count(appended, "child"), 0u);
}

}  // namespace
