#include "io/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "io/Executor.h"
#include "io/HugeBlock.h"
#include "io/System.h"
#include "support/ErrorOf.h"
#include "support/FileSizeLimit.h"
#include "support/TestEnvironment.h"

namespace {
namespace fs = std::filesystem;
using qm::io::AtomicFile;
using qm::io::Executor;
using qm::io::HugeBlock;
using namespace std::chrono_literals;
using qm::test::ReadFile;
using qm::test::WriteFile;

// Permissions in octal, and a space.
std::string Octal(unsigned mode) {
  return std::to_string(mode >> 6 & 7) + std::to_string(mode >> 3 & 7) + std::to_string(mode & 7) + " ";
}

// A file's permissions and bytes, to compare in one line.
std::string Held(const fs::path& path) {
  struct stat info {};
  ::lstat(path.c_str(), &info);
  return Octal(info.st_mode) + ReadFile(path);
}

// The permissions of a new file, as Held shows them.
std::string NewMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return Octal(0666 & ~mask);
}

// The names in a folder, sorted, with a space after each.
std::string Listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  std::string listing;
  for (const std::string& name : names) listing += name + " ";
  return listing;
}

// Both kinds of temporary: without a name (O_TMPFILE), and the named one
// taken where the file system has no O_TMPFILE.
struct NamedTemporaries {
  explicit NamedTemporaries(bool named) { AtomicFile::ForceNamedTemporaries(named); }
  ~NamedTemporaries() { AtomicFile::ForceNamedTemporaries(false); }
};

// Restores the executor however a test ends.
struct PoolReset {
  ~PoolReset() { Executor::ResetLimit(); }
};

// The error number a step raises as a filesystem_error, 0 when it raises none.
int CodeOf(auto&& step) {
  try {
    step();
  } catch (const fs::filesystem_error& e) {
    return e.code().value();
  }
  return 0;
}

void ReplacesContentsOrName() {
  const qm::test::ScratchDir dir;
  AtomicFile::WriteWhole(dir / "data.txt", "one");
  EXPECT_EQ(Held(dir / "data.txt"), NewMode() + "one");

  // In place: the old permissions stay, a link is followed and kept.
  ::chmod((dir / "data.txt").c_str(), 0640);
  fs::create_symlink("data.txt", dir / "link.txt");
  AtomicFile::WriteWhole(dir / "link.txt", "two");
  EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
  EXPECT_EQ(Held(dir / "data.txt"), "640 two");

  // As a new file: a new file's permissions, the link itself replaced.
  AtomicFile::WriteWhole(dir / "link.txt", "three", AtomicFile::Replace::Name);
  EXPECT_EQ(Held(dir / "link.txt"), NewMode() + "three");
  EXPECT_EQ(Held(dir / "data.txt"), "640 two");

  // A copy takes the source's bytes and permissions.
  WriteFile(dir / "big.bin", std::string(300000, 'b'));
  ::chmod((dir / "big.bin").c_str(), 0600);
  AtomicFile::CopyWhole(dir / "big.bin", dir / "data.txt");
  EXPECT_EQ(Held(dir / "data.txt"), "600 " + std::string(300000, 'b'));
  EXPECT_EQ(Listing(dir.Path()), "big.bin data.txt link.txt ");
}

// (A named temporary asked for by a library that writes to it is published
// by PublicSeamTest.WriterPublishesOnCommitOnly.)
void TargetUntouchedUntilCommitAndNoNameLeft(bool named) {
  const qm::test::ScratchDir dir;
  const fs::path file = dir / "data.txt";
  WriteFile(file, "old");
  {
    AtomicFile writer(file);
    writer.Write("new");
    EXPECT_EQ(ReadFile(file), "old");
    // A named temporary is hidden beside the target; a file without a name shows nowhere.
    const std::string temporary = writer.TemporaryPath().filename();
    EXPECT_EQ(temporary.starts_with(".data.txt.~qm"), named) << temporary;
    EXPECT_EQ(writer.TemporaryPath().empty(), !named);
    EXPECT_EQ(Listing(dir.Path()), (named ? temporary + " " : "") + "data.txt ");
    if (named) {
      EXPECT_EQ(ReadFile(writer.TemporaryPath()), "new");
    }
  }  // dropped without Commit
  EXPECT_EQ(ReadFile(file), "old");
  EXPECT_EQ(Listing(dir.Path()), "data.txt ");

  AtomicFile writer(file);
  writer.Write("new");
  writer.Commit();
  EXPECT_THROW(writer.Commit(), fs::filesystem_error);
  EXPECT_EQ(ReadFile(file), "new");

  // A write behind, and one of a new file.
  AtomicFile behind(dir / "new.txt");
  EXPECT_TRUE(behind.WriteBehind(std::string(300000, 'a')).empty());
  (void)behind.WriteBehind(std::string(300000, 'b'));
  behind.Write("end");
  behind.Commit();
  EXPECT_EQ(Held(dir / "new.txt"), NewMode() + std::string(300000, 'a') + std::string(300000, 'b') + "end");

  EXPECT_EQ(Listing(dir.Path()), "data.txt new.txt ");
}

