#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/WindowsPath.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using qm::detail::WindowsPathResolver;

TEST(WindowsPath, ComponentsMatchWithoutRegardToCaseInEveryLetter) {
  qm::test::ScratchDir dir;
  fs::create_directories(dir.Path() / "Bilder" / "Übersicht");
  qm::test::WriteFile(dir / "Bilder/Übersicht/Straße Ω.png", "x");
  qm::test::WriteFile(dir / "r\xE9sum\xE9.gif", "x");  // a name that is not UTF-8
  WindowsPathResolver resolver(dir.Path());

  // The scan upper-cases references; the files keep their own case.
  const auto found = resolver.Resolve("BILDER\\ÜBERSICHT\\STRAßE ω.PNG");
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, dir.Path() / "Bilder" / "Übersicht" / "Straße Ω.png");
  EXPECT_TRUE(resolver.FileExists("bilder/übersicht/straße Ω.png"));
  EXPECT_FALSE(resolver.FileExists("BILDER\\UBERSICHT\\STRASSE Ω.PNG"));  // no letter is another letter
  EXPECT_FALSE(resolver.FileExists("BILDER\\ÜBERSICHT"));                 // a folder is no file
  EXPECT_TRUE(resolver.Resolve("BILDER\\ÜBERSICHT"));
  EXPECT_FALSE(resolver.Resolve("BILDER\\NOWHERE\\X.PNG"));
  EXPECT_FALSE(resolver.Resolve(""));

  // Bytes that are not UTF-8 match only themselves; the letters around them still fold.
  EXPECT_TRUE(resolver.FileExists("R\xE9SUM\xE9.GIF"));
  EXPECT_FALSE(resolver.FileExists("R\xC9SUM\xC9.GIF"));
}

TEST(WindowsPath, SeparatorsDrivesDotsAndTheChoiceAmongMatches) {
  qm::test::ScratchDir dir;
  fs::create_directories(dir.Path() / "Reports" / "March");
  qm::test::WriteFile(dir / "Reports/March/Sales.txt", "x");
  qm::test::WriteFile(dir / "Reports/notes.txt", "lower");
  qm::test::WriteFile(dir / "Reports/NOTES.txt", "upper");
  const fs::path sales = dir.Path() / "Reports" / "March" / "Sales.txt";
  WindowsPathResolver resolver(dir.Path());

  // Either separator, doubled ones, "." and ".." taken on the name as written.
  EXPECT_EQ(resolver.Resolve("reports\\\\MARCH//./sales.TXT"), sales);
  EXPECT_EQ(resolver.Resolve("REPORTS\\Nowhere\\..\\MARCH\\SALES.TXT"), sales);
  EXPECT_EQ(resolver.Resolve(".\\reports\\march\\..\\March\\Sales.txt"), sales);

  // Absolute names, with or without a drive; ".." never climbs above the root.
  const std::string absolute = sales.string();
  EXPECT_EQ(resolver.Resolve(absolute), sales);
  EXPECT_EQ(resolver.Resolve("C:" + qm::detail::NativePath(absolute)), sales);
  EXPECT_EQ(resolver.Resolve("c:\\..\\.." + absolute), sales);
  EXPECT_EQ(resolver.Unresolved("C:\\tmp\\x.txt"), fs::path("/tmp/x.txt"));
  EXPECT_EQ(resolver.Unresolved("pics\\x.txt"), dir.Path() / "pics" / "x.txt");

  // The exact name wins; otherwise the first match in name order.
  EXPECT_EQ(resolver.Resolve("Reports\\notes.txt"), dir.Path() / "Reports" / "notes.txt");
  EXPECT_EQ(resolver.Resolve("Reports\\Notes.txt"), dir.Path() / "Reports" / "NOTES.txt");

  EXPECT_TRUE(qm::detail::IsDrive("z:"));
  EXPECT_FALSE(qm::detail::IsDrive("1:"));
  EXPECT_FALSE(qm::detail::IsDrive("C:x"));
  EXPECT_EQ(qm::detail::FileNamePart("a\\b/c.png"), "c.png");
  EXPECT_EQ(qm::detail::FolderPart("a\\b/c.png"), "a\\b/");
  EXPECT_EQ(qm::detail::FolderPart("c.png"), "");
}

}  // namespace
