#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "quillmark/errors/Error.h"
#include "quillmark/utility/Utility.h"
#include "quillmark/values/Dispatch.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace fs = std::filesystem;
using qm::test::RaisedBy;
using qm::test::ScratchDir;
using qm::test::WriteFile;

namespace {

struct Form : qm::Dispatch {
  qm::Variant GetMember(std::string_view name, std::vector<qm::Variant>& args) override {
    if (qm::SameName(name, "hwnd")) return qm::Variant(std::int32_t{42});
    return Dispatch::GetMember(name, args);
  }
};

}  // namespace

TEST(UtilityPaths, UrlsOfNamesWithBlanksAndRelativePaths) {
  qm::Utility u;
  EXPECT_EQ(u.FilenameToURL("C:\\My Files\\a b.htm").String(), "file:///C:/My%20Files/a%20b.htm");
  EXPECT_EQ(u.FilenameToMHTURL("C:\\My Files\\a b.htm").String(), "mhtml:file://C:\\My%20Files\\a%20b.htm");
  EXPECT_EQ(u.FilenameToURL("/home/me/a b#1%.htm").String(), "file:///home/me/a%20b#1%.htm");

  EXPECT_EQ(u.GetRelativePath("C:\\a\\b", "C:\\a\\c\\d.txt"), "../c/d.txt");
  EXPECT_EQ(u.GetRelativePath("/a/b", "/a/b/c.txt"), "./c.txt");
  EXPECT_EQ(u.GetRelativePath("/a/b/", "/x/y"), "../../x/y");
  EXPECT_EQ(u.GetRelativePath("C:\\a", "D:\\a\\b.txt"), "");            // different drives
  EXPECT_EQ(u.GetRelativePath("/a", "b/c"), "");                        // no common root
  EXPECT_EQ(u.GetRelativePath("/a", "/" + std::string(300, 'x')), "");  // longer than the buffer
}

TEST(UtilityPaths, TempFilenamesCountUpOnceTaken) {
  qm::Utility u;
  const std::string first = u.GetTempFilename();
  EXPECT_EQ(first, u.GetTempFilename());  // nothing is reserved
  EXPECT_TRUE(first.ends_with(".tmp"));
  WriteFile(first, "");
  const std::string second = u.GetTempFilename();
  EXPECT_NE(first, second);
  EXPECT_FALSE(fs::exists(second));
  EXPECT_EQ(fs::path(u.GetTempFilename(std::string())).extension(), "");
  fs::remove(first);
}

TEST(UtilityPaths, ShortAndLongNamesAndTheFoldersOfTheSystemAndTheUser) {
  qm::Utility u;
  ScratchDir dir;
  fs::create_directories(dir.Path() / "Reports" / "March");
  const std::string exact = (dir.Path() / "Reports" / "March" / "Sales.txt").string();
  WriteFile(exact, "x");
  EXPECT_EQ(u.Get811Name(exact), exact);
  EXPECT_EQ(u.GetShortName(exact), exact);
  EXPECT_EQ(u.Get811Name(dir / "missing.txt"), "");
  EXPECT_EQ(u.GetLongFilename(dir.Path().string() + "/REPORTS/march/sales.TXT"), exact);
  EXPECT_EQ(u.GetLongFilename(dir.Path().string() + "\\Reports\\March\\Sales.txt"), exact);
  EXPECT_EQ(u.GetLongFilename(dir.Path().string() + "/Nowhere/Sales.txt"), "");

  EXPECT_TRUE(fs::is_directory(u.GetSysDir())) << u.GetSysDir();
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "/";
  const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = oldConfig ? oldConfig : "";
  setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
  EXPECT_EQ(u.GetMyDocumentsDir(), home + "/Documents");
  WriteFile(dir / "user-dirs.dirs", "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
  EXPECT_EQ(u.GetMyDocumentsDir(), home + "/Dokumente");
  setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

TEST(UtilityPaths, CompactPathKeepsTheFileName) {
  qm::Utility u;
  const std::string path = "/home/someone/projects/reports/2024/summary.txt";      // 48 characters
  EXPECT_EQ(u.GetCompactPath(path, 0, 48 * 7), path);                              // fits: unchanged
  EXPECT_EQ(u.GetCompactPath(path, 0, 30 * 7), "/home/someone/p.../summary.txt");  // as much folder as fits
  EXPECT_EQ(u.GetCompactPath(path, 0, 8 * 7), "summa...");
  EXPECT_EQ(u.GetCompactPath(path, 0, 0), "...");
}

TEST(UtilityPaths, WindowOrderNeedsADesktop) {
  qm::Utility u;
  auto form = std::make_shared<Form>();
  qm::Error e = RaisedBy([&] { u.SetFocusWindow(qm::Variant(form)); });
  EXPECT_EQ(e.Number(), 9999);
  EXPECT_TRUE(e.Source().ends_with("|[Utility]Public Sub SetFocusWindow(?)")) << e.Source();
  // An object without hwnd fails with the late-binding error.
  e = RaisedBy([&] { u.SetAlwaysOnTop(qm::Variant(std::make_shared<qm::Dispatch>()), false); });
  EXPECT_EQ(e.Number(), 438);
  EXPECT_TRUE(e.Source().ends_with("[Utility]Public Sub SetAlwaysOnTop(?, False)")) << e.Source();
}

TEST(UtilityPaths, ConvertHTMLToMHTWritesBesideThePage) {
  qm::Utility u;
  ScratchDir dir;
  WriteFile(dir / "a.b.htm", "<html><body><p>Hello</p></body></html>");
  WriteFile(dir / "report.htm", "<html><body>Report</body></html>");
  WriteFile(dir / "report.mht", std::string(100000, 'x'));  // replaced
  u.ConvertHTMLToMHT(dir / "a.b.htm");
  u.ConvertHTMLToMHT(dir / "report.htm");
  ASSERT_TRUE(fs::exists(dir / "a.b.mht"));
  EXPECT_NE(qm::test::ReadFile(dir / "a.b.mht").find("Hello"), std::string::npos);
  EXPECT_LT(fs::file_size(dir / "report.mht"), 100000u);
  const std::string source = RaisedBy([&] { u.ConvertHTMLToMHT(dir / "missing.htm"); }).Source();
  EXPECT_TRUE(source.ends_with("|[Utility]Public Sub ConvertHTMLToMHT(\"" + (dir / "missing.htm") + "\")")) << source;
}
