// The typed layer over files: containers, zip archives, JPEG, MHT, XML,
// workbooks, file search and vectors of persistable objects give what the
// published classes give and raise the same errors. Typed writes behave as a
// program of today expects: a JPEG written anew has the time of the write, an
// MHT archive says its real date and encodes its subject, and a confined
// archive reads nothing outside the page's folder.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <regex>

#include "graphics/PictureFiles.h"
#include "quillmark/automation/XML.h"
#include "quillmark/automation/XmlNode.h"
#include "quillmark/compression/Compress.h"
#include "quillmark/graphics/DIBSection.h"
#include "quillmark/graphics/IJL.h"
#include "quillmark/html/HTML2MHT.h"
#include "quillmark/persistence/VectorCollection.h"
#include "quillmark/quillmark.h"
#include "quillmark/runtime/Conversions.h"
#include "quillmark/runtime/TextStream.h"
#include "quillmark/utility/FileRecurser.h"
#include "support/ErrorOf.h"
#include "support/ProgressLog.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using qm::test::ErrorOf;
using qm::test::Explained;
using qm::test::RaisedBy;
using qm::test::ReadFile;
using qm::test::ScratchDir;
using qm::test::WriteFile;

// Cancelling through the progress callback and a missing output folder are
// in TypedErrors, for every job at once.
TEST(TypedFiles, ContainerFilesAreCompressFiles) {
  ScratchDir dir;
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i % 97) + "\n";
  WriteFile(dir / "in.txt", text);
  // Stored (level 0) is compressed in memory, as the published call does.
  for (const auto& [typed, published] : {std::pair{qm::DeflateLevel::Default, qm::COM_DEFAULT_COMPRESSION},
                                         std::pair{qm::DeflateLevel::Store, qm::COM_NO_COMPRESSION}}) {
    SCOPED_TRACE(static_cast<int>(typed));
    qm::CompressFile(dir.Path() / "in.txt", dir.Path() / "typed.qmz", typed);
    ASSERT_EQ(qm::Compress().CompressFile(dir / "in.txt", dir / "published.qmz", published), 0);
    EXPECT_EQ(ReadFile(dir / "typed.qmz"), ReadFile(dir / "published.qmz"));
    qm::DecompressFile(dir.Path() / "typed.qmz", dir.Path() / "out.txt");
    EXPECT_EQ(ReadFile(dir / "out.txt"), text);
  }
  // Input that is refused leaves the output as it was (the published call
  // deletes it once the input is read).
  WriteFile(dir / "kept", "old");
  EXPECT_EQ(ErrorOf([&] { qm::CompressFile(dir.Path() / "none", dir.Path() / "kept"); }), qm::ERR_FileNotFound);
  WriteFile(dir / "negative.qmz", std::string("\x9c\xff\xff\xff", 4) + "zz");  // a length of -100
  EXPECT_EQ(ErrorOf([&] { qm::DecompressFile(dir.Path() / "negative.qmz", dir.Path() / "kept"); }),
            qm::ERR_SubscriptOutOfRange);
  EXPECT_EQ(ReadFile(dir / "kept"), "old");
}

