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
  EXPECT_EQ(plain.code(), qm::errc::not_found);
  EXPECT_EQ(plain.code(), std::errc::no_such_file_or_directory);
  EXPECT_NE(plain.code(), qm::errc::permission_denied);
  EXPECT_STREQ(plain.code().category().name(), "quillmark");
  EXPECT_EQ(plain.code().message(), "not found");
  EXPECT_EQ(qm::Error(12345, "", "client").code(), qm::errc::other);

  // The site's cause survives the frames; the number and trail are as ever.
  const qm::Error framed = RaisedBy([] { FramedRaise(qm::ERR_General, qm::errc::too_large); });
  EXPECT_EQ(framed.Number(), qm::ERR_General);
  EXPECT_EQ(framed.code(), qm::errc::too_large);
  EXPECT_EQ(framed.Source(), "QuillmarkLibrary.Utility|[Utility]Public Sub Inner(9999)");
  EXPECT_EQ(RaisedBy([] { FramedRaise(qm::ERR_General, qm::errc::cancelled); }).code(), std::errc::operation_canceled);

  // A system failure keeps its number (75 for a full disk) and says the cause.
  const qm::Error full = RaisedBy([] { FramedFilesystemFailure(std::errc::no_space_on_device); });
  EXPECT_EQ(full.Number(), qm::ERR_PathFileAccess);
  EXPECT_EQ(full.code(), qm::errc::no_space);
  EXPECT_EQ(RaisedBy([] { FramedFilesystemFailure(std::errc::read_only_file_system); }).code(),
            qm::errc::permission_denied);
  EXPECT_EQ(qm::ErrcOfErrno(ENOTDIR), qm::errc::not_found);
  EXPECT_EQ(qm::ErrcOfErrno(EDQUOT), qm::errc::no_space);
  EXPECT_EQ(qm::ErrcOfErrno(EIO), qm::errc::io_error);

  // Every row of the table has a cause, and the two views of it agree.
  const auto rows = qm::ErrorRows();
  const auto table = qm::ErrorTable();
  ASSERT_EQ(rows.size(), table.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].Number, table[i].Number);
    EXPECT_EQ(rows[i].Text, table[i].Text);
    EXPECT_NE(qm::ErrcName(rows[i].Code), "none") << rows[i].Number;
    EXPECT_EQ(qm::ErrcOfNumber(rows[i].Number), rows[i].Code);
    EXPECT_EQ(qm::Error(rows[i].Number, "", "").code(), rows[i].Code);
  }
  EXPECT_EQ(qm::ErrcOfNumber(qm::ERR_PathNotFound), qm::errc::not_found);
  EXPECT_EQ(qm::ErrcOfNumber(qm::ERR_EXPORT_FAILED), qm::errc::unavailable);
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

TEST(TypedErrors, AMissingFolderIsOneErrorWhateverTheJob) {
  ScratchDir dir;
  WriteFile(dir / "page.html", "<html><body>hi</body></html>");
  WriteFile(dir / "picture.bmp", qm::test::BmpFile(qm::test::TestPicture(4, 4)));
  WriteFile(dir / "in.txt", "some text to pack");
  qm::CompressFile(dir.Path() / "in.txt", dir.Path() / "in.qmz");
  const fs::path missing = dir.Path() / "no-folder";
  const fs::path inputs[] = {dir.Path() / "in.txt"};
  const auto picture = qm::ReadPicture(dir.Path() / "picture.bmp");

  const std::pair<const char*, std::function<void()>> jobs[] = {
      {"workbook",
       [&] {
         qm::WriteWorkbook(missing / "t.xlsx", {{"a", "b"}});
       }},
      {"jpeg", [&] { qm::WriteJpeg(picture, missing / "p.jpg"); }},
      {"zip", [&] { qm::ZipFiles(missing / "a.zip", inputs); }},
      {"mht", [&] { qm::PackMht(dir.Path() / "page.html", missing / "p.mht"); }},
      {"objects", [&] { qm::SaveObjects(missing / "o.qms", "Orders", std::vector{std::make_shared<Order>()}); }},
      {"records", [&] { qm::SaveRecords(missing / "r.qms", "Lines", std::vector<Line>(1)); }},
      {"page", [&] { qm::HtmlPage("p").Paragraph("x").Save(missing / "p.html"); }},
      {"xml", [&] { qm::XmlElement("a").Save(missing / "a.xml"); }},
      {"compress", [&] { qm::CompressFile(dir.Path() / "in.txt", missing / "o.qmz"); }},
      {"decompress", [&] { qm::DecompressFile(dir.Path() / "in.qmz", missing / "o.txt"); }},
  };
  for (const auto& [job, run] : jobs) {
    const qm::Error e = RaisedBy(run);
    EXPECT_EQ(e.Number(), qm::ERR_PathNotFound) << job << ": " << e.Description();
    EXPECT_EQ(e.code(), qm::errc::not_found) << job;
    EXPECT_EQ(e.Description(), "Path not found: '" + missing.string() + "'") << job;
  }
  EXPECT_FALSE(fs::exists(missing));

  // The published classes keep their own numbers and texts (ExporterTest,
  // PictureTest): the export's 58000 is for a spreadsheet application that
  // cannot be started only, and the JPEG writer's 26001 stays.
}

