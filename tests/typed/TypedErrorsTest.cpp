// Errors a program can test: the cause beside the number, one error for a
// missing folder whatever the job, and one policy for a progress callback
// that throws.

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "graphics/PictureFiles.h"
#include "quillmark/frame/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/graphics/IJL.h"
#include "quillmark/html/HTML2MHT.h"
#include "quillmark/persistence/VectorCollection.h"
#include "quillmark/quillmark.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using qm::test::Explained;
using qm::test::RaisedBy;
using qm::test::ReadFile;
using qm::test::ScratchDir;
using qm::test::WriteFile;

void FramedRaise(std::int32_t number, qm::errc cause) {
  QM_FRAME_TRY { qm::Raise(number, cause, "inner"); }
  QM_FRAME_CATCH("Utility", "Public Sub Inner", number);
}

void FramedFilesystemFailure(std::errc cause) {
  QM_FRAME_TRY { throw fs::filesystem_error("cannot write", "x", std::make_error_code(cause)); }
  QM_FRAME_CATCH("Utility", "Public Sub Inner");
}

TEST(ErrorCodes, OneNumberManyCausesAndEachCauseTestable) {
  const qm::Error plain(qm::ERR_FileNotFound, "", "File not found");
  EXPECT_EQ(plain.code(), std::errc::no_such_file_or_directory);
  EXPECT_EQ(qm::Error(12345, "", "client").code(), qm::errc::other);

  // The site's cause survives the frames; the number and trail are as ever.
  const auto framed = [] { FramedRaise(qm::ERR_General, qm::errc::too_large); };
  EXPECT_EQ(Explained(framed), "9999 too_large: inner");
  EXPECT_EQ(RaisedBy(framed).Source(), "QuillmarkLibrary.Utility|[Utility]Public Sub Inner(9999)");
  EXPECT_EQ(RaisedBy([] { FramedRaise(qm::ERR_General, qm::errc::cancelled); }).code(), std::errc::operation_canceled);

  // A system failure keeps its number (75 for a full disk) and says the cause.
  EXPECT_EQ(Explained([] { FramedFilesystemFailure(std::errc::no_space_on_device); }),
            "75 no_space: Path/File access error");
  EXPECT_EQ(RaisedBy([] { FramedFilesystemFailure(std::errc::read_only_file_system); }).code(),
            qm::errc::permission_denied);
  EXPECT_EQ(qm::ErrcOfErrno(ENOTDIR), qm::errc::not_found);
  EXPECT_EQ(qm::ErrcOfErrno(EDQUOT), qm::errc::no_space);
  EXPECT_EQ(qm::ErrcOfErrno(EIO), qm::errc::io_error);

  // Every row of the table has a cause, and an error of its number has it.
  for (const auto& row : qm::ErrorRows()) {
    EXPECT_NE(qm::ErrcName(row.Code), "none") << row.Number;
    EXPECT_EQ(qm::Error(row.Number, "", "").code(), row.Code) << row.Number;
  }
}

struct Order : qm::IPersistableSimple {
  qm::ScalarFieldsPtr GetScalarFields(std::int32_t) override { return std::make_shared<qm::ScalarFields>(); }
  void SetScalarFields(std::int32_t, const qm::ScalarFieldsPtr&) override {}
  std::string Name(std::int32_t) override { return "Order"; }
  bool Compatible(const std::string& name, std::int32_t) override { return name == "Order"; }
};

struct Line {
  std::int64_t Count = 0;
  static void Describe(qm::RecordType<Line>& r) { r.Name("Line").Field("Count", &Line::Count); }
};