TEST(TypedFiles, PicturesAreValuesAndBecomeTheJpegTheGraphicsPathWrites) {
  ScratchDir dir;
  const qm::test::RgbImage original = qm::test::TestPicture(37, 21);
  WriteFile(dir / "in.bmp", qm::test::BmpFile(original));
  qm::clsDIBSection dib;
  dib.CreateFromPicture(*qm::LoadPicture(dir / "in.bmp"));
  ASSERT_TRUE(qm::mdlIntelJPEGLibrary::SaveJPG(dib, dir / "published.jpg", 80));

  // The picture read is the file's pixels, top row first, red first; as a
  // JPEG it is what SaveJPG writes (and what ConvertToJpeg streams:
  // ConvertToJpegTest).
  qm::RgbImage picture = qm::ReadPicture(dir.Path() / "in.bmp");
  EXPECT_EQ(std::pair(picture.Width, picture.Height), std::pair(37, 21));
  EXPECT_EQ(picture.Pixels, original.Pixels);
  qm::WriteJpeg(picture, dir.Path() / "again.jpg", 80);
  EXPECT_EQ(ReadFile(dir / "again.jpg"), ReadFile(dir / "published.jpg"));

  WriteFile(dir / "junk.png", "not a picture");
  EXPECT_EQ(ErrorOf([&] { qm::ReadPicture(dir.Path() / "junk.png"); }), qm::ERR_InvalidPicture);
  EXPECT_EQ(ErrorOf([&] { qm::WriteJpeg(picture, dir.Path() / "q.jpg", 101); }), qm::mdlIntelJPEGLibrary::ERR_JPEG);
  EXPECT_FALSE(fs::exists(dir.Path() / "q.jpg"));
  picture.Pixels.pop_back();
  EXPECT_EQ(ErrorOf([&] { qm::WriteJpeg(picture, dir.Path() / "q.jpg"); }), qm::ERR_InvalidProcedureCall);
}

TEST(TypedFiles, PackMhtIsConvertHTMLToMHT) {
  ScratchDir dir;
  WriteFile(dir / "page.html", "<html><body><a href=\"next.html\">next</a><img src=\"p.bmp\"></body></html>");
  WriteFile(dir / "next.html", "<html><body>second</body></html>");
  WriteFile(dir / "p.bmp", qm::test::BmpFile(qm::test::TestPicture(4, 4)));
  std::vector<std::uint64_t> seen;
  const std::string subject =
      qm::PackMht(dir.Path() / "page.html", dir.Path() / "typed.mht", "", [&](std::uint64_t done, std::uint64_t total) {
        EXPECT_EQ(total, 3u);
        seen.push_back(done);
      });
  EXPECT_EQ(subject, "Report generated from " + qm::mdlHTML2MHT::GetAppName());
  EXPECT_EQ(seen, (std::vector<std::uint64_t>{1, 2, 3}));  // the page, the linked page, the picture
  std::string published;
  qm::mdlHTML2MHT::ConvertHTMLToMHT(dir / "page.html", dir / "published.mht", published);
  // The same archive but for the boundary, which carries the time of the
  // conversion, and the date (the published converter's is fixed).
  const auto withoutBoundary = [](std::string mht) {
    mht = std::regex_replace(mht, std::regex("Date: [^\r]*"), "DATE");
    return std::regex_replace(mht, std::regex("----=_QMLib_[0-9.E+-]+"), "BOUNDARY");
  };
  EXPECT_EQ(withoutBoundary(ReadFile(dir / "typed.mht")), withoutBoundary(ReadFile(dir / "published.mht")));
  EXPECT_EQ(qm::PackMht(dir.Path() / "page.html", dir.Path() / "s.mht", "Mine"), "Mine");
  // A missing page leaves an earlier archive as it was (the published
  // converter leaves the message header in it).
  WriteFile(dir / "n.mht", "older archive");
  EXPECT_EQ(ErrorOf([&] { qm::PackMht(dir.Path() / "none.html", dir.Path() / "n.mht"); }), qm::ERR_FileNotFound);
  EXPECT_EQ(ReadFile(dir / "n.mht"), "older archive");
}

