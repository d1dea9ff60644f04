#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "quillmark/utility/Utility.h"
#include "support/StubDesktop.h"
#include "support/TestEnvironment.h"

namespace {

// The first line a shell command writes.
std::string CommandOutput(const std::string& command) {
  const std::string out = qm::test::Output(command);
  return out.substr(0, out.find('\n'));
}

// A desktop that only counts how often its events are pumped.
class CountingDesktop final : public qm::test::StubDesktop {
 public:
  explicit CountingDesktop(int& pumps) : pumps_(pumps) {}
  void DoEvents() override { ++pumps_; }

 private:
  int& pumps_;
};

}  // namespace

TEST(UtilityProcesses, RunningProcessesIncludeThisOneAndTheUsersIdentity) {
  qm::Utility u;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const qm::Variant list = u.GetRunningProcesses();
  ASSERT_TRUE(list.IsArray());
  EXPECT_EQ(list.Array().LBound(), 0);
  int found = 0;
  for (const auto& path : list.Array().Data()) {
    EXPECT_TRUE(path.String().starts_with("/")) << path.String();
    found += path.String() == self;
  }
  EXPECT_GE(found, 1) << self;

  EXPECT_EQ(u.GetWindowsUserName(), CommandOutput("id -un"));
  const std::string domain = u.GetWindowsNTDomain();
  EXPECT_FALSE(domain.empty());
  const std::string nis = CommandOutput("domainname 2>/dev/null");
  EXPECT_EQ(domain, nis.empty() || nis == "(none)" ? CommandOutput("hostname") : nis);
}

TEST(UtilityProcesses, ExecuteAndWaitWaitsForTheProgram) {
  qm::Utility u;
  qm::test::ScratchDir dir;
  const std::string marker = dir / "done file";
  u.ExecuteAndWait("sh -c \"sleep 0.1; echo ok > '" + marker + "'\"");
  EXPECT_EQ(qm::test::ReadFile(marker), "ok\n");  // the program has ended when the call returns
  EXPECT_NO_THROW(u.ExecuteAndWait("no-such-program-anywhere --flag"));
  EXPECT_NO_THROW(u.ExecuteAndWait("   "));
}

TEST(UtilityProcesses, DoEventsWaitPumpsWhileItWaits) {
  qm::Utility u;
  int pumps = 0;
  qm::test::DesktopScope<CountingDesktop> desktop(pumps);
  u.DoEventsWait(0);
  EXPECT_EQ(pumps, 1);
  pumps = 0;
  const auto start = std::chrono::steady_clock::now();
  u.DoEventsWait(60);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(60));
  EXPECT_GE(pumps, 3);
  EXPECT_NO_THROW(u.DoEventsWait(-5));
}
