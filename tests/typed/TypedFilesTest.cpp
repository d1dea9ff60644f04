// The typed layer over files: containers, JPEG, MHT, XML, HTML pages,
// workbooks, file search, vectors of persistable objects and typed records
// give what the published classes give. Typed writes behave as a program of
// today expects: a JPEG written anew has the time of the write, an MHT archive
// says its real date and encodes its subject, and a confined archive reads
// nothing outside the page's folder. Errors a program can test: the cause
// beside the number, one error for a missing folder whatever the job, and one
// policy for a progress callback that throws.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <regex>

#include "graphics/PictureFiles.h"
#include "quillmark/automation/XmlNode.h"
#include "quillmark/compression/Compress.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/graphics/DIBSection.h"
#include "quillmark/graphics/IJL.h"
#include "quillmark/html/HTML2MHT.h"
#include "quillmark/persistence/RecordStream.h"
#include "quillmark/persistence/ScalarFields.h"
#include "quillmark/persistence/VectorCollection.h"
#include "quillmark/quillmark.h"
#include "quillmark/runtime/Conversions.h"
#include "quillmark/runtime/TextStream.h"
#include "support/ErrorOf.h"
#include "support/ProgressLog.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using namespace qm::test;

// Cancelling through the progress callback and a missing output folder are
// below, for every job at once.
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
  // deletes it once the input is read; a missing input: TypedErrors below).
  WriteFile(dir / "kept", "old");
  WriteFile(dir / "negative.qmz", std::string("\x9c\xff\xff\xff", 4) + "zz");  // a length of -100
  EXPECT_EQ(ErrorOf([&] { qm::DecompressFile(dir.Path() / "negative.qmz", dir.Path() / "kept"); }),
            qm::ERR_SubscriptOutOfRange);
  EXPECT_EQ(ReadFile(dir / "kept"), "old");
}

TEST(TypedFiles, PicturesAreValuesAndBecomeTheJpegTheGraphicsPathWrites) {
  ScratchDir dir;
  const qm::test::RgbImage original = TestPicture(37, 21);
  WriteFile(dir / "in.bmp", BmpFile(original));
  qm::clsDIBSection dib;
  dib.CreateFromPicture(*qm::LoadPicture(dir / "in.bmp"));
  ASSERT_TRUE(qm::mdlIntelJPEGLibrary::SaveJPG(dib, dir / "published.jpg", 80));

  // The picture read is the file's pixels, top row first, red first; as a
  // JPEG it is what SaveJPG writes (and what ConvertToJpeg streams:
  // ConvertToJpegTest), and a JPEG it replaces has the time of the write.
  qm::RgbImage picture = qm::ReadPicture(dir.Path() / "in.bmp");
  EXPECT_EQ(std::tuple(picture.Width, picture.Height, picture.Pixels), std::tuple(37, 21, original.Pixels));
  const std::string again = dir / "again.jpg";
  WriteFile(again, "old chart");
  const fs::file_time_type old = fs::last_write_time(again) - hours(24 * 365 * 10);
  fs::last_write_time(again, old);
  qm::WriteJpeg(picture, again, 80);
  EXPECT_EQ(ReadFile(again), ReadFile(dir / "published.jpg"));
  EXPECT_GT(fs::last_write_time(again), old + hours(24 * 365));

  WriteFile(dir / "junk.png", "not a picture");
  EXPECT_EQ(ErrorOf([&] { qm::ReadPicture(dir.Path() / "junk.png"); }), qm::ERR_InvalidPicture);
  EXPECT_EQ(ErrorOf([&] { qm::WriteJpeg(picture, dir.Path() / "q.jpg", 101); }), qm::mdlIntelJPEGLibrary::ERR_JPEG);
  EXPECT_FALSE(fs::exists(dir.Path() / "q.jpg"));
  picture.Pixels.pop_back();
  EXPECT_EQ(ErrorOf([&] { qm::WriteJpeg(picture, dir.Path() / "q.jpg"); }), qm::ERR_InvalidProcedureCall);
}

