// The utility classes: Utility's paths, containers and processes; the file
// search, temporary files and the stream writer.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>

#include "quillmark/errors/Error.h"
#include "quillmark/runtime/FileTable.h"
#include "quillmark/utility/FileRecurser.h"
#include "quillmark/utility/FindFiles.h"
#include "quillmark/utility/OLEStreamWriter.h"
#include "quillmark/utility/TemporaryFile.h"
#include "quillmark/utility/Utility.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Dispatch.h"
#include "support/Child.h"
#include "support/ErrorTrail.h"
#include "support/ProgressLog.h"
#include "support/StubDesktop.h"
#include "support/TestEnvironment.h"

namespace fs = std::filesystem;
using qm::Variant;
using qm::VariantArray;
using namespace qm::test;

namespace {

struct Form : qm::Dispatch {
  qm::Variant GetMember(std::string_view name, std::vector<qm::Variant>& args) override {
    if (qm::SameName(name, "hwnd")) return qm::Variant(std::int32_t{42});
    return Dispatch::GetMember(name, args);
  }
};

// A dictionary's entries in order, "key=value" parted by blanks.
std::string Listed(const qm::Dictionary& d) {
  std::string entries;
  for (const auto& e : d) entries += (entries.empty() ? "" : " ") + qm::CStr(e.Key) + "=" + qm::CStr(e.Value);
  return entries;
}

// The first line a shell command writes.
std::string CommandOutput(const std::string& command) {
  const std::string out = Output(command);
  return out.substr(0, out.find('\n'));
}

// A desktop that only counts how often its events are pumped.
struct CountingDesktop final : StubDesktop {
  explicit CountingDesktop(int& counter) : pumps(counter) {}
  void DoEvents() override { ++pumps; }
  int& pumps;
};

}  // namespace