// Writing into a folder that is not there, or reading from one, is the one
// error naming the folder; a missing file is the one naming the file.
TEST(TypedErrors, AMissingFolderIsOneErrorWhateverTheJob) {
  ScratchDir dir;
  WriteFile(dir / "page.html", "<html><body>hi</body></html>");
  WriteFile(dir / "in.txt", "some text to pack");
  qm::CompressFile(dir.Path() / "in.txt", dir.Path() / "in.qmz");
  const fs::path missing = dir.Path() / "no-folder";
  const fs::path inputs[] = {dir.Path() / "in.txt"};
  const qm::RgbImage picture{1, 1, {0, 0, 0}};
  const std::vector<std::vector<std::string>> table{{"a", "b"}};
  const std::pair<const char*, std::function<void()>> jobs[] = {
      {"workbook", [&] { qm::WriteWorkbook(missing / "t.xlsx", table); }},
      {"jpeg", [&] { qm::WriteJpeg(picture, missing / "p.jpg"); }},
      {"zip", [&] { qm::ZipFiles(missing / "a.zip", inputs); }},
      {"mht", [&] { qm::PackMht(dir.Path() / "page.html", missing / "p.mht"); }},
      {"objects", [&] { qm::SaveObjects(missing / "o.qms", "Orders", std::vector{std::make_shared<Order>()}); }},
      {"records", [&] { qm::SaveRecords(missing / "r.qms", "Lines", std::vector<Line>(1)); }},
      {"page", [&] { qm::HtmlPage("p").Paragraph("x").Save(missing / "p.html"); }},
      {"xml", [&] { qm::XmlElement("a").Save(missing / "a.xml"); }},
      {"compress", [&] { qm::CompressFile(dir.Path() / "in.txt", missing / "o.qmz"); }},
      {"decompress", [&] { qm::DecompressFile(dir.Path() / "in.qmz", missing / "o.txt"); }},
      {"mht input", [&] { qm::PackMht(missing / "page.html", dir.Path() / "o.mht"); }},
      {"find", [&] { qm::FindFiles(missing, "*"); }},
      {"records input", [&] { qm::LoadRecords<Line>(missing / "r.qms", "Lines"); }},
  };
  for (const auto& [job, run] : jobs)
    EXPECT_EQ(Explained(run), "76 not_found: Path not found: '" + missing.string() + "'") << job;
  EXPECT_FALSE(fs::exists(missing));

  const fs::path none = dir.Path() / "none";
  const std::function<void()> reads[] = {
      [&] { qm::LoadXml(none); },
      [&] { qm::PackMht(none, dir.Path() / "o.mht"); },
      [&] { qm::ReadPicture(none); },
      [&] { qm::CompressFile(none, dir.Path() / "o.z"); },
      [&] { qm::LoadRecords<Line>(none, "Lines"); },
  };
  for (const auto& read : reads) EXPECT_EQ(Explained(read), "53 not_found: File not found: '" + none.string() + "'");

  // The published classes keep their own numbers and texts (ExporterTest,
  // PictureTest): the export's 58000 is for a spreadsheet application that
  // cannot be started only, and the JPEG writer's 26001 stays.
}

TEST(TypedErrors, EachErrorNamesWhatFailed) {
  ScratchDir dir;
  WriteFile(dir / "text.txt", "not compressed");
  qm::SettingsSection section("TypedApp", "Names");
  section.Set("Title", "Invoices");
  const qm::RgbImage pixel{1, 1, {0, 0, 0}};
  const std::vector<double> two{1, 2};
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { qm::XmlElement("a b").Save(dir.Path() / "a.xml"); },
       "75 io_error: Path/File access error: Cannot write '" + (dir / "a.xml") +
           "': the element name \"a b\" is no XML name"},
      {[&] { section.GetNumber("Title", 0); }, "13 invalid_argument: Type mismatch: key 'Title' holds no number"},
      {[&] { qm::WriteJpeg(pixel, dir.Path() / "q.jpg", 0); },
       "26001 invalid_argument: Failed to save to JPG -5: the quality 0 is outside 1 to 100: '" + (dir / "q.jpg") +
           "'"},
      {[&] { qm::ResampleCubic(two, -1); }, "9 invalid_argument: Subscript out of range: the precision -1 is negative"},
      {[&] { qm::DecompressFile(dir.Path() / "text.txt", dir.Path() / "o.txt"); },
       "9999 damaged_data: Compression failed: zlib result -3 (data error): '" + (dir / "text.txt") + "'"},
  };
  for (const auto& [run, says] : cases) EXPECT_EQ(Explained(run), says);
}