// The archive is the published converter's (whose bytes HTMLTest pins),
// dated by the time of packing or the date given (the published converter's
// is fixed), with its subject encoded; confined, it reads nothing outside the
// page's folder.
TEST(TypedFiles, PackMhtHasTheRealDateAnEncodedSubjectAndAConfinedReach) {
  ScratchDir dir;
  WriteFile(dir / "page.html", "<html><body><a href=\"next.html\">next</a><img src=\"p.bmp\"></body></html>");
  WriteFile(dir / "next.html", "<html><body>second</body></html>");
  WriteFile(dir / "p.bmp", BmpFile(TestPicture(4, 4)));
  ProgressLog log;
  EXPECT_EQ(qm::PackMht(dir.Path() / "page.html", dir.Path() / "typed.mht", "", log.Callback()),
            "Report generated from " + qm::mdlHTML2MHT::GetAppName());
  EXPECT_EQ(log.Calls, (decltype(log.Calls){{1, 3}, {2, 3}, {3, 3}}));  // the page, the linked page, the picture
  EXPECT_TRUE(
      std::regex_search(ReadFile(dir / "typed.mht"),
                        std::regex("\r\nDate: [A-Z][a-z]{2}, \\d\\d [A-Z][a-z]{2} \\d{4} [\\d:]{8} \\+0000\r\n")));
  EXPECT_EQ(qm::PackMht(dir.Path() / "page.html", dir.Path() / "p.mht", "Mine"), "Mine");

  // The subject, and the Subject line(s) written, dated 2026-12-08 09:00:00 UTC, a Tuesday.
  qm::MhtOptions options;
  options.Date = system_clock::time_point(seconds(1796720400));
  for (const auto& [subject, header] :
       {std::pair<std::string, std::string>{"Plain report", "Subject: Plain report\r\n"},
        {"Caf\xC3\xA9 sales", "Subject: =?UTF-8?B?Q2Fmw6kgc2FsZXM=?=\r\n"},
        {"a\r\nBcc: x", "Subject: =?UTF-8?B?YQ0KQmNjOiB4?=\r\n"},  // no header of its own
        {std::string(40, 'x') + "\xE2\x82\xAC\xE2\x82\xAC",        // the second word starts with a whole euro sign
         "Subject: =?UTF-8?B?eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eOKCrA==?=\r\n "
         "=?UTF-8?B?4oKs?=\r\n"}}) {
    options.Subject = subject;
    EXPECT_EQ(qm::PackMht(dir.Path() / "page.html", dir.Path() / "p.mht", options).Subject, subject);
    const std::string mht = ReadFile(dir / "p.mht");
    EXPECT_NE(mht.find("\r\n" + header + "Date: Tue, 08 Dec 2026 09:00:00 +0000\r\n"), std::string::npos) << mht;
  }

  // Confined, the archive reads nothing outside the page's folder.
  fs::create_directory(dir.Path() / "site");
  WriteFile(dir / "secret.txt", "SECRET-OUTSIDE");
  WriteFile(dir / "site/inside.txt", "INSIDE-FILE");
  fs::create_symlink(dir.Path() / "secret.txt", dir.Path() / "site/link.txt");
  const std::string absolute = dir / "secret.txt";
  WriteFile(dir / "site/page.html", "<html><body><img src=\"../secret.txt\"><img src=\"" + absolute +
                                        "\"><img src=\"link.txt\"><img src=\"inside.txt\"></body></html>");
  // Whether the archive holds the base64 of "SECRET-OUTSIDE" and of "INSIDE-FILE", and what was left out.
  const auto packed = [&](bool confine) {
    options.Confine = confine;
    const qm::MhtResult result = qm::PackMht(dir.Path() / "site/page.html", dir.Path() / "p.mht", options);
    const std::string mht = ReadFile(dir / "p.mht");
    return std::tuple(mht.find("U0VDUkVULU9VVFNJREU=") != std::string::npos,
                      mht.find("SU5TSURFLUZJTEU=") != std::string::npos, result.LeftOut);
  };
  EXPECT_EQ(packed(false), std::tuple(true, true, std::vector<std::string>{}));  // as the published converter
  EXPECT_EQ(packed(true), std::tuple(false, true, std::vector<std::string>{"../secret.txt", absolute, "link.txt"}));
}

TEST(TypedFiles, XmlLoadsAndAnswersPathQueriesThroughElementHandles) {
  ScratchDir dir;
  WriteFile(dir / "orders.xml",
            "<orders><order id=\"1\"><line>a</line><line>b</line></order><note/>"
            "<order id=\"2\"><line>c</line></order></orders>");
  const qm::XmlElement root = qm::LoadXml(dir.Path() / "orders.xml");
  const auto orders = root.Children("order");
  ASSERT_EQ(orders.size(), 2u);
  EXPECT_EQ(std::tuple(root.Children().size(), root.ChildCount("order"), orders[1].Attribute("id"),
                       orders[1].Attribute("none"), orders[0].ChildText("line"), orders[0].ChildText("none", "-")),
            std::tuple(3u, 2u, "2", "", "a", "-"));
  const auto lines = qm::XmlFindAll(root, "order/line");
  EXPECT_EQ(std::tuple(lines.size(), lines[2].Text(), qm::XmlFind(root, "/order//line/")->Text(),
                       qm::XmlFind(root, "order/none").has_value(), qm::XmlFindAll(root, "").size()),
            std::tuple(3u, "c", "a", false, 0u));

  // Handles share the tree: an edit through one is seen from the root, and
  // through the published wrapper of the same node. Saved and read back, the
  // text stays text.
  qm::XmlElement first = orders[0];
  first.SetAttribute("state", "open");
  first.AddChild("line", "d & e");
  EXPECT_EQ(qm::AsXmlNode(root)->GetNthChildWithTag("order", 0)->GetAttrValue("state"), "open");
  root.Save(dir.Path() / "saved.xml");
  const qm::XmlElement again = qm::LoadXml(dir.Path() / "saved.xml");
  EXPECT_EQ(std::tuple(qm::XmlFind(again, "order")->Attribute("state"), qm::XmlFindAll(again, "order/line")[2].Text()),
            std::tuple("open", "d & e"));
  EXPECT_TRUE(ReadFile(dir / "saved.xml").starts_with("<?xml"));
  qm::XmlElement fresh("list");
  fresh.AddChild("item", "1");
  EXPECT_EQ(qm::ParseXml(fresh.Render()).ChildText("item"), "1");

  // A file that is not well-formed: XMLTest pins the typed parse errors whole.
  WriteFile(dir / "empty.xml", "");
  EXPECT_EQ(Explained([&] { qm::LoadXml(dir.Path() / "empty.xml"); }),
            "9999 parse_error: '" + (dir / "empty.xml") + "' is empty");
}