TEST(TypedFiles, XmlLoadsAndAnswersPathQueriesThroughElementHandles) {
  ScratchDir dir;
  WriteFile(dir / "orders.xml",
            "<orders><order id=\"1\"><line>a</line><line>b</line></order><note/>"
            "<order id=\"2\"><line>c</line></order></orders>");
  const qm::XmlElement root = qm::LoadXml(dir.Path() / "orders.xml");
  EXPECT_EQ(root.Children().size(), 3u);
  EXPECT_EQ(root.ChildCount("order"), 2u);
  const auto orders = root.Children("order");
  ASSERT_EQ(orders.size(), 2u);
  EXPECT_EQ(orders[1].Attribute("id"), "2");
  EXPECT_EQ(orders[1].Attribute("none"), "");
  std::string lines;
  for (const auto& line : qm::XmlFindAll(root, "order/line")) lines += line.Text();
  EXPECT_EQ(lines, "abc");
  EXPECT_EQ(qm::XmlFind(root, "/order//line/")->Text(), "a");
  EXPECT_FALSE(qm::XmlFind(root, "order/none").has_value());
  EXPECT_TRUE(qm::XmlFindAll(root, "").empty());
  EXPECT_EQ(orders[0].ChildText("line"), "a");
  EXPECT_EQ(orders[0].ChildText("none", "-"), "-");

  // Handles share the tree: an edit through one is seen from the root, and
  // through the published wrapper of the same node.
  qm::XmlElement first = orders[0];
  first.SetText("changed");
  first.SetAttribute("state", "open");
  first.AddChild("line", "d & e");
  EXPECT_NE(root.Render().find("changed"), std::string::npos);
  EXPECT_EQ(qm::XmlFindAll(root, "order/line").size(), 4u);
  EXPECT_EQ(qm::AsXmlNode(root)->GetNthChildWithTag("order", 0)->GetAttrValue("state"), "open");

  // Saved and read back, the text stays text.
  root.Save(dir.Path() / "saved.xml");
  const qm::XmlElement again = qm::LoadXml(dir.Path() / "saved.xml");
  EXPECT_EQ(qm::XmlFind(again, "order")->Attribute("state"), "open");
  EXPECT_EQ(qm::XmlFindAll(again, "order/line")[2].Text(), "d & e");
  EXPECT_EQ(ReadFile(dir / "saved.xml").rfind("<?xml", 0), 0u);

  qm::XmlElement fresh("list");
  fresh.AddChild("item", "1");
  EXPECT_EQ(qm::ParseXml(fresh.Render()).ChildText("item"), "1");

  // A parse error, not the assertion's number the published class raises
  // with the same text.
  WriteFile(dir / "bad.xml", "<a><b></a>");
  EXPECT_EQ(Explained([&] { qm::LoadXml(dir.Path() / "bad.xml"); }).substr(0, 17), "9999 parse_error:");
  WriteFile(dir / "empty.xml", "");
  EXPECT_EQ(Explained([&] { qm::LoadXml(dir.Path() / "empty.xml"); }),
            "9999 parse_error: '" + (dir / "empty.xml") + "' is empty");
  qm::XML published;
  const qm::Error unclosed = RaisedBy([&] { published.LoadFromString("<a>", "x"); });
  EXPECT_EQ(unclosed.Number(), qm::ERR_ASSERTION);
  EXPECT_EQ(Explained([] { qm::ParseXml("<a>"); }), "9999 parse_error: " + unclosed.Description());
}