TEST(TypedErrors, EachErrorNamesWhatFailed) {
  ScratchDir dir;
  const fs::path none = dir.Path() / "none.xml";
  const fs::path nodir = dir.Path() / "nodir";
  WriteFile(dir / "text.txt", "not compressed");
  qm::SettingsSection section("TypedApp", "Names");
  section.Set("Title", "Invoices");
  const qm::RgbImage pixel{1, 1, {0, 0, 0}};
  const struct {
    const char* Job;
    std::function<void()> Run;
    std::int32_t Number;
    qm::errc Cause;
    std::string Says;
  } cases[] = {
      {"xml", [&] { qm::LoadXml(none); }, qm::ERR_FileNotFound, qm::errc::not_found,
       "File not found: '" + none.string() + "'"},
      {"mht", [&] { qm::PackMht(dir.Path() / "none.html", dir.Path() / "o.mht"); }, qm::ERR_FileNotFound,
       qm::errc::not_found, "File not found: '" + (dir / "none.html") + "'"},
      {"xml save", [&] { qm::XmlElement("a b").Save(dir.Path() / "a.xml"); }, qm::ERR_PathFileAccess,
       qm::errc::io_error,
       "Path/File access error: Cannot write '" + (dir / "a.xml") + "': the element name \"a b\" is no XML name"},
      {"find", [&] { qm::FindFiles(nodir, "*"); }, qm::ERR_PathNotFound, qm::errc::not_found,
       "Path not found: '" + nodir.string() + "'"},
      {"setting", [&] { section.GetNumber("Title", 0); }, qm::ERR_TypeMismatch, qm::errc::invalid_argument,
       "Type mismatch: key 'Title' holds no number"},
      {"quality", [&] { qm::WriteJpeg(pixel, dir.Path() / "q.jpg", 0); }, qm::mdlIntelJPEGLibrary::ERR_JPEG,
       qm::errc::invalid_argument,
       "Failed to save to JPG -5: the quality 0 is outside 1 to 100: '" + (dir / "q.jpg") + "'"},
      {"picture", [&] { qm::ReadPicture(dir.Path() / "none.bmp"); }, qm::ERR_FileNotFound, qm::errc::not_found,
       "File not found: '" + (dir / "none.bmp") + "'"},
      {"compress", [&] { qm::CompressFile(dir.Path() / "none", dir.Path() / "o.z"); }, qm::ERR_FileNotFound,
       qm::errc::not_found, "File not found: '" + (dir / "none") + "'"},
      {"precision",
       [] {
         qm::ResampleCubic(std::vector<double>{1, 2}, -1);
       },
       qm::ERR_SubscriptOutOfRange, qm::errc::invalid_argument, "Subscript out of range: the precision -1 is negative"},
      {"records", [&] { qm::LoadRecords<Line>(nodir / "r.qms", "Lines"); }, qm::ERR_PathNotFound, qm::errc::not_found,
       "Path not found: '" + nodir.string() + "'"},
      {"records file", [&] { qm::LoadRecords<Line>(dir.Path() / "r.qms", "Lines"); }, qm::ERR_FileNotFound,
       qm::errc::not_found, "File not found: '" + (dir / "r.qms") + "'"},
      {"decompress", [&] { qm::DecompressFile(dir.Path() / "text.txt", dir.Path() / "o.txt"); }, qm::ERR_General,
       qm::errc::damaged_data, "Compression failed: zlib result -3 (data error): '" + (dir / "text.txt") + "'"},
  };
  for (const auto& c : cases) {
    const qm::Error e = RaisedBy(c.Run);
    EXPECT_EQ(e.Number(), c.Number) << c.Job;
    EXPECT_EQ(e.code(), c.Cause) << c.Job;
    EXPECT_EQ(e.Description(), c.Says) << c.Job;
  }
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
  // file search, see FileRecurserTest).
  const auto stopWithError = [](std::uint64_t, std::uint64_t) -> void { throw qm::Error(1234, "Client", "stopped"); };
  std::string subject;
  const qm::Error packed =
      RaisedBy([&] { qm::mdlHTML2MHT::ConvertHTMLToMHT(dir / "page.html", dir / "out", subject, stopWithError); });
  EXPECT_EQ(packed.Number(), 1234);
  EXPECT_NE(packed.Source().find("|[HTML2MHT]Public Sub ConvertHTMLToMHT("), std::string::npos) << packed.Source();
  EXPECT_TRUE(unchanged());
}

}  // namespace
