// The helpers io::sys builds on its calls (a tree removed without following
// its links, a file read whole), and the read blocks: a block gets no page
// before the write that fills it (the kernel would zero it ahead for
// nothing), and a block let go comes back for the next one without being
// zeroed again.

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "io/HugeBlock.h"
#include "io/System.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using qm::io::HugeBlock;

TEST(System, RemoveAllLeavesWhatLinksPointToAndReadWholeReadsFiles) {
  qm::test::ScratchDir dir;
  const fs::path tree = dir.Path() / "tree";
  const fs::path kept = dir.Path() / "kept";
  fs::create_directories(tree / "a" / "b");
  fs::create_directory(kept);
  qm::test::WriteFile(kept / "file", "stays");
  qm::test::WriteFile(tree / "a" / "b" / "deep", "x");
  qm::test::WriteFile(tree / "top", "y");
  fs::create_directory_symlink(kept, tree / "a" / "link");

  EXPECT_EQ(qm::io::sys::RemoveAll(tree.c_str()), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
  EXPECT_EQ(qm::test::ReadFile(kept / "file"), "stays");
  EXPECT_EQ(qm::io::sys::RemoveAll(tree.c_str()), 0);  // nothing there: done

  std::string bytes;
  EXPECT_EQ(qm::io::sys::ReadWhole((kept / "file").c_str(), bytes), 0);
  EXPECT_EQ(bytes, "stays");
  EXPECT_EQ(qm::io::sys::ReadWhole(kept.c_str(), bytes), -1);
  EXPECT_EQ(errno, EISDIR);
  EXPECT_EQ(qm::io::sys::ReadWhole((dir.Path() / "missing").c_str(), bytes), -1);
  EXPECT_EQ(errno, ENOENT);
}

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