TEST(TypedFiles, HtmlPagesEscapeTheirTextAndDeclareTheirCharset) {
  EXPECT_EQ(qm::EscapeHtml(R"(<a href="x">Tom & 'Jerry'</a>)"),
            "&lt;a href=&quot;x&quot;&gt;Tom &amp; &#39;Jerry&#39;&lt;/a&gt;");
  EXPECT_EQ(qm::EscapeHtml("plain €"), "plain €");

  ScratchDir dir;
  WriteFile(dir / "chart.png", "png bytes");
  qm::HtmlPage page("Sales & costs");
  page.Heading(1, "Q3 <draft>").Paragraph("Prices in \"EUR\"");
  page.Table({{"item", "price"}, {"<tea>", "2.50 €"}}).Image(dir.Path() / "chart.png", "a \"chart\"");
  page.Html("<hr>");
  const std::string text = page.Text();
  EXPECT_EQ(text,
            "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>Sales &amp; costs</title>\n</head>\n"
            "<body>\n<h1>Q3 &lt;draft&gt;</h1>\n<p>Prices in &quot;EUR&quot;</p>\n<table>\n"
            "<tr><th>item</th><th>price</th></tr>\n<tr><td>&lt;tea&gt;</td><td>2.50 €</td></tr>\n</table>\n"
            "<img src=\"chart.png\" alt=\"a &quot;chart&quot;\">\n<hr></body>\n</html>\n");

  fs::create_directory(dir.Path() / "out");
  page.Save(dir.Path() / "out/index.html");
  EXPECT_EQ(ReadFile(dir / "out/index.html"), text);
  EXPECT_EQ(ReadFile(dir / "out/chart.png"), "png bytes");

  // In Latin-1, characters beyond it become references; the rest are bytes.
  // Text is decoded strictly before it is escaped, so an overlong '<' never
  // becomes markup: invalid runs are U+FFFD, or '?' in Latin-1. Lines end in LF.
  const std::string sly = "x\xC0\xBCscript\xC0\xBE(1)\xC0\xBC/script\xC0\xBE\r\n.";
  const std::string shown = "<p>x~~script~~(1)~~/script~~\n.</p>\n</body>\n</html>\n";
  qm::HtmlPage latin("Caf\u00e9", qm::HtmlCharset::Latin1);
  EXPECT_EQ(latin.Paragraph("\u00e9 \u20ac").Paragraph(sly).Text(),
            "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"iso-8859-1\">\n<title>Caf\xe9</title>\n</head>\n"
            "<body>\n<p>\xe9 &#8364;</p>\n" +
                qm::ReplaceAll(shown, "~", "?"));
  EXPECT_TRUE(qm::HtmlPage("t").Paragraph(sly).Text().ends_with(qm::ReplaceAll(shown, "~", "\uFFFD")));

  EXPECT_EQ(ErrorOf([&] { page.Heading(7, "x"); }), qm::ERR_InvalidProcedureCall);
  qm::HtmlPage missing("m");
  missing.Image(dir.Path() / "none.png");
  EXPECT_EQ(ErrorOf([&] { missing.Save(dir.Path() / "out/m.html"); }), qm::ERR_FileNotFound);
  EXPECT_FALSE(fs::exists(dir.Path() / "out/m.html"));
}

// A table in braces picks the overload by its cells: one number is no text, two
// texts are no range of numbers.
static_assert(requires(const fs::path& file) {
  qm::WriteWorkbook(file, {{1.0}});
  qm::WriteWorkbook(file, {{"item", "price"}});
  qm::WriteWorkbook(file, {{1.5, -2}, {1e20}});
});