TEST(UtilityPathsAndProcesses, UrlsRelativeShortAndLongPathsTempNamesTheUsersFoldersAndProcesses) {
  qm::Utility u;
  EXPECT_EQ(u.FilenameToURL("C:\\My Files\\a b.htm").String(), "file:///C:/My%20Files/a%20b.htm");
  EXPECT_EQ(u.FilenameToMHTURL("C:\\My Files\\a b.htm").String(), "mhtml:file://C:\\My%20Files\\a%20b.htm");
  EXPECT_EQ(u.FilenameToURL("/home/me/a b#1%.htm").String(), "file:///home/me/a%20b#1%.htm");

  // Relative paths; none across drives, without a common root or longer than the buffer.
  const std::tuple<std::string, std::string, std::string> relative[] = {
      {"C:\\a\\b", "C:\\a\\c\\d.txt", "../c/d.txt"}, {"/a/b", "/a/b/c.txt", "./c.txt"}, {"C:\\a", "D:\\a\\b.txt", ""},
      {"/a", "/" + std::string(300, 'x'), ""},       {"/a/b/", "/x/y", "../../x/y"},    {"/a", "b/c", ""}};
  for (const auto& [root, path, expected] : relative) EXPECT_EQ(u.GetRelativePath(root, path), expected) << path;

  // Temporary names count up once taken; nothing is reserved.
  const std::string first = u.GetTempFilename();
  EXPECT_TRUE(first == u.GetTempFilename() && first.ends_with(".tmp")) << first;
  WriteFile(first, "");
  const std::string second = u.GetTempFilename();
  EXPECT_TRUE(second != first && !fs::exists(second)) << second;
  EXPECT_EQ(fs::path(u.GetTempFilename(std::string())).extension(), "");
  fs::remove(first);

  // A compact path keeps the file name: unchanged when it fits, else with as
  // much folder as fits.
  const std::string path = "/home/someone/projects/reports/2024/summary.txt";  // 48 characters
  for (const auto& [chars, compact] :
       {std::pair<int, std::string>{48, path}, {30, "/home/someone/p.../summary.txt"}, {8, "summa..."}, {0, "..."}})
    EXPECT_EQ(u.GetCompactPath(path, 0, chars * 7), compact) << chars;

  ScratchDir dir;
  fs::create_directories(dir.Path() / "Reports" / "March");
  const std::string exact = (dir.Path() / "Reports" / "March" / "Sales.txt").string();
  WriteFile(exact, "x");
  EXPECT_EQ(std::pair(u.Get811Name(exact), u.GetShortName(exact)), std::pair(exact, exact));
  EXPECT_EQ(u.Get811Name(dir / "missing.txt"), "");
  EXPECT_EQ(u.GetLongFilename(dir.Path().string() + "/REPORTS/march/sales.TXT"), exact);
  EXPECT_EQ(u.GetLongFilename(dir.Path().string() + "\\Reports\\March\\Sales.txt"), exact);
  EXPECT_EQ(u.GetLongFilename(dir.Path().string() + "/Nowhere/Sales.txt"), "");

  EXPECT_TRUE(fs::is_directory(u.GetSysDir())) << u.GetSysDir();
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "/";
  const std::string saved = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
  setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
  EXPECT_EQ(u.GetMyDocumentsDir(), home + "/Documents");
  WriteFile(dir / "user-dirs.dirs", "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
  EXPECT_EQ(u.GetMyDocumentsDir(), home + "/Dokumente");
  setenv("XDG_CONFIG_HOME", saved.c_str(), 1);

  // Window order needs a desktop; an object without hwnd fails with the
  // late-binding error. MHT is written beside the page.
  EXPECT_EQ(Trail([&] { u.SetFocusWindow(qm::Variant(std::make_shared<Form>())); }),
            "9999: No user interface is available: link quillmark::ui and run with a display @ "
            "QuillmarkLibrary.Utility|[Utility]Public Sub SetFocusWindow(?)");
  EXPECT_EQ(Trail([&] { u.SetAlwaysOnTop(qm::Variant(std::make_shared<qm::Dispatch>()), false); }),
            "438: Object doesn't support this property or method @ "
            "QuillmarkLibrary.Utility|[Utility]Public Sub SetAlwaysOnTop(?, False)");
  WriteFile(dir / "a.b.htm", "<html><body><p>Hello</p></body></html>");
  u.ConvertHTMLToMHT(dir / "a.b.htm");
  EXPECT_NE(ReadFile(dir / "a.b.mht").find("Hello"), std::string::npos);
  const qm::Error e = RaisedBy([&] { u.ConvertHTMLToMHT(dir / "missing.htm"); });
  EXPECT_TRUE(e.Number() == 53 &&
              e.Source().ends_with("|[Utility]Public Sub ConvertHTMLToMHT(\"" + (dir / "missing.htm") + "\")"))
      << e.Source();

  // Running processes, the user's identity, and waiting.
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const qm::Variant list = u.GetRunningProcesses();
  ASSERT_TRUE(list.IsArray() && list.Array().LBound() == 0);
  int found = 0;
  for (const auto& path : list.Array().Data()) {
    EXPECT_TRUE(path.String().starts_with("/")) << path.String();
    found += path.String() == self;
  }
  EXPECT_GE(found, 1) << self;
  EXPECT_EQ(u.GetWindowsUserName(), CommandOutput("id -un"));
  const std::string domain = u.GetWindowsNTDomain(), nis = CommandOutput("domainname 2>/dev/null");
  EXPECT_FALSE(domain.empty());
  EXPECT_EQ(domain, nis.empty() || nis == "(none)" ? CommandOutput("hostname") : nis);

  const std::string marker = dir / "done file";
  u.ExecuteAndWait("sh -c \"sleep 0.1; echo ok > '" + marker + "'\"");
  EXPECT_EQ(ReadFile(marker), "ok\n");  // the program has ended when the call returns
  for (const char* command : {"no-such-program-anywhere --flag", "   "}) EXPECT_NO_THROW(u.ExecuteAndWait(command));

  int pumps = 0;
  DesktopScope<CountingDesktop> desktop(pumps);
  u.DoEventsWait(0);
  EXPECT_EQ(pumps, 1);
  const auto start = std::chrono::steady_clock::now();
  u.DoEventsWait(60);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
  EXPECT_GE(pumps, 1 + 3);
  EXPECT_NO_THROW(u.DoEventsWait(-5));
}

TEST(UtilityContainers, CollectionsDictionariesAndArraysCopyConvertSortAndRedim) {
  qm::Utility u;
  qm::Collection c;
  auto object = std::make_shared<qm::Object>();
  c.Add(Variant(1), "one");
  c.Add(Variant(object), "two");
  c.Add(Variant("three"));
  // Arrays and copies hold the same object, not a copy of it; a copy loses the keys.
  const Variant items(VariantArray::FromVector({1, Variant(object), "three"}));
  const Variant array = u.CollectionToArray(c);
  EXPECT_EQ(array, items);
  EXPECT_EQ(u.CollectionToArray(qm::Collection()), Variant(VariantArray()));
  EXPECT_EQ(u.CollectionToArray(*u.ArrayToCollection(array)), items);
  const auto copy = u.CopyCollection(c);
  EXPECT_EQ(u.CollectionToArray(*copy), items);
  EXPECT_THROW(copy->Item(Variant("one")), qm::Error);
  EXPECT_THROW(u.ArrayToCollection(Variant(VariantArray::FromVector({Variant(1)}, 1))), qm::Error);  // no 0
  EXPECT_THROW(u.ArrayToCollection(Variant(5)), qm::Error);

  qm::Dictionary a, b;
  for (const auto& [key, value] : {std::pair("x", 1), {"y", 2}}) a.Add(Variant(key), Variant(value));
  b.Add(Variant("z"), Variant(3));
  EXPECT_EQ(Listed(*u.CopyDictionary(a)), "x=1 y=2");
  EXPECT_EQ(Listed(*u.AppendDictionary(a, b)), "x=1 y=2 z=3");
  EXPECT_EQ(u.AppendDictionary(qm::Dictionary(), qm::Dictionary())->Count(), 0);
  EXPECT_EQ(Trail([&] { u.AppendDictionary(a, a); }),
            "457: This key is already associated with an element of this collection @ "
            "QuillmarkLibrary.Utility|[Utility]Public Function AppendDictionary(?, ?)");
  qm::Collection letters;
  for (const char* letter : {"p", "q"}) letters.Add(Variant(letter));
  EXPECT_EQ(Listed(*u.CollectionToDictionary(letters)), "p=p q=q");
  letters.Add(Variant("p"));
  EXPECT_THROW(u.CollectionToDictionary(letters), qm::Error);

  // Sorting by string and numeric keys as std::sort does; the input keeps its order.
  qm::Dictionary d;
  for (const char* key : {"b", "a", "c"}) d.Add(Variant(key), Variant(1));
  EXPECT_EQ(Listed(*u.SortDictionary(d)), "a=1 b=1 c=1");
  EXPECT_EQ(Listed(d), "b=1 a=1 c=1");
  EXPECT_EQ(u.SortDictionary(qm::Dictionary())->Count(), 0);
  std::mt19937 random(3);
  for (int size : {2, 3, 7, 100, 2000}) {
    for (int order = 0; order < 3; ++order) {  // random, ascending, descending
      std::vector<int> keys(static_cast<std::size_t>(size));
      std::iota(keys.begin(), keys.end(), 0);
      if (order == 0) std::shuffle(keys.begin(), keys.end(), random);
      if (order == 2) std::reverse(keys.begin(), keys.end());
      qm::Dictionary numbers;
      for (int k : keys) numbers.Add(Variant(k), Variant(-k));
      std::string sorted;
      for (int k = 0; k < size; ++k) sorted += (k ? " " : "") + std::to_string(k) + "=" + std::to_string(-k);
      ASSERT_EQ(Listed(*u.SortDictionary(numbers)), sorted) << order;
    }
  }

  // Redim keeps the elements; the array may become empty.
  Variant v(VariantArray::FromVector({1, 2, 3}));
  u.RedimVariantArray(v, 0, 5);
  EXPECT_EQ(v, Variant(VariantArray::FromVector({1, 2, 3, {}, {}})));
  u.RedimVariantArray(v, 1, 2);
  EXPECT_EQ(v, Variant(VariantArray::FromVector({1, 2}, 1)));
  u.RedimVariantArray(v, 0, 0);
  EXPECT_EQ(v, Variant(VariantArray()));
  Variant notArray(5);
  EXPECT_EQ(Trail([&] { u.RedimVariantArray(notArray, 0, 1); }),
            "5: Invalid procedure call or argument @ QuillmarkLibrary.Utility|[Utility]Public Sub RedimVariantArray(?, "
            "0, 1)");
  // A negative count, one too large (refused, nothing allocated), a bound past the largest.
  for (const auto& [low, count] : {std::pair(0, -1), {0, 2000000000}, {2147483647, 2}})
    EXPECT_THROW(u.RedimVariantArray(v, low, count), qm::Error) << count;

  // References are counted whatever the static type of the pointer.
  auto fresh = std::make_shared<qm::Object>();
  EXPECT_EQ(u.ReferenceCount(nullptr), 0);
  EXPECT_EQ(u.ReferenceCount(fresh), 1);
  EXPECT_EQ(u.ReferenceCount(std::shared_ptr<qm::Object>(fresh)), 2);  // a second holder
  auto collection = std::make_shared<qm::Collection>();
  const std::shared_ptr<qm::Dispatch> asDispatch = collection;
  EXPECT_EQ(u.ReferenceCount(asDispatch), 2);
}

// The files FileRecurser finds under `root`, relative to it, parted by blanks.
std::string Found(const char* pattern, bool recurse, const fs::path& root, const qm::Progress& progress = {}) {
  const qm::Variant found = qm::FileRecurser().Files(pattern, recurse, root.string(), progress);
  std::string names;
  for (const auto& v : found.Array().Data())
    names += (names.empty() ? "" : " ") + fs::path(v.String()).lexically_relative(root).string();
  return names;
}

TEST(FileRecurser, MatchesWithoutRegardToCaseRecursesDepthFirstInNameOrderAndFindFilesGivesItsList) {
  ScratchDir dir;
  for (const char* name : {"a.txt", "B.Txt", "c.doc", "notes.txt.bak", "x\xE9.dat", "x\xC9.dat"})
    WriteFile(dir / name, "");
  fs::create_directory(dir.Path() / "sub.txt");  // folders never match
  // Names that are not UTF-8 are found by their own bytes only (letters
  // beyond ASCII match as Like's TextCompare has them).
  for (const auto& [pattern, found] : {std::pair{"*.TXT", "B.Txt a.txt"},
                                       {"  *.txt ", "B.Txt a.txt"},
                                       {"X\xE9.*", "x\xE9.dat"},
                                       {"x?.dat", "x\xC9.dat x\xE9.dat"}})
    EXPECT_EQ(Found(pattern, false, dir.Path()), found) << pattern;

  ScratchDir tree;  // depth first, in name order
  for (const char* folder : {"s1/deep", "s2"}) fs::create_directories(tree.Path() / folder);
  for (const char* name : {"f1", "s2/h1", "s1/g1", "s1/deep/d1"}) WriteFile(tree / name, "");
  fs::create_directory_symlink(tree.Path() / "s1", tree.Path() / "s3");  // links to folders are not followed
  EXPECT_EQ(Found("*", false, tree.Path()), "f1");
  // Progress: each folder listed, the total not known; the result the same.
  ProgressLog log;
  EXPECT_EQ(Found("*", true, tree.Path(), log.Callback()), "f1 s1/g1 s1/deep/d1 s2/h1");
  EXPECT_EQ(log.Calls, (decltype(log.Calls){{1, 0}, {2, 0}, {3, 0}, {4, 0}}));

  // A failure in a subfolder carries one element for each folder entered, as
  // recursive calls of Files would, under the pattern as passed on (upper case).
  const auto failAtDeep = [](std::uint64_t done, std::uint64_t) {
    if (done == 3) throw qm::Error(1234, "Client", "stopped");
  };
  const qm::Error e = RaisedBy([&] { Found(" [a-z]* ", true, tree.Path(), failAtDeep); });
  const auto element = [](const std::string& filter, const fs::path& folder) {
    return "|[FileRecurser]Public Function Files(\"" + filter + "\", True, \"" + folder.string() + "\")";
  };
  EXPECT_EQ(e.Source(), "Client" + element("[A-Z]*", tree.Path() / "s1/deep") + element("[A-Z]*", tree.Path() / "s1") +
                            element(" [a-z]* ", tree.Path()));

  // An empty folder, a missing one, a bad pattern.
  ScratchDir empty;
  const qm::Variant none = qm::FileRecurser().Files("*", true, empty.Path().string());
  EXPECT_EQ(std::pair(none.Array().LBound(), none.Array().UBound()), std::pair(0, -1));
  EXPECT_EQ(Trail([&] { qm::FileRecurser().Files("*", false, empty / "missing"); }),
            "76: Path not found @ QuillmarkLibrary.FileRecurser|[FileRecurser]Public Function Files(\"*\", False, \"" +
                (empty / "missing") + "\")");
  EXPECT_EQ(ErrorOf([&] { qm::FileRecurser().Files("[abc", false, dir.Path().string()); }), 93);

  // FindFiles makes its paths on a lane beside the walk once a search finds
  // hundreds: the result is the recurser's list, in order, also when the
  // callback stops the search or forks a child that goes on with it (the
  // child cannot trust the paths its parent's lane was making).
  ScratchDir many;
  for (int folder = 0; folder < 4; ++folder) {
    const fs::path sub = many.Path() / ("f" + std::to_string(folder));
    fs::create_directory(sub);
    for (int file = 0; file < 700; ++file) WriteFile(sub / ("n" + std::to_string(file) + ".txt"), "");
  }
  const qm::Variant published = qm::FileRecurser().Files("*.txt", true, many.Path().string());
  std::vector<std::string> expected;
  for (const auto& v : published.Array().Data()) expected.push_back(v.String());
  ASSERT_EQ(expected.size(), 2800u);
  // Folder 4 is listed once two folders' paths were handed to the lane.
  const auto stop = [](std::uint64_t done, std::uint64_t) {
    if (done == 4) throw std::runtime_error("stop");
  };
  EXPECT_THROW(qm::FindFiles(many.Path(), "*.txt", true, stop), std::runtime_error);

  // The child starts a thread, which ThreadSanitizer does not allow, and a
  // fork amid helper threads is not safe under the sanitizers' allocator
  // (as in the fork matrix); then the search runs without the fork.
  const bool fork = !ThreadSanitizer() && !SanitizerAllocator();
  pid_t child = -1;
  const auto atFolder = [&](std::uint64_t done, std::uint64_t) {
    if (!fork || done != 4) return;
    child = ::fork();
    if (child == 0) ::alarm(10);
  };
  std::vector<std::string> found;
  try {
    for (const auto& p : qm::FindFiles(many.Path(), "*.txt", true, atFolder)) found.push_back(p.string());
  } catch (...) {
    if (child == 0) ::_exit(2);
    throw;
  }
  if (child == 0) ::_exit(found == expected ? 0 : 1);
  EXPECT_EQ(found, expected);
  EXPECT_TRUE(!fork || Succeeded(child));
}

// A temporary file is made empty and deleted with its object; each text
// stream starts it afresh. Its file number, once assigned, stays reserved
// until a file is opened under it or the object lets it go.
TEST(TemporaryFile, CreatesEmptiesAndDeletesItsFileAndReservesItsNumber) {
  std::string name;
  {
    qm::TemporaryFile t;
    name = t.Filename();
    EXPECT_EQ(fs::path(name).parent_path(), fs::path(qm::Utility::TempFolder()));
    EXPECT_TRUE(fs::path(name).filename().string().starts_with("~tmp") && !fs::path(name).has_extension()) << name;
    ASSERT_TRUE(fs::exists(name) && fs::file_size(name) == 0u);
    t.SetSuffix(".xls");
    EXPECT_FALSE(fs::exists(name));
    name = t.Filename();
    EXPECT_TRUE(name.ends_with(".xls") && fs::exists(name));
  }
  EXPECT_FALSE(fs::exists(name));

  qm::TemporaryFile t;
  auto s = t.CreateTextStream(false);
  s->WriteLine("first");
  s->Close();
  s = t.CreateTextStream(true);
  s->Write("é");
  s->Close();
  EXPECT_EQ(ReadFile(t.Filename()), std::string("\xFF\xFE\xE9\x00", 4));

  // The file number must be assigned first; it is only reserved, not opened.
  EXPECT_EQ(Trail([&] { t.FileNo(); }),
            "11000: AssignFileNo() not yet called @ QuillmarkLibrary.QMGLobal|[QMGLobal]Public Sub Assert(False, "
            "\"AssignFileNo() not yet called\")|[TemporaryFile]Public Property Get FileNo()");
  const std::int32_t n = t.AssignFileNo();
  EXPECT_EQ(std::pair(qm::files::IsOpen(n), t.FileNo()), std::pair(false, n));

  auto first = std::make_unique<qm::TemporaryFile>();
  auto second = std::make_unique<qm::TemporaryFile>();
  const std::int32_t a = first->AssignFileNo();
  const std::int32_t b = second->AssignFileNo();
  const std::int32_t lowest = qm::files::FreeFile();
  EXPECT_TRUE(a != b && lowest != a && lowest != b) << a << " " << b;  // neither has opened a file yet
  EXPECT_EQ(first->AssignFileNo(), a);                                 // assigning again keeps the number

  // Opening under the number ends the reservation; closing frees the number,
  // and the object's release later takes nothing from a newer holder.
  qm::files::Open(a, first->Filename(), qm::files::OpenMode::Output);
  qm::files::Close(a);
  qm::TemporaryFile third;
  EXPECT_EQ(third.AssignFileNo(), a);
  first.reset();
  qm::TemporaryFile fourth;
  EXPECT_NE(fourth.AssignFileNo(), a);

  // Released without opening: the number is free again.
  second.reset();
  EXPECT_EQ(qm::files::FreeFile(), b);
  qm::TemporaryFile fifth;
  fifth.AssignFileNo();
  fifth.SetSuffix(".xls");  // a new file: the number goes back too
  EXPECT_EQ(qm::files::FreeFile(), b);
}

// Names are never shared, even across processes: the child takes its names
// while the parent takes its own. A child after fork holds the parent's
// object: releasing it there leaves the file (the parent deletes it), and the
// child cannot empty it for a stream; a TemporaryFile the child makes is the
// child's to delete.
TEST(TemporaryFile, AChildLeavesTheParentsFileToTheParentAndDeletesItsOwn) {
  constexpr int kPerProcess = 40;
  ScratchDir dir;
  auto parents = std::make_unique<qm::TemporaryFile>();
  const std::string name = parents->Filename();
  WriteFile(name, "the parent's");
  const pid_t child = ForkChild([&] {
    bool ok = ErrorOf([&] { parents->CreateTextStream(false); }) == 75 && parents->Filename() == name;
    parents.reset();
    ok = ok && ReadFile(name) == "the parent's";
    // The child's own file goes with it. Its name may be free for the parent
    // to take at once, so what is checked is that the child's bytes are gone.
    std::string own;
    {
      qm::TemporaryFile mine;
      own = mine.Filename();
      WriteFile(own, "the child's");
    }
    ok = ok && !(fs::exists(own) && ReadFile(own) == "the child's");
    const std::vector<qm::TemporaryFile> kept(kPerProcess);
    std::string names;
    for (const auto& file : kept) names += file.Filename() + "\n";
    WriteFile(dir / "child", names);
    ::_exit(ok ? 0 : 1);  // runs no destructors: the files stay for the parent to check and remove
    return false;
  });
  const std::vector<qm::TemporaryFile> ours(kPerProcess);
  std::set<std::string> names{name};
  for (const auto& file : ours) EXPECT_TRUE(names.insert(file.Filename()).second);
  EXPECT_TRUE(Succeeded(child));
  std::istringstream theirs(ReadFile(dir / "child"));
  int count = 0;
  for (std::string taken; std::getline(theirs, taken); ++count) {
    EXPECT_TRUE(names.insert(taken).second) << taken << " was handed out twice";
    fs::remove(taken);
  }
  EXPECT_EQ(count, kPerProcess);
  EXPECT_EQ(ReadFile(name), "the parent's");
  parents.reset();
  EXPECT_FALSE(fs::exists(name));
}

// Varied bytes, the same for any call of the same size.
std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13 + i / 251);
  return data;
}

