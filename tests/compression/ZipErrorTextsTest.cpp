#include <gtest/gtest.h>

#include <algorithm>

#include "errors/ErrorTexts.h"
#include "quillmark/compression/Zipper.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace {

// The zip result texts come into the number table from the compression
// folder: they are registered, found by number, and merged with the table's
// own rows (whose order ErrorTable's tests check).
TEST(ZipErrorTexts, RegisteredAndMergedIntoTheTable) {
  const auto registered = qm::errors::RegisteredErrorTexts();
  ASSERT_EQ(registered.size(), 16u);
  EXPECT_EQ(registered.front().Number, qm::ERR_ArchiveBase + qm::ZE_Unexpected_EOF_ERR);
  EXPECT_EQ(registered.back().Text, "File open error");
  EXPECT_EQ(qm::FindErrorText(qm::ERR_ArchiveBase + qm::ZE_Nothing_To_Do_ERR), "Nothing to do - check files exist");
  EXPECT_EQ(qm::FindErrorText(qm::ERR_ArchiveBase + qm::ZE_OK), std::nullopt);
  EXPECT_EQ(qm::FindErrorText(qm::ERR_ArchiveBase + 17), std::nullopt);  // no code 17

  const auto table = qm::ErrorTable();
  for (const auto& row : registered) {
    EXPECT_TRUE(std::any_of(table.begin(), table.end(), [&](const qm::ErrorEntry& e) {
      return e.Number == row.Number && e.Text == row.Text;
    })) << row.Number;
  }
}

}  // namespace