// The typed workbook fills the sheet directly: a cell is written as given,
// where the export's text import would have split or unquoted it, and a
// double keeps the digits the file format holds (16), not its 15-digit text.
TEST(TypedFiles, WorkbookCellsGoIntoTheSheetAsGiven) {
  ScratchDir dir;
  const auto sheet = [&](const char* book) {
    return qm::test::Output("unzip -p '" + dir / book + "' xl/worksheets/sheet1.xml");
  };
  qm::WriteWorkbook(dir.Path() / "text.xlsx", {{"\"open", "a\"\"b", "\"x\"y", "caf\xE9", "true", " 12 "},
                                               {"\t", "", "1e400", "\"quoted\"", "tab\there"},
                                               {"7", "price"}});
  const std::string cells = sheet("text.xlsx");
  for (const char* expected :
       {"<c r=\"A1\" t=\"inlineStr\"><is><t>\"open</t>", "<c r=\"B1\" t=\"inlineStr\"><is><t>a\"\"b</t>",
        "<c r=\"C1\" t=\"inlineStr\"><is><t>\"x\"y</t>", "<c r=\"D1\" t=\"inlineStr\"><is><t>caf\xC3\xA9</t>",
        "<c r=\"E1\" t=\"b\"><v>1</v>", "<c r=\"F1\"><v>12</v>",
        "<c r=\"A2\" t=\"inlineStr\"><is><t xml:space=\"preserve\">\t</t>",
        "<c r=\"C2\" t=\"inlineStr\"><is><t>1e400</t>", "<c r=\"D2\" t=\"inlineStr\"><is><t>\"quoted\"</t>",
        "<c r=\"E2\" t=\"inlineStr\"><is><t>tab\there</t>", "<c r=\"B3\" t=\"inlineStr\"><is><t>price</t>"})
    EXPECT_NE(cells.find(expected), std::string::npos) << expected << "\n" << cells;
  EXPECT_EQ(cells.find("r=\"B2\""), std::string::npos) << cells;

  qm::WriteWorkbook(dir.Path() / "numbers.xlsx",
                    {{1.0 / 3, 1e20, -2.5e-300}, {qm::kDefaultInflateCap * 1.0, -0.0, 1.5}});
  const std::string numbers = sheet("numbers.xlsx");
  for (const char* expected : {"<v>0.3333333333333333</v>", "<v>1E+20</v>", "<v>-2.5E-300</v>", "<v>1073741824</v>",
                               "<c r=\"B2\"><v>0</v>", "<c r=\"C2\"><v>1.5</v>"})
    EXPECT_NE(numbers.find(expected), std::string::npos) << expected << "\n" << numbers;
  qm::WriteWorkbook(dir.Path() / "empty.xlsx", std::vector<std::vector<std::string>>{});
  EXPECT_TRUE(fs::exists(dir.Path() / "empty.xlsx"));

  // A row as wide as a worksheet fits; the published export, whose text ends
  // each row with a TAB, needs one column more.
  const std::vector<std::vector<double>> widest(1, std::vector<double>(16384, 1.0));
  qm::WriteWorkbook(dir.Path() / "wide.xlsx", widest);
  EXPECT_NE(sheet("wide.xlsx").find("<c r=\"XFD1\"><v>1</v>"), std::string::npos);
  const std::vector<std::vector<double>> wider(1, std::vector<double>(16385, 1.0));
  const qm::Error tooWide = RaisedBy([&] { qm::WriteWorkbook(dir.Path() / "wider.xlsx", wider); });
  EXPECT_EQ(std::pair(tooWide.Number(), tooWide.code()), std::pair(9999, make_error_code(qm::errc::too_large)));
  EXPECT_NE(tooWide.Source().find("WriteWorkbook"), std::string::npos) << tooWide.Source();
  EXPECT_FALSE(fs::exists(dir.Path() / "wider.xlsx"));
  // A line break is refused before the folder is looked at.
  for (const char* cell : {"two\nlines", "a\rb"})
    EXPECT_EQ(ErrorOf([&] { qm::WriteWorkbook(dir.Path() / "missing/n.xlsx", {{cell}}); }),
              qm::ERR_InvalidProcedureCall);
}

TEST(TypedFiles, FindFilesIsFileRecurserAsPaths) {
  ScratchDir dir;
  fs::create_directories(dir.Path() / "sub");
  for (const char* name : {"b.TXT", "a.txt", "c.doc", "sub/d.txt"}) WriteFile(dir / name, "x");
  const auto found = qm::FindFiles(dir.Path(), "*.txt", true);
  const qm::Variant published = qm::FileRecurser().Files("*.txt", true, dir.Path().string());
  ASSERT_EQ(found.size(), published.Array().Size());
  for (std::size_t i = 0; i < found.size(); ++i) EXPECT_EQ(found[i].string(), published.Array().Data()[i].String());
  EXPECT_EQ(found.size(), 3u);
  EXPECT_EQ(qm::FindFiles(dir.Path(), "*.txt").size(), 2u);
  EXPECT_TRUE(qm::FindFiles(dir.Path(), "*.none").empty());
  // The pattern is taken in upper case, as the published call takes it: "[Z-a]"
  // becomes the reversed list "[Z-A]".
  EXPECT_EQ(ErrorOf([&] { qm::FindFiles(dir.Path(), "[Z-a]*"); }), qm::ERR_InvalidPattern);
  // A missing folder (TypedErrors) is the typed call's, not the recurser's.
  const std::string where = RaisedBy([&] { qm::FindFiles(dir.Path() / "none", "*"); }).Source();
  EXPECT_EQ(where.find("[FileRecurser]"), std::string::npos) << where;

  qm::test::ProgressLog log;
  EXPECT_EQ(qm::FindFiles(dir.Path(), "*.txt", true, log.Callback()), found);
  EXPECT_EQ(log.Calls, (decltype(log.Calls){{1, 0}, {2, 0}}));
}

