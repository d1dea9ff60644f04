// The Utility class: paths and names, containers, processes.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <random>

#include "quillmark/errors/Error.h"
#include "quillmark/utility/Utility.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Dispatch.h"
#include "support/ErrorOf.h"
#include "support/StubDesktop.h"
#include "support/TestEnvironment.h"

namespace fs = std::filesystem;
using qm::Variant;
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

std::vector<std::string> KeysOf(const qm::Dictionary& d) {
  std::vector<std::string> keys;
  for (const auto& e : d) keys.push_back(qm::CStr(e.Key));
  return keys;
}

// The first line a shell command writes.
std::string CommandOutput(const std::string& command) {
  const std::string out = qm::test::Output(command);
  return out.substr(0, out.find('\n'));
}

// A desktop that only counts how often its events are pumped.
class CountingDesktop final : public qm::test::StubDesktop {
 public:
  explicit CountingDesktop(int& pumps) : pumps_(pumps) {}
  void DoEvents() override { ++pumps_; }

 private:
  int& pumps_;
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

TEST(UtilityContainers, CollectionCopiesLoseTheirKeys) {
  qm::Utility u;
  qm::Collection c;
  auto object = std::make_shared<qm::Object>();
  c.Add(Variant(1), "one");
  c.Add(Variant(object), "two");
  c.Add(Variant("three"));
  auto copy = u.CopyCollection(c);
  ASSERT_EQ(copy->Count(), 3);
  EXPECT_EQ(copy->Item(1), Variant(1));
  EXPECT_EQ(copy->Item(2).ObjectRef(), object);
  EXPECT_THROW(copy->Item(Variant("one")), qm::Error);

  Variant array = u.CollectionToArray(c);
  EXPECT_EQ(std::pair(array.Array().LBound(), array.Array().UBound()), std::pair(0, 2));
  EXPECT_EQ(array.Array()(1).ObjectRef(), object);  // the same object, not a copy
  EXPECT_EQ(u.CollectionToArray(qm::Collection()).Array().UBound(), -1);

  auto back = u.ArrayToCollection(array);
  EXPECT_EQ(back->Count(), 3);
  EXPECT_EQ(back->Item(3), Variant("three"));
  Variant oneBased(qm::VariantArray::FromVector({Variant(1)}, 1));
  EXPECT_THROW(u.ArrayToCollection(oneBased), qm::Error);  // element 0 does not exist
  EXPECT_THROW(u.ArrayToCollection(Variant(5)), qm::Error);
}

TEST(UtilityContainers, DictionariesCopyConvertAndAppend) {
  qm::Utility u;
  qm::Dictionary a, b;
  a.Add(Variant("x"), Variant(1));
  a.Add(Variant("y"), Variant(2));
  b.Add(Variant("z"), Variant(3));
  EXPECT_EQ(KeysOf(*u.CopyDictionary(a)), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(KeysOf(*u.AppendDictionary(a, b)), (std::vector<std::string>{"x", "y", "z"}));
  EXPECT_EQ(u.AppendDictionary(qm::Dictionary(), qm::Dictionary())->Count(), 0);
  const qm::Error e = qm::test::RaisedBy([&] { u.AppendDictionary(a, a); });
  EXPECT_EQ(e.Number(), 457);
  EXPECT_TRUE(e.Source().ends_with("|[Utility]Public Function AppendDictionary(?, ?)")) << e.Source();
  qm::Collection c;
  c.Add(Variant("p"));
  c.Add(Variant("q"));
  auto d = u.CollectionToDictionary(c);
  EXPECT_EQ(d->Get(Variant("q")), Variant("q"));
  c.Add(Variant("p"));
  EXPECT_THROW(u.CollectionToDictionary(c), qm::Error);
}

TEST(UtilityContainers, SortDictionaryByStringAndNumericKeysAsStdSortDoes) {
  qm::Utility u;
  qm::Dictionary d;
  d.Add(Variant("b"), Variant(1));
  d.Add(Variant("a"), Variant(2));
  d.Add(Variant("c"), Variant(3));
  EXPECT_EQ(KeysOf(*u.SortDictionary(d)), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(KeysOf(d), (std::vector<std::string>{"b", "a", "c"}));  // the input keeps its order
  EXPECT_EQ(u.SortDictionary(qm::Dictionary())->Count(), 0);

  std::mt19937 random(3);
  for (int size : {2, 3, 7, 100, 2000}) {
    for (int order = 0; order < 3; ++order) {  // random, ascending, descending
      std::vector<int> keys(static_cast<std::size_t>(size));
      std::iota(keys.begin(), keys.end(), 0);
      if (order == 0) std::shuffle(keys.begin(), keys.end(), random);
      if (order == 2) std::reverse(keys.begin(), keys.end());
      qm::Dictionary d;
      for (int k : keys) d.Add(Variant(k), Variant(-k));
      const auto sorted = u.SortDictionary(d);
      int i = 0;
      for (const auto& e : *sorted) {
        ASSERT_TRUE(e.Key == Variant(i) && e.Value == Variant(-i)) << size << " " << order << " at " << i;
        ++i;
      }
      ASSERT_EQ(i, size);
    }
  }
}

TEST(UtilityContainers, RedimKeepsElementsAndReferencesAreCounted) {
  qm::Utility u;
  Variant v(qm::VariantArray::FromVector({Variant(1), Variant(2), Variant(3)}));
  u.RedimVariantArray(v, 0, 5);
  ASSERT_EQ(v.Array().UBound(), 4);
  EXPECT_EQ(v.Array()(2), Variant(3));
  EXPECT_TRUE(v.Array()(4).IsEmpty());
  u.RedimVariantArray(v, 1, 2);
  EXPECT_EQ(v.Array().LBound(), 1);
  EXPECT_EQ(v.Array()(2), Variant(2));
  u.RedimVariantArray(v, 0, 0);
  EXPECT_EQ(v.Array().UBound(), -1);

  Variant notArray(5);
  const qm::Error e = qm::test::RaisedBy([&] { u.RedimVariantArray(notArray, 0, 1); });
  EXPECT_EQ(e.Number(), 5);
  EXPECT_EQ(e.Description(), "Invalid procedure call or argument");
  EXPECT_TRUE(e.Source().ends_with("[Utility]Public Sub RedimVariantArray(?, 0, 1)")) << e.Source();
  EXPECT_THROW(u.RedimVariantArray(v, 0, -1), qm::Error);
  EXPECT_THROW(u.RedimVariantArray(v, 0, 2000000000), qm::Error);  // refused, nothing allocated
  EXPECT_THROW(u.RedimVariantArray(v, 2147483647, 2), qm::Error);

  auto object = std::make_shared<qm::Object>();
  EXPECT_EQ(u.ReferenceCount(nullptr), 0);
  EXPECT_EQ(u.ReferenceCount(object), 1);
  auto other = object;
  EXPECT_EQ(u.ReferenceCount(object), 2);
  other.reset();
  EXPECT_EQ(u.ReferenceCount(object), 1);
  // The static type of the pointer adds nothing.
  auto collection = std::make_shared<qm::Collection>();
  EXPECT_EQ(u.ReferenceCount(collection), 1);
  const std::shared_ptr<qm::Dispatch> asDispatch = collection;
  EXPECT_EQ(u.ReferenceCount(asDispatch), 2);
  EXPECT_EQ(u.ReferenceCount(std::shared_ptr<qm::Collection>()), 0);
}

TEST(UtilityProcesses, RunningProcessesIncludeThisOneAndTheUsersIdentity) {
  qm::Utility u;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const qm::Variant list = u.GetRunningProcesses();
  ASSERT_TRUE(list.IsArray());
  EXPECT_EQ(list.Array().LBound(), 0);
  int found = 0;
  for (const auto& path : list.Array().Data()) {
    EXPECT_TRUE(path.String().starts_with("/")) << path.String();
    found += path.String() == self;
  }
  EXPECT_GE(found, 1) << self;

  EXPECT_EQ(u.GetWindowsUserName(), CommandOutput("id -un"));
  const std::string domain = u.GetWindowsNTDomain();
  EXPECT_FALSE(domain.empty());
  const std::string nis = CommandOutput("domainname 2>/dev/null");
  EXPECT_EQ(domain, nis.empty() || nis == "(none)" ? CommandOutput("hostname") : nis);
}

TEST(UtilityProcesses, ExecuteAndWaitWaitsForTheProgram) {
  qm::Utility u;
  qm::test::ScratchDir dir;
  const std::string marker = dir / "done file";
  u.ExecuteAndWait("sh -c \"sleep 0.1; echo ok > '" + marker + "'\"");
  EXPECT_EQ(qm::test::ReadFile(marker), "ok\n");  // the program has ended when the call returns
  EXPECT_NO_THROW(u.ExecuteAndWait("no-such-program-anywhere --flag"));
  EXPECT_NO_THROW(u.ExecuteAndWait("   "));
}

TEST(UtilityProcesses, DoEventsWaitPumpsWhileItWaits) {
  qm::Utility u;
  int pumps = 0;
  qm::test::DesktopScope<CountingDesktop> desktop(pumps);
  u.DoEventsWait(0);
  EXPECT_EQ(pumps, 1);
  pumps = 0;
  const auto start = std::chrono::steady_clock::now();
  u.DoEventsWait(60);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(60));
  EXPECT_GE(pumps, 3);
  EXPECT_NO_THROW(u.DoEventsWait(-5));
}
