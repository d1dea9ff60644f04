#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <numeric>
#include <random>
#include <thread>
#include <tuple>

#include "compression/DeflatePool.h"
#include "compression/ExternalCheck.h"
#include "compression/HelperAllocations.h"
#include "compression/WorkingFolder.h"
#include "io/Executor.h"
#include "quillmark/compression/Compress.h"
#include "quillmark/compression/ZipFiles.h"
#include "quillmark/compression/Zipper.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using qm::compression::DeflatedFile;
using qm::compression::DeflatePool;
using qm::io::Executor;

// Sets the executor's thread limit for a scope.
struct ThreadLimit {
  explicit ThreadLimit(unsigned threads) { Executor::SetLimit(threads); }
  ~ThreadLimit() { Executor::ResetLimit(); }
};

constexpr off_t kMaxSize = 1 << 20;

std::string Inflated(const std::vector<std::uint8_t>& raw, std::size_t size) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -MAX_WBITS), Z_OK);
  std::string out(size + 1, '\0');
  z.next_in = const_cast<Bytef*>(raw.data());
  z.avail_in = static_cast<uInt>(raw.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int result = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return result == Z_STREAM_END ? out : "(not a complete deflate stream)";
}

// Files f0, f1 ... from empty to a few hundred KB, text and noise; their names.
std::vector<std::string> WriteFiles(const qm::test::ScratchDir& dir, int count) {
  std::mt19937 random(3);
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    std::string bytes;
    const std::size_t size = i == 0 ? 0 : i == 1 ? 1 : random() % (i % 5 == 0 ? 300000 : 20000);
    while (bytes.size() < size)
      bytes += i % 3 == 2 ? std::string(1, static_cast<char>(random())) : "row " + std::to_string(random() % 90) + "\n";
    bytes.resize(size);
    names.push_back("f" + std::to_string(i));
    qm::test::WriteFile(dir / names.back(), bytes);
  }
  return names;
}

TEST(DeflatePool, EveryFileGetsItsOwnStreamWhicheverThreadMadeItAndInWhateverOrderItIsTaken) {
  qm::test::ScratchDir dir;
  std::vector<std::string> paths;
  for (const auto& name : WriteFiles(dir, 40)) paths.push_back(dir / name);
  std::vector<DeflatedFile> expected;
  qm::compression::Deflater deflater(6);
  for (const auto& path : paths) {
    expected.push_back(qm::compression::ReadAndDeflate(path, kMaxSize, deflater));
    const std::string original = qm::test::ReadFile(path);
    ASSERT_EQ(Inflated(expected.back().Deflated, original.size()), original) << path;
    EXPECT_EQ(expected.back().Crc, crc32(0, reinterpret_cast<const Bytef*>(original.data()), original.size()));
  }

  // No helpers, one, several; a limit that lets one file ahead at a time, and a roomy one.
  for (unsigned helpers : {0u, 1u, 3u}) {
    for (std::uint64_t limit : {std::uint64_t{1}, std::uint64_t{64} << 20}) {
      DeflatePool pool(6, kMaxSize, helpers, limit);
      for (const auto& path : paths) pool.Plan(path, static_cast<off_t>(fs::file_size(path)));
      pool.Start();
      std::vector<std::size_t> order(paths.size());
      std::iota(order.begin(), order.end(), 0);
      std::swap(order[3], order[30]);  // taken out of order
      for (std::size_t file : order) {
        const DeflatedFile got = pool.Take(file);
        SCOPED_TRACE(paths[file] + " with " + std::to_string(helpers) + " helpers");
        EXPECT_EQ(got.ZipError, 0);
        EXPECT_EQ(std::tie(got.Size, got.Crc, got.Deflated),
                  std::tie(expected[file].Size, expected[file].Crc, expected[file].Deflated));
      }
    }
  }
}

TEST(DeflatePool, FailuresComeBackPerFileAndAFileTakenAgainIsReadAgain) {
  qm::test::ScratchDir dir;
  qm::test::WriteFile(dir / "small", "first");
  qm::test::WriteFile(dir / "grown", std::string(kMaxSize + 1, 'g'));
  fs::create_directory(dir.Path() / "folder");
  DeflatePool pool(6, kMaxSize, 2, 1 << 20);
  const std::size_t small = pool.Plan(dir / "small", 5);
  const std::size_t missing = pool.Plan(dir / "missing", 5);
  const std::size_t grown = pool.Plan(dir / "grown", 500);  // grew past the limit since it was listed
  const std::size_t folder = pool.Plan(dir / "folder", 0);
  pool.Start();

  for (const auto& [file, zipError, systemError] :
       {std::tuple{missing, ZIP_ER_OPEN, ENOENT}, {grown, ZIP_ER_READ, EFBIG}, {folder, ZIP_ER_READ, EISDIR}}) {
    const DeflatedFile failed = pool.Take(file);
    EXPECT_EQ(std::pair(failed.ZipError, failed.SystemError), std::pair(zipError, systemError)) << file;
  }

  DeflatedFile result = pool.Take(small);
  EXPECT_EQ(Inflated(result.Deflated, result.Size), "first");
  qm::test::WriteFile(dir / "small", "second");
  result = pool.Take(small);
  EXPECT_EQ(Inflated(result.Deflated, result.Size), "second");
  result = pool.Make(dir / "small");
  EXPECT_EQ(Inflated(result.Deflated, result.Size), "second");
}