class Point : public qm::IPersistableSimple {
 public:
  explicit Point(double x = 0, double y = 0) : X(x), Y(y) {}
  double X, Y;
  qm::ScalarFieldsPtr GetScalarFields(std::int32_t) override {
    auto fields = std::make_shared<qm::ScalarFields>();
    fields->AddDetails("X", qm::ST_FloatingPoint, X);
    fields->AddDetails("Y", qm::ST_FloatingPoint, Y);
    return fields;
  }
  void SetScalarFields(std::int32_t, const qm::ScalarFieldsPtr& fields) override {
    X = qm::CDbl(fields->ItemName("X")->Value());
    Y = qm::CDbl(fields->ItemName("Y")->Value());
  }
  std::string Name(std::int32_t) override { return "Point"; }
  bool Compatible(const std::string& name, std::int32_t) override { return name == "Point"; }
};

TEST(TypedFiles, VectorsOfObjectsSaveAsCollectionRecords) {
  ScratchDir dir;
  const std::vector<std::shared_ptr<Point>> points = {std::make_shared<Point>(1, 2.5), std::make_shared<Point>(-3)};
  qm::SaveObjects(dir.Path() / "points.qms", "Points", points);
  // The record any collection of that name writes.
  const auto expected = qm::TextStream::InMemory();
  qm::QMStream out;
  out.Use(expected);
  out.WriteCollectionSimple(std::make_shared<qm::VectorCollection<Point>>("Points", 1, points), 1);
  EXPECT_EQ(ReadFile(dir / "points.qms"), expected->Text());
  EXPECT_EQ(expected->Text().substr(0, 21), "%Collection Points @1");

  const auto loaded = qm::LoadObjects<Point>(dir.Path() / "points.qms", "Points");
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(std::pair(loaded[0]->Y, loaded[1]->X), std::pair(2.5, -3.0));
  EXPECT_EQ(ErrorOf([&] { qm::LoadObjects<Point>(dir.Path() / "points.qms", "Lines"); }),
            qm::ERR_StreamObjectIncompatible);
  EXPECT_EQ(ErrorOf([&] { qm::LoadObjects<Point>(dir.Path() / "none.qms", "Points"); }), qm::ERR_FileNotFound);
  WriteFile(dir / "plain.txt", "hello\n");
  EXPECT_EQ(ErrorOf([&] { qm::LoadObjects<Point>(dir.Path() / "plain.txt", "Points"); }),
            qm::ERR_StreamNotPointingToObject);
  qm::VectorCollection<Point> collection("Points");
  EXPECT_EQ(ErrorOf([&] { collection.Item(1, 1); }), qm::ERR_SubscriptOutOfRange);
  // A failed save leaves the old file.
  fs::create_directory(dir.Path() / "folder.qms");
  EXPECT_NE(ErrorOf([&] { qm::SaveObjects(dir.Path() / "folder.qms", "Points", points); }), 0);
  EXPECT_TRUE(fs::is_directory(dir.Path() / "folder.qms"));
}

TEST(TypedWrites, AReplacedJpegHasTheTimeOfTheWrite) {
  ScratchDir dir;
  const std::string out = dir / "chart.jpg";
  WriteFile(out, "old chart");
  const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, out.c_str(), old, 0), 0);
  qm::WriteJpeg(qm::RgbImage{2, 2, std::vector<std::uint8_t>(12, 200)}, out, 80);
  struct stat after {};
  ASSERT_EQ(::stat(out.c_str(), &after), 0);
  EXPECT_GT(after.st_mtim.tv_sec, old[1].tv_sec);
}