TEST(TypedFiles, HtmlPagesEscapeTheirTextAndDeclareTheirCharset) {
  EXPECT_EQ(qm::EscapeHtml(R"(<a href="x">Tom & 'Jerry'</a>)") + qm::EscapeHtml("plain €"),
            "&lt;a href=&quot;x&quot;&gt;Tom &amp; &#39;Jerry&#39;&lt;/a&gt;plain €");

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
  EXPECT_EQ(ReadFile(dir / "out/index.html") + ReadFile(dir / "out/chart.png"), text + "png bytes");

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
}

// A table in braces picks the overload by its cells: two texts are no range
// of numbers, and mixed numbers are numbers (one number alone: ExporterTest).
static_assert(requires(const fs::path& file) {
  qm::WriteWorkbook(file, {{"item", "price"}});
  qm::WriteWorkbook(file, {{1.5, -2}, {1e20}});
});

// The typed workbook fills the sheet directly: a cell is written as given,
// where the export's text import would have split or unquoted it, and a
// double keeps the digits the file format holds (16), not its 15-digit text.
TEST(TypedFiles, WorkbookCellsGoIntoTheSheetAsGiven) {
  ScratchDir dir;
  // The book's sheet, which holds each of the pieces.
  const auto sheet = [&](const char* book, const std::vector<std::string>& pieces) {
    const std::string cells = Output("unzip -p '" + dir / book + "' xl/worksheets/sheet1.xml");
    for (const std::string& piece : pieces) EXPECT_NE(cells.find(piece), std::string::npos) << piece << "\n" << cells;
    return cells;
  };
  qm::WriteWorkbook(dir.Path() / "text.xlsx", {{"\"open", "a\"\"b", "\"x\"y", "caf\xE9", "true", " 12 "},
                                               {"\t", "", "1e400", "\"quoted\"", "tab\there"},
                                               {"7", "price"}});
  const std::string cells =
      sheet("text.xlsx",
            {"<c r=\"A1\" t=\"inlineStr\"><is><t>\"open</t>", "<c r=\"B1\" t=\"inlineStr\"><is><t>a\"\"b</t>",
             "<c r=\"C1\" t=\"inlineStr\"><is><t>\"x\"y</t>", "<c r=\"D1\" t=\"inlineStr\"><is><t>caf\xC3\xA9</t>",
             "<c r=\"E1\" t=\"b\"><v>1</v>", "<c r=\"F1\"><v>12</v>",
             "<c r=\"A2\" t=\"inlineStr\"><is><t xml:space=\"preserve\">\t</t>",
             "<c r=\"C2\" t=\"inlineStr\"><is><t>1e400</t>", "<c r=\"D2\" t=\"inlineStr\"><is><t>\"quoted\"</t>",
             "<c r=\"E2\" t=\"inlineStr\"><is><t>tab\there</t>", "<c r=\"B3\" t=\"inlineStr\"><is><t>price</t>"});
  EXPECT_EQ(cells.find("r=\"B2\""), std::string::npos) << cells;

  qm::WriteWorkbook(dir.Path() / "numbers.xlsx",
                    {{1.0 / 3, 1e20, -2.5e-300}, {qm::kDefaultInflateCap * 1.0, -0.0, 1.5}});
  sheet("numbers.xlsx", {"<v>0.3333333333333333</v>", "<v>1E+20</v>", "<v>-2.5E-300</v>", "<v>1073741824</v>",
                         "<c r=\"B2\"><v>0</v>", "<c r=\"C2\"><v>1.5</v>"});
  qm::WriteWorkbook(dir.Path() / "empty.xlsx", std::vector<std::vector<std::string>>{});
  EXPECT_TRUE(fs::exists(dir.Path() / "empty.xlsx"));

  // A row as wide as a worksheet fits; the published export, whose text ends
  // each row with a TAB, needs one column more.
  qm::WriteWorkbook(dir.Path() / "wide.xlsx", std::vector(1, std::vector<double>(16384, 1.0)));
  sheet("wide.xlsx", {"<c r=\"XFD1\"><v>1</v>"});
  const qm::Error tooWide =
      RaisedBy([&] { qm::WriteWorkbook(dir.Path() / "wider.xlsx", std::vector(1, std::vector<double>(16385, 1.0))); });
  EXPECT_EQ(std::pair(tooWide.Number(), tooWide.code()), std::pair(9999, make_error_code(qm::errc::too_large)));
  EXPECT_NE(tooWide.Source().find("WriteWorkbook"), std::string::npos) << tooWide.Source();
  EXPECT_FALSE(fs::exists(dir.Path() / "wider.xlsx"));
  // A line break is refused before the folder is looked at.
  for (const char* cell : {"two\nlines", "a\rb"})
    EXPECT_EQ(ErrorOf([&] { qm::WriteWorkbook(dir.Path() / "missing/n.xlsx", {{cell}}); }),
              qm::ERR_InvalidProcedureCall);
}

