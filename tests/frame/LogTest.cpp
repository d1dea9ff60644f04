#include <gtest/gtest.h>

#include <filesystem>

#include "quillmark/frame/Frame.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/runtime/Settings.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

void TracedOperation(const std::string& what) {
  QM_FRAME_TRY { qm::QMWriteLog(what); }
  QM_FRAME_CATCH("ScalarField", "Public Sub SetStreamValue", what);
}

class Log : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::remove(qm::LogFilePath());
    qm::DeleteSetting("Quillmark Library", "Init");
  }
};

TEST_F(Log, OffUnlessTheSettingIsYesInAnyCase) {
  qm::QMWriteLog("absent");
  EXPECT_FALSE(std::filesystem::exists(qm::LogFilePath()));
  // Each line is written only while the setting is "yes" in some case, without spaces.
  std::string expected;
  for (const char* value : {"no", " yes", "y", "yes ", "YES", "yEs", "no"}) {
    SCOPED_TRACE(value);
    qm::SaveSetting("Quillmark Library", "Init", "Logging", value);
    qm::QMWriteLog(value);
    if (std::string_view(value).size() == 3 && value[0] != 'n') expected += value + std::string("\r\n");
    EXPECT_EQ(std::filesystem::exists(qm::LogFilePath()), !expected.empty());
    EXPECT_EQ(qm::test::ReadFile(qm::LogFilePath()), expected);
  }
}

TEST_F(Log, UnwritableLogFailsTheTracedCall) {
  qm::SaveSetting("Quillmark Library", "Init", "Logging", "yes");
  std::filesystem::create_directory(qm::LogFilePath());  // a folder where the file should be
  const qm::Error e = qm::test::RaisedBy([] { TracedOperation("line"); });
  EXPECT_EQ(e.Number(), 75);
  EXPECT_EQ(e.Source(),
            "QuillmarkLibrary|[LibMain]Public Sub QMWriteLog(\"line\")|"
            "[ScalarField]Public Sub SetStreamValue(\"line\")");
  std::filesystem::remove(qm::LogFilePath());
}

}  // namespace