TEST(DeflatePool, AnArchiveUpdatedWithReplacedRepeatedAndNewNamesHoldsTheLatestBytesInOrder) {
  qm::test::ScratchDir dir;
  const std::vector<std::string> names = WriteFiles(dir, 30);
  qm::test::WorkingFolder here(dir.Path());

  qm::Zipper first;
  for (int i = 0; i < 20; ++i) first.AddFile(names[i]);
  ASSERT_EQ(first.Compress("a.zip"), qm::ZE_OK);

  // Entries 15 ... 19 replaced in place, then new ones; a name listed twice
  // is stored once, where it was first placed.
  for (int i = 15; i < 20; ++i) qm::test::WriteFile(names[i], "changed " + std::to_string(i));
  qm::Zipper second;
  for (int i = 25; i < 30; ++i) second.AddFile(names[i]);
  second.AddFile(names[17]);
  for (int i = 15; i < 25; ++i) second.AddFile(names[i]);
  ASSERT_EQ(second.Compress("a.zip"), qm::ZE_OK);

  std::vector<std::string> expected(names.begin(), names.begin() + 20);
  expected.insert(expected.end(), names.begin() + 25, names.end());
  expected.insert(expected.end(), names.begin() + 20, names.begin() + 25);
  EXPECT_TRUE(qm::test::UnzipTestPasses("a.zip"));
  EXPECT_TRUE(qm::test::PythonReadsBack("a.zip", dir.Path(), expected));
}

TEST(DeflatePool, ArchivesAndCompressedFilesAreTheSameBytesOnAnyNumberOfThreads) {
  qm::test::ScratchDir dir;
  const std::vector<std::string> names = WriteFiles(dir, 40);
  qm::test::WorkingFolder here(dir.Path());
  // The compressed container streams through the file machinery.
  std::string big;
  for (long long i = 0; i < 300000; ++i) big += "row " + std::to_string(i * 7919 % 100003) + "\n";
  qm::test::WriteFile("big.txt", big);

  std::string archive, container;
  for (unsigned threads : {0u, 1u, 8u}) {
    const ThreadLimit limit(threads);
    SCOPED_TRACE(testing::Message() << threads << " threads");
    // The same files (and times): the same archive, byte for byte.
    fs::remove("a.zip");
    qm::Zipper zipper;
    for (const auto& name : names) zipper.AddFile(name);
    ASSERT_EQ(zipper.Compress("a.zip"), qm::ZE_OK);
    const std::string zipped = qm::test::ReadFile("a.zip");
    if (archive.empty()) archive = zipped;
    EXPECT_TRUE(zipped == archive);

    qm::Compress compress;
    ASSERT_EQ(compress.CompressFile("big.txt", "big.z", qm::COM_DEFAULT_COMPRESSION), 0);
    const std::string packed = qm::test::ReadFile("big.z");
    if (container.empty()) container = packed;
    EXPECT_TRUE(packed == container);
  }
  EXPECT_TRUE(qm::test::PythonReadsBack("a.zip", dir.Path(), names));
}

TEST(DeflatePool, AHelperThatGetsNoMemoryFailsItsFileWithCode4AndTheProcessGoesOn) {
  // Four files of 1.5 MB: their buffers are what fails on the helpers.
  qm::test::ScratchDir dir;
  qm::test::WorkingFolder here(dir.Path());
  std::vector<fs::path> files;
  std::mt19937 random(9);
  for (int i = 0; i < 4; ++i) {
    std::string bytes;
    while (bytes.size() < 1500000) bytes += "line " + std::to_string(random() % 1000) + "\n";
    files.emplace_back("m" + std::to_string(i));
    qm::test::WriteFile(files.back(), bytes);
  }

  const ThreadLimit limit(2);  // two helpers
  qm::ZipReport report;
  {
    const qm::test::HelperAllocationsFail fail;
    // The writer waits (on its own thread, at the first progress report,
    // before it takes a file) until a helper's allocation has failed.
    bool waited = false;
    const qm::Progress progress = [&](std::uint64_t, std::uint64_t) {
      if (waited) return;
      waited = true;
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (qm::test::HelperAllocationsFailed() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    report = qm::ZipFiles("m.zip", files, progress);
  }
  ASSERT_GT(qm::test::HelperAllocationsFailed(), 0);
  // The file a helper could not read or deflate fails the archive with the
  // documented code for memory (4), named; the old archive stays as it was
  // (there was none).
  EXPECT_EQ(report.Result, qm::ZipResult::OutOfMemory) << report.Message();
  EXPECT_NE(std::find(files.begin(), files.end(), report.FailedFile), files.end()) << report.FailedFile;
  EXPECT_FALSE(fs::exists("m.zip"));

  // With memory again, the same call writes the archive.
  report = qm::ZipFiles("m.zip", files);
  EXPECT_TRUE(report.Complete()) << report.Message();
  EXPECT_TRUE(qm::test::UnzipTestPasses("m.zip"));
}

}  // namespace