TEST(OLEStreamWriter, WritesExactlyTheBytesOfTheStreamSeekRewrites) {
  ScratchDir dir;
  const std::vector<std::uint8_t> data = Pattern(10000);
  qm::OLEStreamWriter writer;
  auto stream = writer.Stream();
  EXPECT_EQ(stream->Write(std::span(data).first(3000)), 3000u);
  EXPECT_EQ(stream->Write(std::span(data).subspan(3000, 7000)), 7000u);
  WriteFile(dir / "out.bin", std::string(20000, 'x'));
  writer.WriteToFile(dir / "out.bin");
  EXPECT_EQ(ReadFile(dir / "out.bin"), std::string(data.begin(), data.end()));
  // The stream is gone afterwards.
  EXPECT_THROW(writer.Stream(), qm::Error);
  EXPECT_EQ(ErrorOf([&] { stream->Write(std::span(data).first(1)); }), 91);

  // Nothing written gives an empty file.
  qm::OLEStreamWriter().WriteToFile(dir / "empty.bin");
  EXPECT_EQ(ReadFile(dir / "empty.bin"), "");
  qm::OLEStreamWriter again;
  auto rewritten = again.Stream();
  rewritten->Write(std::span(reinterpret_cast<const std::uint8_t*>("hello world"), 11));
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
  const std::vector<std::uint8_t> data = Pattern(300000);
  for (const bool release : {false, true}) {
    auto writer = std::make_unique<qm::OLEStreamWriter>();
    auto stream = writer->Stream();
    stream->Write(std::span(data).first(100001));
    EXPECT_TRUE(InChild([&] {
      const bool refused = ErrorOf([&] { stream->Write(std::span(data).first(5000)); }) == 75 &&
                           ErrorOf([&] { writer->WriteToFile(dir / "child.bin"); }) == 75;
      if (release) {
        stream.reset();
        writer.reset();
      }
      // As exit() does, every stdio stream is flushed (then _exit: the leak
      // check of a sanitizer build would count what a child lets go).
      std::fflush(nullptr);
      return refused;
    }));
    stream->Write(std::span(data).subspan(100001));
    writer->WriteToFile(dir / "out.bin");
    EXPECT_TRUE(ReadFile(dir / "out.bin") == std::string(data.begin(), data.end())) << release;
  }
}