TEST(TypedWrites, MhtHeaderHasTheRealDateAndAnEncodedSubject) {
  ScratchDir dir;
  WriteFile(dir / "page.html", "<html><body>hi</body></html>");
  // 2026-12-08 09:00:00 UTC, a Tuesday.
  const auto date = std::chrono::system_clock::time_point(std::chrono::seconds(1796720400));
  const struct {
    std::string Subject;
    std::string Header;  // the Subject line(s) written
  } cases[] = {
      {"Plain report", "Subject: Plain report\r\n"},
      {"Caf\xC3\xA9 sales", "Subject: =?UTF-8?B?Q2Fmw6kgc2FsZXM=?=\r\n"},
      {"a\r\nBcc: x", "Subject: =?UTF-8?B?YQ0KQmNjOiB4?=\r\n"},  // no header of its own
      {std::string(40, 'x') + "\xE2\x82\xAC\xE2\x82\xAC",        // the second word starts with a whole euro sign
       "Subject: =?UTF-8?B?eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eOKCrA==?=\r\n =?UTF-8?B?4oKs?=\r\n"},
  };
  for (const auto& c : cases) {
    qm::MhtOptions options;
    options.Subject = c.Subject;
    options.Date = date;
    EXPECT_EQ(qm::PackMht(dir.Path() / "page.html", dir.Path() / "p.mht", options).Subject, c.Subject);
    const std::string mht = ReadFile(dir / "p.mht");
    EXPECT_EQ(mht.substr(mht.find("Subject:"), mht.find("Date:") - mht.find("Subject:")), c.Header) << c.Subject;
    EXPECT_NE(mht.find("\r\nDate: Tue, 08 Dec 2026 09:00:00 +0000\r\n"), std::string::npos);
  }
  // Without a date given, the time of packing.
  qm::PackMht(dir.Path() / "page.html", dir.Path() / "p.mht");
  EXPECT_TRUE(
      std::regex_search(ReadFile(dir / "p.mht"),
                        std::regex("\r\nDate: [A-Z][a-z]{2}, \\d\\d [A-Z][a-z]{2} \\d{4} [\\d:]{8} \\+0000\r\n")));
}

TEST(TypedWrites, AConfinedArchiveReadsNothingOutsideThePagesFolder) {
  ScratchDir dir;
  fs::create_directory(dir.Path() / "site");
  WriteFile(dir / "secret.txt", "SECRET-OUTSIDE");
  WriteFile(dir / "site/inside.txt", "INSIDE-FILE");
  fs::create_symlink(dir.Path() / "secret.txt", dir.Path() / "site/link.txt");
  const std::string absolute = dir / "secret.txt";
  WriteFile(dir / "site/page.html", "<html><body><img src=\"../secret.txt\"><img src=\"" + absolute +
                                        "\"><img src=\"link.txt\"><img src=\"inside.txt\"></body></html>");
  const auto packed = [&](bool confine) {
    qm::MhtOptions options;
    options.Confine = confine;
    const qm::MhtResult result = qm::PackMht(dir.Path() / "site/page.html", dir.Path() / "p.mht", options);
    return std::pair{ReadFile(dir / "p.mht"), result.LeftOut};
  };
  // Base64 of "SECRET-OUTSIDE" and of "INSIDE-FILE".
  const std::string secret = "U0VDUkVULU9VVFNJREU=", inside = "SU5TSURFLUZJTEU=";
  EXPECT_NE(packed(false).first.find(secret), std::string::npos);  // as the published converter: every file named
  const auto [confined, leftOut] = packed(true);
  EXPECT_EQ(confined.find(secret), std::string::npos);
  EXPECT_NE(confined.find(inside), std::string::npos);
  EXPECT_EQ(leftOut, (std::vector<std::string>{"../secret.txt", absolute, "link.txt"}));
}

}  // namespace
