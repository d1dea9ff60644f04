// qm-crash-writer JOB VARIANT SCALE: runs a job of the shared table in the
// current folder, where the crash test made its inputs, for the test to kill.
// "go" on the standard output marks the start of the write; status 0 means
// it completed.

#include <iostream>
#include <string>

#include "reliability/Jobs.h"

int main(int argc, char** argv) {
  for (const qm::test::Job& job : qm::test::Jobs(qm::test::kCrash)) {
    if (argc != 4 || job.Name != argv[1] || !job.Run) continue;
    const auto go = [] { std::cout << "go" << std::endl; };
    const qm::test::Ended ended = job.Run({".", ".", std::stoi(argv[3]), std::stoi(argv[2]), {}, go});
    if (ended.Way == qm::test::Ended::Done) return 0;
    std::cerr << "qm-crash-writer: " << ended.Said << '\n';
    return 1;
  }
  std::cerr << "usage: qm-crash-writer JOB VARIANT SCALE\n";
  return 2;
}
