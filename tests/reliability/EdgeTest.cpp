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

// The child of a fork exits with the parent's file half written: it must not
// hang, and the parent's file must hold the parent's lines, each once.
TEST(ProcessEdges, ChildAfterForkLeavesTheParentsFilesAlone) {
  qm::test::ScratchDir scratch;
  const Outcome run = RunScenario("fork-numbered", scratch);
  ASSERT_EQ(run.Status, 0) << run.Output;
  const std::string text = ReadFile((scratch.Path() / "numbered.txt").string());
  EXPECT_EQ(Count(text, std::string(100, 'p') + "\r\n"), 30000u);
  EXPECT_EQ(Count(text, "last\r\n"), 10u);
  EXPECT_EQ(text.size(), 30000u * 102 + 10 * 6);

  qm::test::ScratchDir other;
  const Outcome closed = RunScenario("fork-close", other);
  ASSERT_EQ(closed.Status, 0) << closed.Output;
  EXPECT_NE(closed.Output.find("75 "), std::string::npos) << closed.Output;
  EXPECT_NE(closed.Output.find("forked"), std::string::npos) << closed.Output;
  EXPECT_EQ(ReadFile((other.Path() / "closed-in-child.txt").string()), "from the parent\r\n");

  qm::test::ScratchDir third;
  const Outcome appended = RunScenario("fork-append", third);
  ASSERT_EQ(appended.Status, 0) << appended.Output;
  const std::string appendedText = ReadFile((third.Path() / "appended.txt").string());
  EXPECT_EQ(Count(appendedText, "parent\r\n"), 100u);
  EXPECT_EQ(Count(appendedText, "child"), 0u);
}

}  // namespace
