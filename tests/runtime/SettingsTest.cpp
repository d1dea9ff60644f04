#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "quillmark/runtime/Settings.h"

namespace {

TEST(Settings, ReadWriteDeleteKeysAndSections) {
  EXPECT_EQ(qm::GetSetting("App", "Sec", "Key", "default"), "default");
  qm::SaveSetting("App", "Sec", "Key", "v1");
  qm::SaveSetting("App", "Sec", "Key", "v2");
  qm::SaveSetting("App", "Sec", "Other", "o");
  qm::SaveSetting("App", "Sec2", "Key", "x");
  EXPECT_EQ(qm::GetSetting("App", "Sec", "Key"), "v2");
  EXPECT_EQ(qm::GetSetting("app", "Sec", "Key", "-"), "-");
  qm::DeleteSetting("App", "Sec", "Key");
  EXPECT_EQ(qm::GetSetting("App", "Sec", "Key", "gone"), "gone");
  EXPECT_EQ(qm::GetSetting("App", "Sec", "Other"), "o");
  qm::DeleteSetting("App", "Sec");
  EXPECT_EQ(qm::GetSetting("App", "Sec", "Other", "gone"), "gone");
  EXPECT_EQ(qm::GetSetting("App", "Sec2", "Key"), "x");
  const std::string odd = std::string("quote ' and \0 nul", 17);
  qm::SaveSetting("App", odd, odd, odd);
  EXPECT_EQ(qm::GetSetting("App", odd, odd), odd);
}

TEST(Settings, ConcurrentProcessesKeepEveryWrite) {
  qm::SaveSetting("Conc", "warm", "up", "1");  // the parent's connection must not disturb the children
  constexpr int kProcesses = 4, kKeys = 200;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int status = 0;
      try {
        for (int k = 0; k < kKeys; ++k)
          qm::SaveSetting("Conc", "p" + std::to_string(p), "k" + std::to_string(k), std::to_string(p * 1000 + k));
      } catch (...) {
        status = 1;
      }
      _exit(status);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int p = 0; p < kProcesses; ++p)
    for (int k = 0; k < kKeys; ++k)
      ASSERT_EQ(qm::GetSetting("Conc", "p" + std::to_string(p), "k" + std::to_string(k)),
                std::to_string(p * 1000 + k));
}

TEST(Settings, StoreSurvivesAWriterKilledMidWrite) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    for (int k = 0;; ++k) qm::SaveSetting("Kill", "s", "k" + std::to_string(k), std::string(500, 'v'));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(qm::GetSetting("Kill", "s", "k0"), std::string(500, 'v'));
  qm::SaveSetting("Kill", "after", "k", "written");
  EXPECT_EQ(qm::GetSetting("Kill", "after", "k"), "written");
  qm::DeleteSetting("Kill", "s");
}

// Runs `body` in a child process; true when it returned true.
template <class Body>
bool InChild(Body body) {
  const pid_t pid = fork();
  if (pid == 0) {
    bool ok = false;
    try {
      ok = body();
    } catch (...) {
    }
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(Settings, FollowsTheStoreWhenItMovesOrIsCreatedAnew) {
  namespace fs = std::filesystem;
  const char* was = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = was ? was : "";
  const fs::path root = fs::temp_directory_path() / ("qm-settings-move-" + std::to_string(getpid()));
  fs::remove_all(root);
  setenv("XDG_CONFIG_HOME", (root / "a").c_str(), 1);
  qm::SettingsWatch watch;
  EXPECT_TRUE(watch.Changed());
  qm::SaveSetting("Move", "s", "k", "in a");
  EXPECT_TRUE(watch.Changed());
  EXPECT_FALSE(watch.Changed());

  // Another folder: the watch answers at once and the reads go there.
  setenv("XDG_CONFIG_HOME", (root / "b").c_str(), 1);
  EXPECT_TRUE(watch.Changed());
  EXPECT_EQ(qm::GetSetting("Move", "s", "k", "none"), "none");
  qm::SaveSetting("Move", "s", "k", "in b");

  // Another process deletes the database and creates it anew.
  const std::string path = qm::SettingsStorePath();
  EXPECT_TRUE(InChild([&] {
    for (const char* part : {"", "-wal", "-shm"}) fs::remove(path + part);
    qm::SaveSetting("Move", "s", "k", "new b");
    return true;
  }));
  EXPECT_EQ(qm::GetSetting("Move", "s", "k"), "new b");
  qm::SaveSetting("Move", "s", "k", "written after");
  EXPECT_TRUE(InChild([] { return qm::GetSetting("Move", "s", "k") == "written after"; }));

  if (was) {
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
  EXPECT_TRUE(watch.Changed());
  fs::remove_all(root);
}

}  // namespace
