// What the size of the folder costs a whole-file write: writing a small text
// file through TextStream (ForWriting, so written as a whole and put in place
// at Close) into a folder of 200,000 files, against the same into an empty
// folder. A writer that lists its folder (as the whole-file writer once did,
// to remove temporaries of dead writers) pays for every file there; one that
// does not pays the same in both. The ratio is big folder / empty folder.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "quillmark/runtime/TextStream.h"
#include "support/BenchRow.h"

namespace {

constexpr int kFiles = 200000;
constexpr int kWrites = 200;  // per timed run
constexpr int kLines = 50;

// One run: kWrites whole-file writes of a small file (about 3 KB) in `folder`.
void WriteSmallFiles(const std::string& folder) {
  const std::string line(60, 'x');
  for (int i = 0; i < kWrites; ++i) {
    auto stream =
        qm::TextStream::Open(folder + "/report" + std::to_string(i % 4) + ".txt", qm::IOMode::ForWriting, true);
    for (int k = 0; k < kLines; ++k) stream->WriteLine(line);
    stream->Close();
  }
}

}  // namespace

int main() {
  const std::string base = qm::bench::ScratchDir("folder-write");
  const std::string big = base + "/big";
  const std::string empty = base + "/empty";
  std::filesystem::create_directories(big);
  std::filesystem::create_directories(empty);

  // The big folder's files, made once with plain open/close (empty files,
  // names as a user's folder might hold).
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kFiles; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "/document-%06d.txt", i);
    const int fd = ::open((big + name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      std::perror("folder-write: cannot make the folder's files");
      return 1;
    }
    ::close(fd);
  }
  const double made = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Their creation's metadata written back before the rounds: otherwise the
  // first writes' fsync pays for it, in the big folder's rounds only.
  ::sync();

  qm::bench::Contender ours{"write into 200,000 files", [&] { WriteSmallFiles(big); }};
  qm::bench::Contender peer{"write into an empty folder", [&] { WriteSmallFiles(empty); }};
  const qm::bench::RowResult result = qm::bench::RunRow("folder-write", 1.3, ours, {peer}, 9);
  qm::bench::Detail(std::to_string(kWrites) + " whole-file writes of " + std::to_string(kLines * 62) +
                    " bytes per run; " + std::to_string(result.OursSeconds / kWrites * 1e3).substr(0, 5) +
                    " ms per write beside 200,000 files, " +
                    std::to_string(result.PeerSeconds / kWrites * 1e3).substr(0, 5) + " ms in an empty folder");
  qm::bench::Detail("making the 200,000 files took " + std::to_string(made).substr(0, 4) + " s");
  return 0;
}