// The search's list is the recurser's (UtilityTest compares them).
TEST(TypedFiles, FindFilesIsFileRecurserAsPaths) {
  ScratchDir dir;
  fs::create_directories(dir.Path() / "sub");
  for (const char* name : {"b.TXT", "a.txt", "c.doc", "sub/d.txt"}) WriteFile(dir / name, "x");
  ProgressLog log;
  const std::size_t found = qm::FindFiles(dir.Path(), "*.txt", true, log.Callback()).size();
  EXPECT_EQ(std::tuple(found, log.Calls, qm::FindFiles(dir.Path(), "*.txt").size(),
                       qm::FindFiles(dir.Path(), "*.none").size()),
            std::tuple(3u, decltype(log.Calls){{1, 0}, {2, 0}}, 2u, 0u));
  // The pattern is taken in upper case, as the published call takes it: "[Z-a]"
  // becomes the reversed list "[Z-A]". A missing folder (TypedErrors) is the
  // typed call's error naming it, not the recurser's.
  EXPECT_EQ(ErrorOf([&] { qm::FindFiles(dir.Path(), "[Z-a]*"); }), qm::ERR_InvalidPattern);
}

class Point : public qm::IPersistableSimple {
 public:
  explicit Point(double x = 0) : X(x) {}
  double X;
  qm::ScalarFieldsPtr GetScalarFields(std::int32_t) override {
    auto fields = std::make_shared<qm::ScalarFields>();
    fields->AddDetails("X", qm::ST_FloatingPoint, X);
    return fields;
  }
  void SetScalarFields(std::int32_t, const qm::ScalarFieldsPtr& fields) override {
    X = qm::CDbl(fields->ItemName("X")->Value());
  }
  std::string Name(std::int32_t) override { return "Point"; }
  bool Compatible(const std::string& name, std::int32_t) override { return name == "Point"; }
};

TEST(TypedFiles, VectorsOfObjectsSaveAsCollectionRecords) {
  ScratchDir dir;
  const std::vector<std::shared_ptr<Point>> points = {std::make_shared<Point>(2.5), std::make_shared<Point>(-3)};
  qm::SaveObjects(dir.Path() / "points.qms", "Points", points);
  // The record any collection of that name writes.
  const auto expected = qm::TextStream::InMemory();
  qm::QMStream out;
  out.Use(expected);
  out.WriteCollectionSimple(std::make_shared<qm::VectorCollection<Point>>("Points", 1, points), 1);
  EXPECT_EQ(ReadFile(dir / "points.qms"), expected->Text());

  const auto loaded = qm::LoadObjects<Point>(dir.Path() / "points.qms", "Points");
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(std::pair(loaded[0]->X, loaded[1]->X), std::pair(2.5, -3.0));
  WriteFile(dir / "plain.txt", "hello\n");
  EXPECT_EQ((std::vector{ErrorOf([&] { qm::LoadObjects<Point>(dir.Path() / "points.qms", "Lines"); }),
                         ErrorOf([&] { qm::LoadObjects<Point>(dir.Path() / "plain.txt", "Points"); }),
                         ErrorOf([] { qm::VectorCollection<Point>("Points").Item(1, 1); })}),
            (std::vector<int>{qm::ERR_StreamObjectIncompatible, qm::ERR_StreamNotPointingToObject,
                              qm::ERR_SubscriptOutOfRange}));
  // A failed save leaves the old file.
  fs::create_directory(dir.Path() / "folder.qms");
  EXPECT_NE(ErrorOf([&] { qm::SaveObjects(dir.Path() / "folder.qms", "Points", points); }), 0);
  EXPECT_TRUE(fs::is_directory(dir.Path() / "folder.qms"));
}

// Typed records: the text they write (the simple records' format), a round
// trip of every field type, records of other programs, and the errors that
// name what went wrong.
struct Order {
  std::int64_t Id = 0;
  std::int32_t Lines = 0;
  std::string Note{};
  double Amount = 0;
  bool Paid = false;
  sys_seconds Placed{};
  local_seconds Due{};
  year_month_day Shipped{year{2000}, January, day{1}};

  static void Describe(qm::RecordType<Order>& r) {
    r.Name("Order").Version(2).Field("Id", &Order::Id).Field("Lines", &Order::Lines).Field("Note", &Order::Note);
    r.Field("Amount", &Order::Amount).Field("Paid", &Order::Paid).Field("Placed", &Order::Placed);
    r.Field("Due", &Order::Due).Field("Shipped", &Order::Shipped);
  }
  bool operator==(const Order&) const = default;
};

