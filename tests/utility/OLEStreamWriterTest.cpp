#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <numeric>

#include "quillmark/errors/Error.h"
#include "quillmark/utility/OLEStreamWriter.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

using qm::test::ReadFile;
using qm::test::ScratchDir;

TEST(OLEStreamWriter, WritesExactlyTheBytesOfTheStreamSeekRewrites) {
  ScratchDir dir;
  std::vector<std::uint8_t> data(10000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  qm::OLEStreamWriter writer;
  auto stream = writer.Stream();
  EXPECT_EQ(stream->Write(std::span(data).first(3000)), 3000u);
  EXPECT_EQ(stream->Write(std::span(data).subspan(3000)), 7000u);
  const std::string target = dir / "out.bin";
  qm::test::WriteFile(target, std::string(20000, 'x'));  // a longer file is truncated
  writer.WriteToFile(target);
  EXPECT_EQ(ReadFile(target), std::string(data.begin(), data.end()));
  // The stream is gone afterwards.
  EXPECT_THROW(writer.Stream(), qm::Error);
  EXPECT_EQ(qm::test::ErrorOf([&] { stream->Write(std::span(data).first(1)); }), 91);

  // Nothing written gives an empty file; Seek rewrites.
  qm::OLEStreamWriter empty;
  empty.WriteToFile(dir / "empty.bin");
  EXPECT_EQ(ReadFile(dir / "empty.bin"), "");
  qm::OLEStreamWriter again;
  auto rewritten = again.Stream();
  const std::string text = "hello world";
  rewritten->Write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  EXPECT_EQ(rewritten->Seek(0, qm::StreamSeek::Begin), 0u);
  rewritten->Write(std::span(reinterpret_cast<const std::uint8_t*>("J"), 1));
  again.WriteToFile(dir / "hello.bin");
  EXPECT_EQ(ReadFile(dir / "hello.bin"), "Jello world");
  EXPECT_THROW(again.WriteToFile(dir / "missing/folder/x.bin"), qm::Error);
}

// A writer made before fork is the parent's: the child's writes raise 75 and
// write nothing, its release and the flush of the C library's buffers (which
// exit() does) put no byte into the parent's compound file.
TEST(OLEStreamWriter, AChildAfterForkLeavesTheParentsStreamWhole) {
  ScratchDir dir;
  std::vector<std::uint8_t> data(300000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13 + i / 251);
  for (const bool release : {false, true}) {
    auto writer = std::make_unique<qm::OLEStreamWriter>();
    auto stream = writer->Stream();
    stream->Write(std::span(data).first(100001));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::alarm(10);
      int faults = qm::test::ErrorOf([&] { stream->Write(std::span(data).first(5000)); }) == 75 ? 0 : 1;
      if (qm::test::ErrorOf([&] { writer->WriteToFile(dir / "child.bin"); }) != 75) faults |= 2;
      if (release) {
        stream.reset();
        writer.reset();
      }
      // As exit() does, every stdio stream is flushed (then _exit: the leak
      // check of a sanitizer build would count what a child lets go).
      std::fflush(nullptr);
      ::_exit(faults);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    stream->Write(std::span(data).subspan(100001));
    writer->WriteToFile(dir / "out.bin");
    EXPECT_TRUE(ReadFile(dir / "out.bin") == std::string(data.begin(), data.end())) << release;
  }
}
