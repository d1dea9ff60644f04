#include "persistence/LineStore.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using qm::detail::LineStore;
using qm::io::HugeBlock;

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
  const auto place = [&](const std::shared_ptr<const HugeBlock>& b, std::size_t at, std::size_t n) {
    add(std::string_view(b->Data() + at, n), b);
  };
  // alpha (CR LF after it), beta (LF), an empty line (LF), gamma (a lone CR),
  // delta, an empty line between CR LF pairs, epsilon (the skipped line is no line end).
  for (const auto& [at, n] : {std::pair{0, 5}, {7, 4}, {12, 0}, {13, 5}, {19, 5}, {26, 0}, {45, 7}})
    place(block, at, n);
  ASSERT_EQ(expected.back(), "epsilon");
  std::string scratch = "copied from no block";
  add(scratch, nullptr);
  place(other, 0, 4);  // zeta
  add(std::string(100000, 'L'), nullptr);
  add("", nullptr);
  place(other, 5, 3);  // eta
  place(block, 0, 5);  // alpha again, read back from an earlier place
  add(text, nullptr);  // a line holding line ends itself
  scratch.assign(scratch.size(), '#');
  ASSERT_EQ(store.size(), expected.size());
  for (std::size_t i = expected.size(); i-- > 0;) EXPECT_EQ(store[i], expected[i]) << "line " << i;
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(store[i], expected[i]) << "line " << i;

  store.clear();
  EXPECT_EQ(store.size(), 0u);
  EXPECT_EQ(store.Append("after clear", nullptr), "after clear");
  EXPECT_EQ(store[0], "after clear");
}

// Closed runs are compressed (on the store's own thread) when their text
// repeats itself and kept as they are when it does not; either way every line
// comes back, also while a run is being compressed and when lines of two
// compressed runs are asked for in turn, and once the compression is taken
// the blocks of compressed runs are let go.
TEST(LineStore, ClosedRunsCompressedOrNotGiveTheirLinesBack) {
  const auto makeBlock = [](bool repetitive, std::vector<std::string>& lines) {
    std::string text;
    std::uint32_t noise = 12345;
    for (int i = 0; text.size() < 40000; ++i) {
      std::string line;
      if (repetitive) {
        line = std::string(3 * (i % 4), ' ') + "%Property Value" + (i % 7 == 0 ? std::string(300, '-') : "");
      } else {
        for (int k = 0; k < 30; ++k) line += static_cast<char>('!' + (noise = noise * 1103515245 + 12345) % 90);
      }
      lines.push_back(line);
      text += line + (i % 3 == 0 ? "\r\n" : "\n");
    }
    return BlockWith(text);
  };
  std::vector<std::string> a, b, c, expected;
  auto first = makeBlock(true, a), second = makeBlock(false, b), third = makeBlock(true, c);
  LineStore store;
  for (const auto& [part, block] : {std::pair{&a, first}, {&b, second}, {&c, third}}) {
    const char* at = block->Data();
    for (const std::string& line : *part) {
      store.Append(std::string_view(at, line.size()), block);
      expected.push_back(line);
      at += line.size() + (at[line.size()] == '\r' ? 2 : 1);
    }
  }
  store.Append("last", nullptr);  // closes the third run
  expected.push_back("last");
  EXPECT_EQ(store[3], a[3]) << "a run being compressed gives its lines too";
  store.Settle();
  const std::weak_ptr<const HugeBlock> firstSeen = first, secondSeen = second;
  first.reset();
  second.reset();
  third.reset();
  EXPECT_TRUE(firstSeen.expired()) << "a compressed run lets its block go";
  EXPECT_FALSE(secondSeen.expired()) << "text that does not compress stays in its block";
  for (std::size_t i = 0; i < a.size(); ++i) {
    ASSERT_EQ(store[i], a[i]);
    ASSERT_EQ(store[expected.size() - 2 - i % c.size()], expected[expected.size() - 2 - i % c.size()]);
  }
  for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(store[i], expected[i]) << "line " << i;
}