void Refusals() {
  const qm::test::ScratchDir dir;
  EXPECT_EQ(CodeOf([&] { AtomicFile::WriteWhole(dir / "none/x.txt", "x"); }), ENOENT);
  EXPECT_EQ(CodeOf([&] { AtomicFile::WriteWhole(dir.Path(), "x"); }), EISDIR);
  EXPECT_EQ(CodeOf([&] { AtomicFile::WriteWhole("/dev/null", "x"); }), EINVAL);
  EXPECT_EQ(CodeOf([&] { AtomicFile::CopyWhole(dir / "missing", dir / "x.txt"); }), ENOENT);
  if (::geteuid() != 0) {
    const fs::path locked = dir / "locked.txt";
    WriteFile(locked, "keep");
    ::chmod(locked.c_str(), 0444);
    EXPECT_EQ(CodeOf([&] { AtomicFile::WriteWhole(locked, "x"); }), EACCES);
    EXPECT_EQ(ReadFile(locked), "keep");
    // As a new file it may go, as deleting it could.
    AtomicFile::WriteWhole(locked, "x", AtomicFile::Replace::Name);
    EXPECT_EQ(ReadFile(locked), "x");
  }
  EXPECT_EQ(Listing(dir.Path()), ::geteuid() != 0 ? "locked.txt " : "");
}

// The folder is never listed and nothing but the writer's own temporary is
// ever removed: leftovers of other writers, even of ones whose process no
// longer runs, stay (the folder may be shared with other machines). A folder
// that may not be listed is written all the same.
void LeftoversOfOtherWritersAreLeftAlone() {
  const qm::test::ScratchDir dir;
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  for (const std::string& name : {".data.txt.~qm" + std::to_string(child) + "-0000abcd",
                                  std::string(".data.txt.~qm1-0000abcd"), std::string(".data.txt.~qmx-1")})
    WriteFile(dir / name, "partial");
  const std::string leftovers = Listing(dir.Path());
  AtomicFile::WriteWhole(dir / "data.txt", "new");
  EXPECT_EQ(ReadFile(dir / "data.txt"), "new");
  EXPECT_EQ(Listing(dir.Path()), leftovers + "data.txt ");
  if (::geteuid() != 0) {
    ::chmod(dir.Path().c_str(), 0300);
    AtomicFile::WriteWhole(dir / "data.txt", "unlisted");
    ::chmod(dir.Path().c_str(), 0700);
    EXPECT_EQ(ReadFile(dir / "data.txt"), "unlisted");
  }
}

// The last step of a commit, putting the new file in place, fails when what
// is at the target's name by then cannot be replaced (here a folder with a
// file in it, put there while the new file was written): the commit raises,
// the folder and its file stay as they are, and no temporary is left beside
// them. The writer is spent afterwards.
void AFailedPlacingLeavesNothingBehind() {
  const qm::test::ScratchDir dir;
  const fs::path file = dir / "placed.txt";
  for (const auto how : {AtomicFile::Replace::Contents, AtomicFile::Replace::Name}) {
    WriteFile(file, "old");
    AtomicFile writer(file, how);
    writer.Write(std::string(100000, 'n'));
    fs::remove(file);
    fs::create_directory(file);
    WriteFile(file / "inside.txt", "keep");
    EXPECT_EQ(CodeOf([&] { writer.Commit(); }), EISDIR);
    EXPECT_EQ(Listing(dir.Path()), "placed.txt ");
    EXPECT_EQ(Held(file / "inside.txt"), NewMode() + "keep");
    EXPECT_EQ(CodeOf([&] { writer.Commit(); }), EBADF);
    EXPECT_EQ(CodeOf([&] { writer.Write("x"); }), EBADF);
    fs::remove_all(file);
    EXPECT_EQ(Listing(dir.Path()), "");
  }
}

// With either kind of temporary: the whole-file writes and copies, what the
// folder shows before and after a commit, the refusals, and others' leftovers.
TEST(AtomicFile, ReplacesContentsOrNameAndNoNameIsLeft) {
  for (const bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporary" : "temporary without a name");
    NamedTemporaries kind(named);
    ReplacesContentsOrName();
    TargetUntouchedUntilCommitAndNoNameLeft(named);
    Refusals();
    LeftoversOfOtherWritersAreLeftAlone();
  }
}

TEST(AtomicFileCommit, AFailedPlacingLeavesNothingBehind) {
  for (const bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporary" : "temporary without a name");
    NamedTemporaries kind(named);
    AFailedPlacingLeavesNothingBehind();
  }
}

