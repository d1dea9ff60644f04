#include "quillmark/persistence/detail/LineStore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using qm::detail::HugeBlock;
using qm::detail::LineStore;

namespace {

std::shared_ptr<const HugeBlock> BlockWith(const std::string& text) {
  auto block = std::make_shared<HugeBlock>(text.size());
  std::memcpy(block->Data(), text.data(), text.size());
  return block;
}

}  // namespace

// Lines placed by their place in a block, parted by line ends of every width
// and by gaps too wide for one, mixed with lines from no block (copied, up to
// longer than a copy block) and with lines from a second block: each comes
// back as it was appended, wherever it is, also after its source changed.
TEST(LineStore, EveryLineComesBackWhateverItsPlace) {
  const std::string text = "alpha\r\nbeta\n\ngamma\rdelta\r\n\r\n    skipped line\nepsilon";
  const auto block = BlockWith(text);
  const auto other = BlockWith("zeta\neta\n");
  std::vector<std::string> expected;
  LineStore store;
  const auto add = [&](std::string_view line, const std::shared_ptr<const HugeBlock>& from) {
    EXPECT_EQ(store.Append(line, from), line);
    expected.emplace_back(line);
  };
  const auto in = [](const std::shared_ptr<const HugeBlock>& b, std::size_t at, std::size_t n) {
    EXPECT_LE(at + n, b->Size());
    return std::string_view(b->Data() + at, n);
  };
  ASSERT_EQ(in(block, 45, 7), "epsilon");
  add(in(block, 0, 5), block);    // alpha, CR LF after it
  add(in(block, 7, 4), block);    // beta, LF
  add(in(block, 12, 0), block);   // empty, LF
  add(in(block, 13, 5), block);   // gamma, lone CR
  add(in(block, 19, 5), block);   // delta
  add(in(block, 26, 0), block);   // empty between CR LF pairs
  add(in(block, 45, 7), block);   // epsilon: the skipped line is no line end
  std::string scratch = "copied from no block";
  add(scratch, nullptr);
  add(in(other, 0, 4), other);  // zeta
  const std::string longLine(100000, 'L');
  add(longLine, nullptr);
  add("", nullptr);
  add(in(other, 5, 3), other);  // eta
  add(in(block, 0, 5), block);  // alpha again, read back from an earlier place
  add(text, nullptr);           // a line holding line ends itself
  scratch.assign(scratch.size(), '#');
  ASSERT_EQ(store.size(), expected.size());
  for (std::size_t i = expected.size(); i-- > 0;) EXPECT_EQ(store[i], expected[i]) << "line " << i;
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(store[i], expected[i]) << "line " << i;

  store.clear();
  EXPECT_EQ(store.size(), 0u);
  EXPECT_EQ(store.Append("after clear", nullptr), "after clear");
  EXPECT_EQ(store[0], "after clear");
}