struct Unnamed {
  int Id = 0;
  static void Describe(qm::RecordType<Unnamed>& r) { r.Field("Id", &Unnamed::Id); }
};

struct Twice {
  std::string A, B;
  static void Describe(qm::RecordType<Twice>& r) { r.Name("Twice").Field("Code", &Twice::A).Field("code", &Twice::B); }
};

// Three levels: days hold readings, readings hold samples.
struct Sample {
  std::int32_t Value = 0;
  static void Describe(qm::RecordType<Sample>& r) { r.Name("Sample").Field("Value", &Sample::Value); }
  bool operator==(const Sample&) const = default;
};

struct Reading {
  double Temp = 0;
  std::optional<std::string> Note = "unset";  // an empty one must not come back as this
  std::optional<std::int64_t> Code;
  std::vector<Sample> Samples;
  static void Describe(qm::RecordType<Reading>& r) {
    r.Name("Reading").Field("Temp", &Reading::Temp).Field("Note", &Reading::Note);
    r.Field("Code", &Reading::Code).Field("Samples", &Reading::Samples);
  }
  bool operator==(const Reading&) const = default;
};

struct Day {
  year_month_day Date{year{2000}, January, day{1}};
  std::vector<Reading> Readings;
  std::vector<Sample> Spare;
  static void Describe(qm::RecordType<Day>& r) {
    r.Name("Day").Version(2).Field("Date", &Day::Date).Field("Readings", &Day::Readings).Field("Spare", &Day::Spare);
  }
  bool operator==(const Day&) const = default;
};

// A type holding a vector of itself.
struct Node {
  std::vector<Node> Children;
  static void Describe(qm::RecordType<Node>& r) { r.Name("Node").Field("Children", &Node::Children); }
};