// A write that fails (here past a file-size limit) sticks: every later
// write and Commit raise it, and the old file stays whole, whether the
// bytes went directly, behind on a helper thread, or behind with no thread
// to be had (the lane then writes on the caller's thread).
TEST(AtomicFile, AFailedWriteIsKeptAndTheOldFileStays) {
  enum class Way { Direct, Behind, BehindNoThread };
  for (const Way way : {Way::Direct, Way::Behind, Way::BehindNoThread}) {
    for (const bool named : {false, true}) {
      SCOPED_TRACE(static_cast<int>(way) * 2 + named);
      PoolReset reset;
      Executor::SetLimit(way == Way::BehindNoThread ? 0 : Executor::UsableProcessors());
      while (way == Way::BehindNoThread && Executor::LiveThreads() > 0) std::this_thread::sleep_for(1ms);
      NamedTemporaries kind(named);
      qm::test::ScratchDir dir;
      WriteFile(dir / "data.txt", "old");
      std::vector<int> raised;
      {
        qm::test::FileSizeLimit limit(700 << 10);
        AtomicFile writer(dir / "data.txt");
        const std::string block(256 << 10, 'x');
        raised.push_back(CodeOf([&] {
          for (int i = 0; i < 8; ++i) way == Way::Direct ? writer.Write(block) : (void)writer.WriteBehind(block);
        }));
        raised.push_back(CodeOf([&] { writer.Write("x"); }));
        raised.push_back(CodeOf([&] { (void)writer.WriteBehind("x"); }));
        raised.push_back(CodeOf([&] { writer.Commit(); }));
      }
      // Written behind on a helper, the failure may show only at a later step.
      EXPECT_TRUE(way == Way::Behind || raised[0] == EFBIG) << "raised at once";
      EXPECT_GE(std::count(raised.begin(), raised.end(), EFBIG), 3);
      for (const int code : raised) EXPECT_TRUE(code == 0 || code == EFBIG) << code;
      EXPECT_TRUE(way != Way::BehindNoThread || Executor::LiveThreads() == 0);
      EXPECT_EQ(ReadFile(dir / "data.txt"), "old");
      EXPECT_EQ(Listing(dir.Path()), "data.txt ");
    }
  }
}

// An AtomicFile made before fork is the parent's: in the child, Write,
// WriteBehind and Commit raise 75, nothing is published or removed, and
// dropping it does not wait for the parent's writes; the parent finishes it.
TEST(AtomicFile, ChildAfterForkNeverPublishesNorRemoves) {
  if (qm::test::ThreadSanitizer())
    GTEST_SKIP() << "the child starts threads, which ThreadSanitizer does not allow after fork";
  PoolReset reset;
  Executor::SetLimit(2);
  qm::test::ScratchDir dir;
  // Either kind of temporary, with large writes behind, so that a helper is likely at work at the fork.
  const std::string block(8 << 20, 'x');
  const fs::path files[] = {dir / "unnamed.txt", dir / "named.txt"};
  std::optional<AtomicFile> writers[2];
  for (const bool named : {false, true}) {
    NamedTemporaries kind(named);
    WriteFile(files[named], "old");
    writers[named].emplace(files[named]);
    writers[named]->Write("head");
    (void)writers[named]->WriteBehind(block);
    (void)writers[named]->WriteBehind(block);
  }
  const std::string before = Listing(dir.Path());
  EXPECT_TRUE(before.starts_with(".named.txt.~qm") && before.ends_with(" named.txt unnamed.txt ")) << before;

  const pid_t child = ::fork();
  if (child == 0) {
    std::string raised;
    for (std::optional<AtomicFile>& writer : writers) {
      raised += std::to_string(qm::test::ErrorOf([&] { writer->Commit(); }));
      raised += std::to_string(qm::test::ErrorOf([&] { writer->Write("child"); }));
      raised += std::to_string(qm::test::ErrorOf([&] { (void)writer->WriteBehind("child"); }));
      raised += std::to_string(qm::test::ErrorOf([&] { writer->Commit(); }));
      writer.reset();  // closes the child's descriptor only
    }
    const bool untouched = Listing(dir.Path()) == before && ReadFile(files[0]) == "old" && ReadFile(files[1]) == "old";
    ::_exit(raised == "7575757575757575" && untouched ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(Listing(dir.Path()), before);
  for (const bool named : {false, true}) {
    EXPECT_EQ(ReadFile(files[named]), "old");
    writers[named]->Write("tail");
    writers[named]->Commit();
    EXPECT_EQ(ReadFile(files[named]), "head" + block + block + "tail");
  }
  EXPECT_EQ(Listing(dir.Path()), "named.txt unnamed.txt ");
}

// The helpers io::sys builds on its calls (a tree removed without following
// its links, a file read whole), and the read blocks: a block gets no page
// before the write that fills it (the kernel would zero it ahead for
// nothing), and a block let go comes back for the next one without being
// zeroed again.
TEST(System, RemoveAllLeavesWhatLinksPointToAndReadWholeReadsFiles) {
  const qm::test::ScratchDir dir;
  const fs::path tree = dir.Path() / "tree";
  const fs::path kept = dir.Path() / "kept";
  fs::create_directories(tree / "a" / "b");
  fs::create_directory(kept);
  WriteFile(kept / "file", "stays");
  WriteFile(tree / "a" / "b" / "deep", "x");
  WriteFile(tree / "top", "y");
  fs::create_directory_symlink(kept, tree / "a" / "link");

  EXPECT_EQ(qm::io::sys::RemoveAll(tree.c_str()), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
  EXPECT_EQ(ReadFile(kept / "file"), "stays");
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
