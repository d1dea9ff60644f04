#include <gtest/gtest.h>

#include <filesystem>

#include "html/WindowsPath.h"
#include "support/TestEnvironment.h"

namespace fs = std::filesystem;

TEST(WindowsPath, ComponentsMatchWithoutRegardToCaseInEveryLetter) {
  qm::test::ScratchDir dir;
  fs::create_directories(dir.Path() / "Bilder" / "Übersicht");
  qm::test::WriteFile(dir / "Bilder/Übersicht/Straße Ω.png", "x");
  qm::test::WriteFile(dir / "r\xE9sum\xE9.gif", "x");  // a name that is not UTF-8
  qm::html::WindowsPathResolver resolver(dir.Path());

  // The scan upper-cases references; the files keep their own case.
  const auto found = resolver.Resolve("BILDER\\ÜBERSICHT\\STRAßE ω.PNG");
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, dir.Path() / "Bilder" / "Übersicht" / "Straße Ω.png");
  EXPECT_TRUE(resolver.FileExists("bilder/übersicht/straße Ω.png"));
  EXPECT_FALSE(resolver.FileExists("BILDER\\UBERSICHT\\STRASSE Ω.PNG"));  // no letter is another letter
  EXPECT_FALSE(resolver.FileExists("BILDER\\ÜBERSICHT"));                 // a folder is no file

  // Bytes that are not UTF-8 match only themselves; the letters around them still fold.
  EXPECT_TRUE(resolver.FileExists("R\xE9SUM\xE9.GIF"));
  EXPECT_FALSE(resolver.FileExists("R\xC9SUM\xC9.GIF"));
}