std::vector<Day> Days() {
  return {{year{2026} / December / 1,
           {{12.5, std::nullopt, 9'000'000'000, {{1}, {2}, {37}}}, {-3, "windy\r\nat noon", {}, {}}},
           {{7}}},
          {},  // nothing at all
          {year{2026} / December / 3, {{0.25, {}, {}, {{-1}}}}, {}}};
}

// A published client that takes every property as text.
struct Bag : qm::IPersistableSimple, qm::IPersistableHdleUnknown {
  std::map<std::string, std::string> Values;
  qm::ScalarFieldsPtr GetScalarFields(std::int32_t) override { return std::make_shared<qm::ScalarFields>(); }
  void SetUnknownField(std::int32_t, const std::string& n, const qm::Variant& v) override { Values[n] = v.String(); }
  void SetScalarFields(std::int32_t, const qm::ScalarFieldsPtr&) override {}
  std::string Name(std::int32_t) override { return "Bag"; }
  bool Compatible(const std::string&, std::int32_t) override { return true; }
};

// An Id beyond 32 bits, a note of two lines, and every field set.
Order FullOrder() {
  Order order{9'000'000'000'123, -3, "first line\r\nsecond", 250.5, true};
  order.Placed = sys_days(year{2026} / December / 7) + 22h + 5min + 9s;
  order.Due = local_days(year{2027} / January / 15) + 9h;
  order.Shipped = year{2026} / December / 31;
  return order;
}

// The records of the collection `name` read from `text`.
template <class T>
std::vector<T> ReadText(const std::string& text, const std::string& name) {
  qm::QMStream in;
  in.Use(qm::TextStream::FromText(text));
  return qm::ReadRecords<T>(in, name);
}

TEST(Records, WriteTheSimpleRecordFormatAndReadItBack) {
  ScratchDir dir;
  const auto file = dir.Path() / "orders.qms";
  std::vector<Order> orders{FullOrder(), Order{}};
  qm::SaveRecords(file, "Orders", orders);
  // An object's record: its properties' names and values, in order.
  const auto object = [](const std::vector<std::string>& values) {
    const char* const names[] = {"Id", "Lines", "Note", "Amount", "Paid", "Placed", "Due", "Shipped"};
    std::string text = "   %Object Order @2\r\n";
    for (std::size_t i = 0; i < values.size(); ++i)
      text += "      %Property " + std::string(names[i]) + "\r\n         " + values[i] + "\r\n";
    return text;
  };
  EXPECT_EQ(ReadFile(file.string()),
            "%Collection Orders @1\r\n2\r\n" +
                object({"9000000000123", "-3", "first line\\nsecond", " 250.5", "True", "2026-12-07 22:05:09",
                        "2027-01-15 09:00:00", "2026-12-31"}) +
                object({"0", "0", "", " 0", "False", "1970-01-01", "1970-01-01", "2000-01-01"}));
  EXPECT_EQ(qm::LoadRecords<Order>(file, "Orders"), orders);

  // Two collections in one stream, read back in order.
  const auto text = qm::TextStream::InMemory();
  qm::QMStream out;
  out.Use(text);
  qm::WriteRecords(out, "Open", std::vector<Order>{FullOrder()});
  qm::WriteRecords(out, "Closed", orders);
  qm::QMStream in;
  in.Use(qm::TextStream::FromText(text->Text()));
  EXPECT_EQ(qm::ReadRecords<Order>(in, "Open").size(), 1u);
  EXPECT_EQ(qm::ReadRecords<Order>(in, "Closed"), orders);

  // Version 0 (no "@"), a property and a member collection this type lacks,
  // fields missing, a fraction in an integer field (rounded half to even),
  // booleans by the published rule.
  WriteFile(dir / "old.qms",
            "%Collection Orders\r\n1\r\n"
            "   %Object Order\r\n"
            "      %Property Id\r\n         2.5\r\n"
            "      %Property Colour\r\n         red\r\n"
            "      %Property Paid\r\n         VRAI\r\n"
            "      %Property Placed\r\n         2001-02-03 04:05:06\r\n"
            "      %Collection Lines @1\r\n      1\r\n         %Object Line\r\n"  // a member this type lacks
            "            %Property Qty\r\n               2\r\n");
  // The fields not in the file are as a default-made Order has them.
  const Order old{.Id = 2, .Paid = true, .Placed = sys_days(year{2001} / February / 3) + 4h + 5min + 6s};
  EXPECT_EQ(qm::LoadRecords<Order>(dir.Path() / "old.qms", "Orders"), std::vector<Order>{old});
}

TEST(Records, ErrorsNameWhatIsWrong) {
  ScratchDir dir;
  const auto file = dir.Path() / "orders.qms";

  // Descriptions that cannot be used: refused before anything is written.
  EXPECT_EQ(Described([&] { qm::SaveRecords(file, "Things", std::vector<Unnamed>{Unnamed{}}); }),
            "9999: The record type has no name: call Name(...) in Describe");
  EXPECT_EQ(Described([&] { qm::SaveRecords(file, "T", std::vector<Twice>{Twice{}}); }),
            "9999: The record type Twice names the field code twice (names are compared without regard to case)");
  EXPECT_FALSE(fs::exists(file));

  // Values that would not come back as they were: a line feed alone, a year
  // past 9999 (QMStreamTest pins the other refusals' texts).
  Order feed = FullOrder(), late = FullOrder();
  feed.Note = "lone\nfeed";
  late.Placed = sys_days(year{10000} / 1 / 1);
  for (const Order& bad : {feed, late})
    EXPECT_EQ(RaisedBy([&] { qm::SaveRecords(file, "Orders", std::vector{bad}); }).Number(), 5);

  // Names that do not match, each naming both; text that is no value of the
  // field's type, naming the field.
  qm::SaveRecords(file, "Orders", std::vector<Order>{FullOrder()});
  EXPECT_EQ(Described([&] { qm::LoadRecords<Order>(file, "Invoices"); }),
            "10006: Collection is incompatible with stream collection: expected Invoices, found Orders @1 in " +
                file.string());
  const std::string head = "%Collection Orders @1\r\n1\r\n   %Object ", in = " in " + (dir / "in.qms");
  const std::string other =
      "10006: Object is incompatible with stream object: expected Order (version 2 or older), found ";
  const std::pair<std::string, std::string> loads[] = {
      {head + "Invoice @1\r\n", other + "Invoice @1 at Order[0]" + in},
      {head + "Order @3\r\n", other + "Order @3 at Order[0]" + in},
      {head + "Order @2\r\n      %Property Id\r\n         12x\r\n",
       "13: Type mismatch: field Order[0].Id holds \"12x\"" + in},
      {head + "Order @2\r\n      %Property Placed\r\n         someday\r\n",
       "13: Type mismatch: field Order[0].Placed holds \"someday\"" + in},
  };
  const auto load = [&] { qm::LoadRecords<Order>(dir.Path() / "in.qms", "Orders"); };
  for (const auto& [text, says] : loads) {
    WriteFile(dir / "in.qms", text);
    EXPECT_EQ(Described(load), says);
  }
  EXPECT_EQ(RaisedBy(load).Source(),
            "QuillmarkLibrary.Records|[Records]Public Function LoadRecords(\"" + (dir / "in.qms") + "\", \"Orders\")");
}

TEST(Records, NestedRecordsRoundTripPublishedReadersReadThemAndBadInputNamesThePlace) {
  ScratchDir dir;
  const auto file = dir.Path() / "days.qms";
  const std::vector<Day> days = Days();
  qm::SaveRecords(file, "Days", days);
  EXPECT_EQ(qm::LoadRecords<Day>(file, "Days"), days);
  const std::string good = ReadFile(file.string());
  EXPECT_NE(good.find("   %Object Day @2\r\n      %Property Date\r\n         2026-12-01\r\n"
                      "      %Collection Readings @1\r\n      2\r\n         %Object Reading @1\r\n"),
            std::string::npos)
      << good;

  // A published program: the outer collection by hand, then each reading's
  // record and its member collection, as in docs/typed.md.
  const std::vector<Reading>& readings = days[0].Readings;
  qm::SaveRecords(dir.Path() / "readings.qms", "Readings", readings);
  qm::QMStream published;
  published.Use(qm::TextStream::Open(dir.Path() / "readings.qms", qm::IOMode::ForReading));
  EXPECT_EQ(published.ReadLine(), "%Collection Readings @1");
  EXPECT_EQ(published.ReadLine(), "2");
  for (const Reading& reading : readings) {
    auto bag = std::make_shared<Bag>();
    auto samples = std::make_shared<qm::VectorCollection<Bag>>("Samples");
    published.ReadObjectSimple(bag);
    published.ReadCollectionSimple(samples, true);
    EXPECT_EQ(bag->Values.count("Note"), reading.Note ? 1u : 0u);
    ASSERT_EQ(samples->Items.size(), reading.Samples.size());
    for (std::size_t i = 0; i < samples->Items.size(); ++i)
      EXPECT_EQ(samples->Items[i]->Values.at("Value"), std::to_string(reading.Samples[i].Value));
  }
  EXPECT_TRUE(published.AtEndOfStream());

  // Bad input names the place.
  const auto replaced = [&](const std::string& what, const std::string& with) {
    return std::string(good).replace(good.find(what), what.size(), with);
  };
  const std::string lost = "10005: Stream not pointing to object at Day[";
  const std::pair<std::string, std::string> cases[] = {
      {replaced("   37\r\n", "   37x\r\n"),
       "13: Type mismatch: field Day[0].Readings[0].Samples[2].Value holds \"37x\""},
      {replaced("%Object Sample @1", "%Object Sampel @1"),
       "10006: Object is incompatible with stream object: expected Sample (version 1 or older), found Sampel @1 at "
       "Day[0].Readings[0].Samples[0]"},
      // A member collection indented as its parent's sibling is not its member.
      {replaced("      %Collection Spare", "   %Collection Spare"), lost + "1]"},
      {replaced("      2\r\n         %Object Reading", "      2000000000\r\n         %Object Reading"),
       lost + "0].Readings[2]"},
      {good.substr(0, good.size() - 10), "62: Input past end of file at Day[2].Spare"},
      {"%Collection Days @1\r\n2147483647\r\n", lost + "0]"},
  };
  for (const auto& [text, says] : cases)
    EXPECT_EQ(Described([&, &text = text] { ReadText<Day>(text, "Days"); }), says) << text;
  // Cut anywhere, the file gives its records or a qm::Error, never a crash.
  for (std::size_t n = 0; n < good.size(); n += 7) (void)RaisedBy([&] { ReadText<Day>(good.substr(0, n), "Days"); });

  // Nesting beyond 200 levels, of a type holding a vector of itself, is refused both ways.
  std::string deep = "%Collection Nodes\r\n1\r\n";
  for (std::size_t i = 1; i < 300; ++i)
    deep +=
        std::string(3 * i - 3, ' ') + "%Object Node\r\n" + std::string(3 * i, ' ') + "%Collection Children\r\n1\r\n";
  EXPECT_EQ(ErrorOf([&] { ReadText<Node>(deep, "Nodes"); }), 6);
  std::vector<Node> tree(1);
  Node* leaf = &tree[0];
  for (int i = 0; i < 300; ++i) leaf = &leaf->Children.emplace_back();
  EXPECT_EQ(RaisedBy([&] { qm::SaveRecords(dir.Path() / "nodes.qms", "Nodes", tree); }).Number(), 6);
}

void FramedRaise(std::int32_t number, qm::errc cause) {
  QM_FRAME_TRY { qm::Raise(number, cause, "inner"); }
  QM_FRAME_CATCH("Utility", "Public Sub Inner", number);
}

void FramedFilesystemFailure(std::errc cause) {
  QM_FRAME_TRY { throw fs::filesystem_error("cannot write", "x", std::make_error_code(cause)); }
  QM_FRAME_CATCH("Utility", "Public Sub Inner");
}

TEST(ErrorCodes, OneNumberManyCausesAndEachCauseTestable) {
  EXPECT_EQ(qm::Error(qm::ERR_FileNotFound, "", "File not found").code(), std::errc::no_such_file_or_directory);
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
  EXPECT_EQ((std::vector{qm::ErrcOfErrno(ENOTDIR), qm::ErrcOfErrno(EDQUOT), qm::ErrcOfErrno(EIO)}),
            (std::vector{qm::errc::not_found, qm::errc::no_space, qm::errc::io_error}));

  // Every row of the table has a cause, and an error of its number has it.
  for (const auto& row : qm::ErrorRows()) {
    EXPECT_NE(qm::ErrcName(row.Code), "none") << row.Number;
    EXPECT_EQ(qm::Error(row.Number, "", "").code(), row.Code) << row.Number;
  }
}

// Writing into a folder that is not there, or reading from one, is the one
// error naming the folder; a missing file is the one naming the file.
TEST(TypedErrors, AMissingFolderIsOneErrorWhateverTheJob) {
  ScratchDir dir;
  WriteFile(dir / "page.html", "<html><body>hi</body></html>");
  WriteFile(dir / "in.txt", "some text to pack");
  qm::CompressFile(dir.Path() / "in.txt", dir.Path() / "in.qmz");
  const fs::path missing = dir.Path() / "no-folder";
  const qm::RgbImage picture{1, 1, {0, 0, 0}};
  const std::vector<std::vector<std::string>> table{{"a", "b"}};
  const std::pair<const char*, std::function<void()>> jobs[] = {
      {"workbook", [&] { qm::WriteWorkbook(missing / "t.xlsx", table); }},
      {"jpeg", [&] { qm::WriteJpeg(picture, missing / "p.jpg"); }},
      {"zip", [&] { qm::ZipFiles(missing / "a.zip", std::vector{dir.Path() / "in.txt"}); }},
      {"mht", [&] { qm::PackMht(dir.Path() / "page.html", missing / "p.mht"); }},
      {"objects", [&] { qm::SaveObjects(missing / "o.qms", "Points", std::vector{std::make_shared<Point>()}); }},
      {"records", [&] { qm::SaveRecords(missing / "r.qms", "Samples", std::vector<Sample>(1)); }},
      {"page", [&] { qm::HtmlPage("p").Paragraph("x").Save(missing / "p.html"); }},
      {"xml", [&] { qm::XmlElement("a").Save(missing / "a.xml"); }},
      {"compress", [&] { qm::CompressFile(dir.Path() / "in.txt", missing / "o.qmz"); }},
      {"decompress", [&] { qm::DecompressFile(dir.Path() / "in.qmz", missing / "o.txt"); }},
      {"mht input", [&] { qm::PackMht(missing / "page.html", dir.Path() / "o.mht"); }},
      {"find", [&] { qm::FindFiles(missing, "*"); }},
      {"records input", [&] { qm::LoadRecords<Sample>(missing / "r.qms", "Samples"); }},
  };
  for (const auto& [job, run] : jobs)
    EXPECT_EQ(Explained(run), "76 not_found: Path not found: '" + missing.string() + "'") << job;
  EXPECT_FALSE(fs::exists(missing));

  // A missing input leaves an earlier output as it was (the published
  // converter leaves the message header in it, the published compressor
  // deletes it).
  const fs::path none = dir.Path() / "none", kept = dir.Path() / "kept";
  WriteFile(kept, "old");
  const std::function<void()> reads[] = {
      [&] { qm::LoadXml(none); },
      [&] { qm::PackMht(none, kept); },
      [&] { qm::ReadPicture(none); },
      [&] { qm::CompressFile(none, kept); },
      [&] { qm::LoadRecords<Sample>(none, "Samples"); },
      [&] { qm::LoadObjects<Point>(none, "Points"); },
  };
  for (const auto& read : reads) EXPECT_EQ(Explained(read), "53 not_found: File not found: '" + none.string() + "'");
  // A page's missing picture is named as the picture copier names it.
  EXPECT_EQ(Explained([&] { qm::HtmlPage("m").Image(none).Save(kept); }),
            "53 not_found: File not found: " + none.string());
  EXPECT_EQ(ReadFile(kept), "old");

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
      if (++calls == at || (at == 0 && total > 0 && done == total)) throw Stop();
    });
  } catch (const Stop& stop) {
    return stop.Self == &stop;
  }
  return false;  // the job ended normally (anything else it raises fails the test)
}

