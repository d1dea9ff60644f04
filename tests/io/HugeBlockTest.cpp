// A read block gets no page before the write that fills it (the kernel would
// zero it ahead for nothing), and a block let go comes back for the next one
// without being zeroed again.

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "io/HugeBlock.h"

namespace {

using qm::io::HugeBlock;

constexpr std::size_t kBlock = std::size_t{2} << 20;

std::size_t ResidentPages(const HugeBlock& block) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> pages((block.Size() + page - 1) / page);
  if (::mincore(block.Data(), block.Size(), pages.data()) != 0) return ~std::size_t{0};
  std::size_t resident = 0;
  for (const unsigned char p : pages) resident += p & 1;
  return resident;
}

TEST(HugeBlock, ABlockIsFaultedInByItsFillAndComesBackWhenLetGo) {
  // The blocks kept now go to other owners first, so that the next one let go is the one taken again.
  std::vector<HugeBlock> earlier;
  while (HugeBlock::KeptBlocks() > 0) earlier.emplace_back(kBlock);

  const char* filled = nullptr;
  {
    HugeBlock block(kBlock);
    ASSERT_EQ(block.Size(), kBlock);
    EXPECT_EQ(ResidentPages(block), 0u) << "no page is asked for before the block is filled";
    std::memset(block.Data(), 'x', block.Size());
    filled = block.Data();
  }
  EXPECT_EQ(HugeBlock::KeptBlocks(), 1u);
  {
    const HugeBlock again(kBlock);
    EXPECT_EQ(again.Data(), filled);
    EXPECT_EQ(HugeBlock::KeptBlocks(), 0u);
  }
  // A smaller block filled whole, which malloc would map afresh, takes a kept one too.
  const HugeBlock smaller(kBlock / 8);
  EXPECT_EQ(smaller.Data(), filled);
  EXPECT_EQ(smaller.Size(), kBlock);

  // A block that may stay partly empty, and a small one, are never kept.
  { const HugeBlock partly(kBlock, HugeBlock::Pages::AsWritten); }
  { const HugeBlock small(4096); }
  EXPECT_EQ(HugeBlock::KeptBlocks(), 0u);
}

}  // namespace