// Thrown by the callbacks below; knows whether the object caught is the one thrown.
struct Stop {
  const Stop* Self;
  Stop() : Self(this) {}
  Stop(const Stop&) : Self(nullptr) {}
  Stop& operator=(const Stop&) = delete;
};

// Calls `job` with a callback that throws a Stop on call number `at` (or on
// the call that reports the whole job, for 0); whether the Stop came out as
// the very object thrown.
bool PassesTheStopOn(const std::function<void(const qm::Progress&)>& job, int at = 1) {
  int calls = 0;
  try {
    job([&](std::uint64_t done, std::uint64_t total) {
      ++calls;
      if (calls == at || (at == 0 && total > 0 && done == total)) throw Stop();
    });
  } catch (const Stop& stop) {
    return stop.Self == &stop;
  } catch (...) {
    ADD_FAILURE() << "something else left the job";
    return false;
  }
  ADD_FAILURE() << "the job ended normally after " << calls << " calls";
  return false;
}

TEST(TypedErrors, AStoppedJobPassesTheCallbacksExceptionOnAndLeavesItsFileAsItWas) {
  ScratchDir dir;
  std::string text;
  for (int i = 0; i < 300000; ++i) text += "line " + std::to_string(i * 7919LL % 1009) + "\n";  // several 1 MiB chunks
  WriteFile(dir / "in.txt", text);
  qm::CompressFile(dir.Path() / "in.txt", dir.Path() / "in.qmz");
  WriteFile(dir / "page.html", "<html><body><img src=\"p.bmp\"></body></html>");
  WriteFile(dir / "p.bmp", qm::test::BmpFile(qm::test::TestPicture(4, 4)));
  const fs::path inputs[] = {dir.Path() / "in.txt", dir.Path() / "page.html"};
  qm::ZipFiles(dir.Path() / "old.zip", std::span(inputs, 1));
  const std::string oldZip = ReadFile(dir / "old.zip");
  WriteFile(dir / "out", "old contents");

  const auto unchanged = [&] { return ReadFile(dir / "out") == "old contents"; };
  const std::pair<std::function<void(const qm::Progress&)>, std::vector<int>> jobs[] = {
      {[&](const qm::Progress& p) {
         qm::CompressFile(dir.Path() / "in.txt", dir.Path() / "out", qm::DeflateLevel::Default, p);
       },
       {1, 2, 0}},
      {[&](const qm::Progress& p) { qm::DecompressFile(dir.Path() / "in.qmz", dir.Path() / "out", p); }, {1, 2, 0}},
      {[&](const qm::Progress& p) { qm::PackMht(dir.Path() / "page.html", dir.Path() / "out", "", p); }, {1, 0}}};
  for (const auto& [job, stops] : jobs) {
    for (const int at : stops) {
      EXPECT_TRUE(PassesTheStopOn(job, at)) << at;
      EXPECT_TRUE(unchanged()) << at;
    }
  }
  EXPECT_TRUE(PassesTheStopOn([&](const qm::Progress& p) { qm::ZipFiles(dir.Path() / "old.zip", inputs, p); }));
  EXPECT_EQ(ReadFile(dir / "old.zip"), oldZip);
  EXPECT_TRUE(PassesTheStopOn([&](const qm::Progress& p) { qm::FindFiles(dir.Path(), "*", true, p); }));
  // No hidden file is left beside the targets.
  for (const auto& entry : fs::directory_iterator(dir.Path()))
    EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();

  // The published classes pass it on as an error with their trail (for the
  // file search, see UtilityTest).
  const auto stopWithError = [](std::uint64_t, std::uint64_t) -> void { throw qm::Error(1234, "Client", "stopped"); };
  std::string subject;
  const qm::Error packed =
      RaisedBy([&] { qm::mdlHTML2MHT::ConvertHTMLToMHT(dir / "page.html", dir / "out", subject, stopWithError); });
  EXPECT_EQ(packed.Number(), 1234);
  EXPECT_NE(packed.Source().find("|[HTML2MHT]Public Sub ConvertHTMLToMHT("), std::string::npos) << packed.Source();
  EXPECT_TRUE(unchanged());
}

}  // namespace