TEST(TypedErrors, AStoppedJobPassesTheCallbacksExceptionOnAndLeavesItsFileAsItWas) {
  ScratchDir dir;
  std::string text;
  for (int i = 0; i < 300000; ++i) text += "line " + std::to_string(i * 7919LL % 1009) + "\n";  // several 1 MiB chunks
  WriteFile(dir / "in.txt", text);
  qm::CompressFile(dir.Path() / "in.txt", dir.Path() / "in.qmz");
  WriteFile(dir / "page.html", "<html><body><img src=\"p.bmp\"></body></html>");
  WriteFile(dir / "p.bmp", BmpFile(TestPicture(4, 4)));
  const fs::path inputs[] = {dir.Path() / "in.txt", dir.Path() / "page.html"};
  qm::ZipFiles(dir.Path() / "old.zip", std::span(inputs, 1));
  const std::string oldZip = ReadFile(dir / "old.zip");
  WriteFile(dir / "out", "old contents");

  const auto unchanged = [&] { return ReadFile(dir / "out") == "old contents"; };
  const fs::path out = dir.Path() / "out";
  const std::pair<std::function<void(const qm::Progress&)>, std::vector<int>> jobs[] = {
      {[&](const qm::Progress& p) { qm::CompressFile(inputs[0], out, qm::DeflateLevel::Default, p); }, {1, 2, 0}},
      {[&](const qm::Progress& p) { qm::DecompressFile(dir.Path() / "in.qmz", out, p); }, {1, 2, 0}},
      {[&](const qm::Progress& p) { qm::PackMht(inputs[1], out, "", p); }, {1, 0}}};
  for (const auto& [job, stops] : jobs)
    for (const int at : stops) EXPECT_TRUE(PassesTheStopOn(job, at) && unchanged()) << at;
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
