// The core's public API that the ui library uses where it once reached
// internals (whole-file writing, Windows-style names, the headless desktop),
// called through the shared library, so that each is exported as well.

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "quillmark/platform/Desktop.h"
#include "quillmark/quillmark.h"
#include "support/ErrorOf.h"
#include "support/FileSizeLimit.h"
#include "support/TestEnvironment.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

TEST(PublicSeamTest, WriteFailuresNameTheFileAndKeepTheOldOne) {
  test::ScratchDir dir;
  const std::string target = dir / "kept.txt";
  WriteFile(target, "old");
  fs::create_directory(dir / "folder");
  // What is written, how, the error number raised and the path it names.
  const std::tuple<const char*, std::function<void()>, std::int32_t, std::string> cases[] = {
      {"missing folder", [&] { WriteFileAtomically(dir / "none/new.txt", "new"); }, 76, dir / "none"},
      {"a folder as target", [&] { WriteFileAtomically(dir / "folder", "new"); }, 75, dir / "folder"},
      {"missing source", [&] { CopyFileAtomically(dir / "absent", target); }, 75, dir / "absent"},
      {"file too large",
       [&] {
         test::FileSizeLimit limit(2);
         WriteFileAtomically(target, "new bytes");
       },
       75, target},
      {"piece by piece, too large",
       [&] {
         AtomicFileWriter out(target);
         test::FileSizeLimit limit(2);
         out.Write("new bytes");
       },
       75, target},
  };
  for (const auto& [what, write, number, named] : cases) {
    SCOPED_TRACE(what);
    const Error e = test::RaisedBy(write);
    EXPECT_EQ(e.Number(), number);
    EXPECT_NE(e.Description().find(named), std::string::npos) << e.Description();
    EXPECT_EQ(ReadFile(target), "old");
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 2) << "a temporary was left";
}

TEST(PublicSeamTest, WriterPublishesOnCommitOnlyWindowsNamesAndTheHeadlessDesktop) {
  test::ScratchDir dir;
  const std::string target = dir / "page.pdf";
  WriteFile(target, "old");
  {
    AtomicFileWriter dropped(target);
    dropped.Write("dropped");
  }
  EXPECT_EQ(ReadFile(target), "old");

  // Another library writes the named temporary; Commit publishes what it left.
  AtomicFileWriter named(target, AtomicFileWriter::Temporary::Named);
  ASSERT_EQ(named.TemporaryPath().parent_path(), dir.Path());
  WriteFile(named.TemporaryPath(), "printed");
  EXPECT_EQ(ReadFile(target), "old");
  named.Commit();
  EXPECT_EQ(ReadFile(target), "printed");
  EXPECT_EQ(test::ErrorOf([&] { named.Write("more"); }), 75);  // done after Commit

  CopyFileAtomically(target, dir / "copy.pdf");
  EXPECT_EQ(ReadFile(dir / "copy.pdf"), "printed");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 2);

  // Windows-style names, and the headless desktop.
  fs::create_directory(dir / "Pictures");
  WriteFile(dir / "Pictures/Logo.jpg", "x");
  EXPECT_EQ(ResolveWindowsPath("PICTURES\\logo.JPG", dir.Path()), dir.Path() / "Pictures" / "Logo.jpg");
  EXPECT_EQ(ResolveWindowsPath("pictures\\none.jpg", dir.Path()), std::nullopt);
  EXPECT_FALSE(platform::Headless().HasUserInterface());
  EXPECT_EQ(platform::Headless().TwipsPerPixelX(), 15.0);
}

}  // namespace
}  // namespace qm
