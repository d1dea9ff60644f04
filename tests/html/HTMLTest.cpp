#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <regex>

#include "html/PageCharset.h"
#include "html/QuotedPrintable.h"
#include "html/ReferenceScan.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/html/HTML2MHT.h"
#include "quillmark/html/HTMLDoc.h"
#include "quillmark/html/MIMECoding.h"
#include "quillmark/html/Typographer.h"
#include "support/ErrorTrail.h"
#include "support/ProgressLog.h"
#include "support/StubDesktop.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
namespace platform = qm::platform;
using namespace qm::mdlHTML2MHT;
using namespace qm::mdlMIMECoding;
using namespace qm::test;
using qm::HTMLDoc;
using qm::Typographer;

// A desktop that records what the library asks of it, installed for the
// lifetime of a `DesktopInstaller` (which puts the headless one back).
class RecordingDesktop final : public StubDesktop {
 public:
  std::vector<platform::PreviewRequest> Previews;
  std::vector<std::string> Printed, Messages;
  std::vector<platform::MousePointer> Pointers;  // each one set; the last is the current one

  bool HasUserInterface() const override { return true; }
  void ShowPreview(const platform::PreviewRequest& request) override { Previews.push_back(request); }
  void PrintDetached(const std::string& htmlFile) override { Printed.push_back(htmlFile); }
  std::int32_t MessageBox(const std::string& prompt, std::int32_t, const std::string&) override {
    Messages.push_back(prompt);
    return 1;
  }
  void SetMousePointer(platform::MousePointer pointer) override { Pointers.push_back(pointer); }
  platform::MousePointer GetMousePointer() const override {
    return Pointers.empty() ? platform::MousePointer::Arrow : Pointers.back();
  }
};
using DesktopInstaller = DesktopScope<RecordingDesktop>;

// The application name the archives carry: "Lib V" and the version.
const std::string kApp = "Lib V" + std::string(qm::kVersionString);

// Each "|" stands for CR LF.
std::string Lines(const std::string& bars) { return std::regex_replace(bars, std::regex("\\|"), "\r\n"); }

// The end of an archive.
std::string End(const std::string& boundary) { return "\r\n--" + boundary + "--\r\n"; }

std::string Header(const std::string& subject, const std::string& boundary) {
  return Lines("From: <Saved by " + kApp + ">|Subject: " + subject +
               "|Date: 1 January 2000 12:00:00|MIME-Version: 1.0|Content-Type: multipart/related;|\tboundary=\"" +
               boundary + "\";|\ttype=\"text/html\"||This is a multi-part message in MIME format.|");
}

std::string TextPart(const std::string& boundary, const std::string& location, const std::string& body,
                     const std::string& charset = "iso-8859-1") {
  return Lines("|--" + boundary + "|Content-Type: text/html;|\tcharset=\"" + charset +
               "\"|Content-Transfer-Encoding: quoted-printable|Content-Location: http://localhost/" + location + "||") +
         body;
}

std::string BinaryPart(const std::string& boundary, const std::string& type, const std::string& location,
                       const std::string& file, const std::string& encoding = "Content-Transfer-Encoding") {
  // The file in base64 lines of 76 characters, as coreutils' base64 writes them.
  return Lines("|--" + boundary + "|Content-Type: " + type + ";|" + encoding +
               ": base64|Content-Location: http://localhost/" + location + "||") +
         Output("base64 -w 76 '" + file + "' | sed 's/$/\r/'");
}

// The boundary of a written archive, checked for its form.
std::string BoundaryOf(const std::string& archive) {
  std::smatch m;
  const std::regex form("\r\n\tboundary=\"(----=_QMLib_[0-9]+(\\.[0-9]+)?)\";\r\n");
  EXPECT_TRUE(std::regex_search(archive, m, form)) << archive.substr(0, 300);
  return m.size() > 1 ? m[1].str() : std::string();
}

std::string Convert(const std::string& page, const std::string& archive, std::string subject = "S") {
  ConvertHTMLToMHT(page, archive, subject);
  return ReadFile(archive);
}

// A run of `n` plain characters as the encoder breaks it: 75 and "=" per
// continued line, up to 76 on the last.
std::string Soft(char c, std::size_t n) {
  std::string text;
  for (; n > 76; n -= 75) text += std::string(75, c) + "=\r\n";
  return text + std::string(n, c);
}

TEST(MIMECoding, Base64AndQuotedPrintableLines) {
  EXPECT_EQ(mimeencode(-1) + mimeencode(64), "");
  // Every length up to 300 and every byte value, against Python's base64 with its "=" removed.
  std::vector<std::uint8_t> bytes;
  for (int n = 0; n < 300; ++n) bytes.push_back(static_cast<std::uint8_t>(n * 37 + 11));
  std::string lengths;
  for (std::ptrdiff_t n = 0; n <= 300; ++n) lengths += base64_encode({bytes.begin(), bytes.begin() + n}) + "\n";
  EXPECT_EQ(lengths, Output("python3 -c \"import base64; d = bytes((n * 37 + 11) % 256 for n in range(300)); "
                            "print(*(base64.b64encode(d[:n]).decode().rstrip('=') for n in range(301)), sep='\\n')\""));

  EXPECT_EQ(ReplaceCtrlChars("a=b{c}|~\x7f\tz\xe9\r\n"), "a=3Db=7Bc=7D=7C=7E=7F=09z=E9");

  // A long line breaks softly after the first blank or ">" once the counter is above 40.
  // Coded characters count four.
  EXPECT_EQ(ReplaceCtrlChars(std::string(10, '\t') + " " + std::string(79, 'q')),
            "=09=09=09=09=09=09=09=09=09=09 =\r\n" + Soft('q', 79));
  // 79 characters and the line end: no break at the blank, but one before column 76.
  const std::string short79 = std::string(50, 'a') + " " + std::string(28, 'b');
  EXPECT_EQ(ReplaceCtrlChars(short79), std::string(50, 'a') + " " + std::string(24, 'b') + "=\r\n" + "bbbb");
  EXPECT_EQ(ReplaceCtrlChars(short79 + "c"), std::string(50, 'a') + " =\r\n" + std::string(28, 'b') + "c");

  // Never inside an "=XX".
  EXPECT_EQ(ReplaceCtrlChars(std::string(74, 'a') + "=b"), std::string(74, 'a') + "=\r\n=3Db");
  EXPECT_EQ(ReplaceCtrlChars(std::string(73, 'a') + "="), std::string(73, 'a') + "=3D");
  EXPECT_EQ(ReplaceCtrlChars(std::string(74, 'a') + "="), std::string(74, 'a') + "=\r\n=3D");
  // A column break does not reset the counter: the blank after 100 characters still breaks.
  EXPECT_EQ(ReplaceCtrlChars(std::string(100, 'x') + " " + std::string(20, 'y')),
            Soft('x', 100) + " =\r\n" + std::string(20, 'y'));
  // A break due after the last character is made.
  EXPECT_EQ(ReplaceCtrlChars(std::string(85, 'k') + " "), Soft('k', 85) + " =\r\n");

  // Any line: no encoded line passes 76 characters, continued ones 75 and
  // "=", and no break splits an "=XX".
  std::mt19937 random(7);
  const std::string alphabet = "ab =>\t\xe9{<";
  for (int n = 0; n < 2000; ++n) {
    std::string line(random() % 400, ' ');
    for (char& c : line) c = alphabet[random() % alphabet.size()];
    const std::string coded = ReplaceCtrlChars(line);
    ASSERT_TRUE(std::regex_match(coded, std::regex("(.{0,75}=\r\n)*.{0,76}"))) << line;
    ASSERT_EQ(std::regex_replace(coded, std::regex("=[0-9A-F]{2}|=\r\n"), "").find('='), std::string::npos) << line;
  }
}

TEST(HTML2MHT, FindResReadsAttributeValues) {
  std::string line, value;
  auto find = [&](std::int32_t start, const std::string& keyword) {
    const std::int32_t next = FindRes(start, line, keyword, value);
    return std::to_string(next) + " " + value;
  };
  line = "<img SRC=  'a.gif' src=b.gif>";
  EXPECT_EQ(find(1, "src="), "15 A.GIF");                // 10 (just after the keyword) + 5
  EXPECT_EQ(line.substr(0, 19), "<IMG SRC=  'A.GIF' ");  // the line is upper-cased
  EXPECT_EQ((std::vector{find(16, "src="), find(30, "src=")}), (std::vector<std::string>{"29 B.GIF", "30 "}));

  line = "<a href=\"my page.htm\">x</a> <a href=my page.htm>";
  EXPECT_EQ((std::vector{find(1, "HREF="), find(21, "href=")}), (std::vector<std::string>{"20 MY PAGE.HTM", "39 MY"}));
  line = "src=\"a'b\" src=\"\" src=x";
  EXPECT_EQ(find(1, "src="), "6 A");  // either quote ends a value

  // Per line: keyword by keyword, an empty value ends the keyword, each
  // spelling once, as the page writes it.
  ReferenceList found;
  ScanLine("<body background=Bg.gif><a href=\"x.htm\"><img src=\"X.htm\"> src='' src=later.gif <img SRC=\"x.htm\">",
           found);
  EXPECT_EQ(found.Items(), (std::vector<std::string>{"X.htm", "Bg.gif", "x.htm"}));

  std::string many;
  for (int i = 0; i < 10000; ++i) many += "<img src=p" + std::to_string(i) + ".Gif>";
  ReferenceList all;
  ScanLine(many, all);
  EXPECT_EQ(std::pair(all.Items().size(), all.Items().back()), std::pair(std::size_t{10000}, std::string("p9999.Gif")));
}

TEST(HTML2MHT, PageCharsetLabel) {
  const auto label = [](std::initializer_list<std::string_view> pieces) {
    PageCharset charset;
    for (const auto piece : pieces) charset.Feed(piece);
    return charset.Label();
  };
  // Declared: as written, found anywhere, split anyhow, the first one counts.
  EXPECT_EQ(label({"<html><HEAD><META CharSet=\"Windows-1252\"></HEAD>\xe9"}), "Windows-1252");
  EXPECT_EQ(label({"<p>\xc3\xa9</p>\n<me", "ta http-equiv='Content-Type' content=\"text/html; CHARSET=Shift_JIS\">",
                   "<meta charset=utf-8>"}),
            "Shift_JIS");
  EXPECT_EQ(label({"<meta\ncharset = 'koi8-r' />"}), "koi8-r");
  EXPECT_EQ(label({"<meta content=\"text/html; charset=ISO-8859-15\" http-equiv=content-type>"}), "ISO-8859-15");
  // Not declarations: a label no charset has (and below: another element, a
  // content type without http-equiv).
  EXPECT_EQ(label({"<meta charset=\"utf 8;x\">\xc3\xa9"}), "utf-8");
  // Undeclared: UTF-8 that is not plain ASCII; anything else is iso-8859-1.
  EXPECT_EQ(label({"caf\xc3", "\xa9 \xf0", "\x9f", "\x98\x80"}), "utf-8");
  EXPECT_EQ(label({"\xe2", "\x82", "x"}), "iso-8859-1");  // a character cut, then not finished
  for (const char* other : {"<metadata charset=koi8-r><meta content='text/html; charset=koi8-r'>", "plain ascii",
                            "\xc0\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80", "caf\xe9", "\xc3", "\xf0\x9f\x98"})
    EXPECT_EQ(label({other}), "iso-8859-1") << other;
}

TEST(HTML2MHT, ArchiveOfALinkedSiteFoundUnderWindowsStyleNames) {
  ScratchDir dir;
  DesktopInstaller desktop;
  const std::string mainPage = Lines(
      "<HTML><BODY background=\"pics/bg.gif\">|<A href=\"pics\\chart.png\"><IMG src=\"PICS\\CHART.PNG\"></A>|"
      "<A href=\"other page.htm\">next</A> <IMG src=missing.gif>|<A href='data.bin'>58 bytes</A>|</BODY></HTML>|");
  std::string data;
  for (int i = 0; i < 58; ++i) data += static_cast<char>(i * 7);
  fs::create_directories(dir.Path() / "pics");
  WriteFile(dir / "pics/bg.gif", "GIF89a-tiny");
  WriteFile(dir / "pics/Chart.png", std::string(57, '\x89'));  // found without regard to case
  WriteFile(dir / "data.bin", data);
  WriteFile(dir / "main.html", mainPage);
  WriteFile(dir / "other page.htm",
            "<meta charset=\"UTF-8\"><P>a=b {x}\tend \xc3\xa9</P>\n<A href=\"main.html\">back</A>\n");
  const std::string archive = dir / "out.mht";
  WriteFile(archive, "an older archive");
  std::string subject = "Monthly";
  ProgressLog log;
  ConvertHTMLToMHT(dir / "main.html", archive, subject, log.Callback());
  const std::string written = ReadFile(archive);
  const std::string b = BoundaryOf(written);
  const std::string mainBody = std::regex_replace(mainPage, std::regex("="), "=3D");
  const std::string otherBody =
      Lines("<meta charset=3D\"UTF-8\"><P>a=3Db =7Bx=7D=09end =C3=A9</P>|<A href=3D\"main.html\">back</A>|");
  // Parts are named as the page spells them ("\" as "/", a blank as %20);
  // two spellings of one picture give two parts.
  const std::string expected =
      Header("Monthly", b) + TextPart(b, "main.html", mainBody) + TextPart(b, "other%20page.htm", otherBody, "UTF-8") +
      TextPart(b, "main.html", mainBody) + BinaryPart(b, "image/gif", "pics/bg.gif", dir / "pics/bg.gif") +
      BinaryPart(b, "image/png", "PICS/CHART.PNG", dir / "pics/Chart.png") +
      BinaryPart(b, "image/png", "pics/chart.png", dir / "pics/Chart.png") +
      BinaryPart(b, "application/octet-stream", "data.bin", dir / "data.bin", "content-Transfer-Encoding") + End(b);
  EXPECT_EQ(written, expected);  // the file of 58 bytes: a line of 76 characters and one of 4 ending in "=="
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 5);  // no temporaries
  // Every part found counts, the missing picture too, though it gets no part.
  EXPECT_EQ(log.Calls, (decltype(log.Calls){{1, 8}, {2, 8}, {3, 8}, {4, 8}, {5, 8}, {6, 8}, {7, 8}, {8, 8}}));

  // The hourglass shows while the conversion runs, then the pointer before it comes back.
  EXPECT_EQ(desktop->Pointers, (std::vector{platform::MousePointer::Hourglass, platform::MousePointer::Arrow}));

  // Windows-style names resolve: the folder with "\" and in another case, the page name in its own case.
  fs::create_directories(dir.Path() / "Reports");
  fs::rename(dir.Path() / "main.html", dir.Path() / "Reports/Main.html");
  const std::string moved = Convert(dir.Path().string() + "\\REPORTS\\Main.html", dir / "moved.mht");
  EXPECT_NE(moved.find("Content-Location: http://localhost/Main.html\r\n"), std::string::npos);

  // A device is written in place, never replaced.
  ConvertHTMLToMHT(dir / "other page.htm", "/dev/null", subject);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST(HTML2MHT, LineEndsAndTheReadingWindow) {
  ScratchDir dir;
  // CR LF, lone CR and lone LF each end a line; each line is written with CR LF.
  // A line of exactly one window leaves an empty line behind; a CR at the
  // window's end still takes its LF from the next read; longer lines are cut
  // at the window.
  const std::pair<std::string, std::string> pages[] = {
      {"a\r\nb\rc\nd\n\re\r\r\nf", "a|b|c|d||e||f|"},
      {std::string(2048, 'e') + "\r\n" + std::string(2047, 'f') + "\r\n" + std::string(5000, 'g') + "\ny",
       Soft('e', 2048) + "||" + Soft('f', 2047) + "|" + Soft('g', 2048) + "|" + Soft('g', 2048) + "|" + Soft('g', 904) +
           "|y|"},
  };
  for (const auto& [bytes, lines] : pages) {
    WriteFile(dir / "w.html", bytes);
    const std::string written = Convert(dir / "w.html", dir / "w.mht");
    const std::string b = BoundaryOf(written);
    EXPECT_EQ(written, Header("S", b) + TextPart(b, "w.html", Lines(lines)) + End(b));
  }

  // Pages of every line end and long lines read back whole through a MIME parser.
  std::string page;
  for (int i = 0; i < 300; ++i) {
    page += std::string(static_cast<std::size_t>(i % 97), "a >="[i % 4]) + "\t<b>" + std::to_string(i) + "</b> x";
    page += i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r";
  }
  WriteFile(dir / "mixed.html", page);
  Convert(dir / "mixed.html", dir / "mixed.mht");
  const std::string command = "python3 '" + (SourceDir() / "tests/html/check_mht.py").string() + "' '" +
                              (dir / "mixed.mht") + "' text/iso-8859-1 http://localhost/mixed.html '" +
                              (dir / "mixed.html") + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

TEST(HTML2MHT, BadInput) {
  ScratchDir dir;
  std::string subject;
  const std::string archive = dir / "m.mht";
  WriteFile(archive, "an older archive");
  EXPECT_EQ(Trail([&] { ConvertHTMLToMHT(dir / "none.html", archive, subject); }),
            "53: File not found: " + (dir / "none.html") +
                " @ QuillmarkLibrary|[HTML2MHT]Private Function GetReferences(\"" + (dir / "none.html") +
                "\")|[HTML2MHT]Private Sub BuildReferences(\"none.html\")|[HTML2MHT]Public Sub ConvertHTMLToMHT(\"" +
                (dir / "none.html") + "\", \"" + archive + "\", \"Report generated from " + kApp + "\")");
  // The message header was written first; the caller's subject was filled in.
  EXPECT_EQ(subject, "Report generated from " + kApp);
  const std::string header = ReadFile(archive);
  EXPECT_EQ(header, Header(subject, BoundaryOf(header)));

  // References that exist but cannot be read are skipped like missing ones:
  // a folder, a pipe, a device, files that fail to read (a linked page and a
  // picture), files without read permission.
  const std::string lines =
      "<img src=\"sub\">\n<img src=\"pipe.gif\">\n<img src=\"/dev/zero\">\n<a href=\"broken.htm\">\n"
      "<img src=\"broken.gif\">\n<img src=\"locked.gif\">\n<a href=\"locked.htm\">\n";
  WriteFile(dir / "p.html", lines);
  fs::create_directory(dir / "sub");
  ASSERT_EQ(::mkfifo((dir / "pipe.gif").c_str(), 0600), 0);
  for (const std::string broken : {"broken.htm", "broken.gif"})
    fs::create_symlink("/proc/self/mem", dir / broken);  // a regular file whose first read fails
  for (const std::string locked : {"locked.gif", "locked.htm"}) {
    WriteFile(dir / locked, "<img src=\"p.html\">");
    fs::permissions(dir / locked, fs::perms::none);
  }
  const std::string written = Convert(dir / "p.html", archive);
  const std::string b = BoundaryOf(written);
  const std::string page = TextPart(
      b, "p.html", std::regex_replace(std::regex_replace(lines, std::regex("="), "=3D"), std::regex("\n"), "\r\n"));
  if (geteuid() != 0) EXPECT_EQ(written, Header("S", b) + page + End(b));
  else  // root reads the locked files
    EXPECT_EQ(written.substr(0, Header("S", b).size() + page.size()), Header("S", b) + page);

  // A conversion that fails leaves the old archive as it was, and no temporary.
  const std::string before = ReadFile(archive);
  EXPECT_EQ(std::pair(ErrorOf([&] { Convert(dir / "NoFolder\\p.html", archive); }),
                      ErrorOf([&] { Convert(dir / "sub", archive); })),  // a folder as the page
            std::pair(76, 75));
  EXPECT_EQ(ReadFile(archive), before);
  for (const auto& entry : fs::directory_iterator(dir.Path()))
    EXPECT_EQ(entry.path().filename().string().find(".~qm"), std::string::npos) << entry.path();
  EXPECT_EQ(ErrorOf([&] { Convert(dir / "p.html", dir / "no/such/folder.mht"); }), 76);
  if (geteuid() != 0) {
    fs::permissions(archive, fs::perms::owner_read);
    EXPECT_EQ(ErrorOf([&] { Convert(dir / "p.html", archive); }), 70);
  }
}

// Archives opened in a real browser: Chromium must show an archive exactly as
// it shows the page itself (the same screenshot) and build the same document
// from it (the same --dump-dom text). The pages: a site with pictures named
// in three cases and through "\", a style sheet, UTF-8 text and a long <pre>
// line, its lines ended by LF (page.html) and by CR (cr.html); and a report
// with a picture from each of the two report writers.
TEST(Chromium, ArchivesLookAndReadLikeTheirPages) {
  if (std::system("command -v chromium >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "chromium is not installed (Debian package chromium): archives not opened in a browser";
  ScratchDir dir;
  DesktopInstaller desktop;
  const std::string make = (SourceDir() / "tests/html/make_site.py").string();
  ASSERT_EQ(std::system(("python3 '" + make + "' '" + dir.Path().string() + "'").c_str()), 0);
  // Runs Chromium on `file` with `what` (--screenshot=... or --dump-dom) and
  // a profile of its own; returns what it printed.
  int runs = 0;
  const auto run = [&](const std::string& file, const std::string& what) {
    return Output(
        "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync --hide-scrollbars "
        "--window-size=900,500 --user-data-dir='" +
        (dir / ("profile" + std::to_string(runs++))) + "' " + what + " 'file://" + file + "' 2>/dev/null");
  };
  // The document Chromium builds; white space before </body> (where the page
  // and the archive's part end differently) does not count.
  const auto dom = [&](const std::string& file) {
    return std::regex_replace(run(file, "--dump-dom"), std::regex("\\s*</body>"), "</body>");
  };

  fs::create_directory(dir.Path() / "out");
  HTMLDoc doc;
  doc.BeginDoc("Report");
  doc.BeginBody();
  doc.BodyTextCR("Chart:");
  doc.Image(dir / "Pics/Green.PNG");
  doc.SaveAs(dir / "out/doc.html");
  Typographer report;
  report.Initialise("Report");
  report.BodyBegin();
  report.Output("Chart:");
  report.ImageFile(dir / "pics/red.png", 0);
  report.BodyEnd();
  report.Terminate();
  report.SaveAs(dir / "out/report.html");

  for (const std::string name : {"page.html", "cr.html", "out/doc.html", "out/report.html"}) {
    const std::string page = dir / name, archive = fs::path(page).replace_extension(".mht").string();
    Convert(page, archive);
    for (const std::string& file : {page, archive}) run(file, "--screenshot='" + file + ".png'");
    const std::string expected = ReadFile(page + ".png");
    ASSERT_GT(expected.size(), 1000u) << page;
    EXPECT_TRUE(ReadFile(archive + ".png") == expected) << "the archive looks different, see " << archive;
    if (name.starts_with("out/")) continue;
    const std::string pageDom = dom(page);
    ASSERT_NE(pageDom.find("word39=x</pre>"), std::string::npos) << pageDom;
    EXPECT_EQ(dom(archive), pageDom) << name;
  }
}

TEST(HTMLDoc, ReportTitleDefaultsElementsAttributesAndFailures) {
  HTMLDoc doc;
  doc.BeginDoc("Report");
  EXPECT_TRUE(doc.InHead() && !doc.InBody());
  doc.BeginBody();
  EXPECT_TRUE(doc.InBody() && !doc.InHead());
  doc.Heading(1);
  doc.BodyText("Results");
  doc.EndTag();
  for (int taken = 0; taken < 2; ++taken)  // taking it again closes nothing more
    EXPECT_EQ(doc.GetDocument(),
              "<HTML>\r\n<HEAD>\r\n<TITLE> Report</TITLE>\r\n</HEAD>\r\n<BODY>\r\n<H1> "
              "Results</H1>\r\n</BODY>\r\n</HTML>\r\n");

  HTMLDoc fresh;
  fresh.BeginBody();
  fresh.BeginBody();  // already in the body: nothing happens
  EXPECT_EQ(fresh.GetDocument(),
            "<HTML>\r\n<HEAD>\r\n<TITLE> untitled</TITLE>\r\n</HEAD>\r\n<BODY>\r\n</BODY>\r\n</HTML>\r\n");

  // A second BeginDoc starts over.
  fresh.BeginDoc("B");
  EXPECT_EQ(fresh.GetUnfinishedText(), "<HTML>\r\n<HEAD>\r\n<TITLE> B</TITLE>\r\n");

  HTMLDoc bold;
  bold.Bold();
  bold.BodyText("a");
  bold.EndTag();
  bold.Tag("DIV");
  bold.BodyText("a");
  EXPECT_EQ((std::pair{bold.GetUnfinishedText(), bold.GetDocument()}),
            std::pair(std::string("<B> a</B>\r\n<DIV>\r\na"), std::string("<B> a</B>\r\n<DIV>\r\na</DIV>\r\n")));

  HTMLDoc cells;
  cells.TableElem("x");
  cells.TableElem("y", "colspan=2");
  cells.PageBreak();
  cells.Image("C:\\pics\\a.gif");
  cells.AddTagText("border=0");
  // A table after them closes the picture's tag first.
  cells.Table();
  cells.TagBorder(0);
  cells.TableRow();
  cells.TableElemEx();
  // An alignment of 7 adds nothing.
  for (const auto alignment : {qm::vbCenter, static_cast<qm::AlignmentConstants>(7)}) cells.TagAlign(alignment);
  cells.TagWidth(10);
  cells.BodyTextCR("z");
  cells.Italic();
  cells.BodyText("i");
  EXPECT_EQ(cells.GetDocument(),
            "<TD valign=top > x</TD>\r\n<TD valign=top colspan=2> y</TD>\r\n<P style='page-break-before: always'>\r\n"
            "<IMG alt=\"\" src=\"a.gif\" border=0>\r\n<TABLE border=0>\r\n<TR>\r\n<TD align=center width=10>\r\nz<BR>"
            "<I> i</I>\r\n</TD>\r\n</TR>\r\n</TABLE>\r\n");

  HTMLDoc text;
  text.BodyText("t");
  EXPECT_EQ(Trail([&] { text.TagBorder(0); }),
            "9999: Must be in tag @ QuillmarkLibrary.HTMLDoc|[HTMLDoc]Public Sub AddTagText(\"border=0\")|"
            "[HTMLDoc]Public Sub TagBorder(0)");
  EXPECT_EQ(text.GetUnfinishedText(), "t");
  text.Tag("P", true);
  EXPECT_EQ(ErrorOf([&] { text.EndTag(); }), 9);
  EXPECT_EQ(text.GetUnfinishedText(), "t<P>\r\n");  // the pending ">" was written first
}

TEST(HTMLDoc, SaveAsCopiesPicturesNextToThePageAndShowPassesItsPrintSettings) {
  ScratchDir dir;
  for (const char* folder : {"pics", "out"}) fs::create_directories(dir.Path() / folder);
  WriteFile(dir / "pics/a.gif", "GIF89a");
  HTMLDoc doc;
  doc.BeginBody();
  doc.Image((dir.Path() / "pics").string() + "\\a.gif");  // a Windows-style separator resolves too
  doc.SaveAs(dir / "out/r.html");
  EXPECT_EQ(ReadFile(dir / "out/a.gif") + ReadFile(dir / "out/r.html"), "GIF89a" + doc.GetDocument() + "\r\n");

  HTMLDoc missing;
  missing.Image(dir / "pics/none.gif");
  EXPECT_EQ(Trail([&] { missing.SaveAs(dir / "out/m.html"); }),
            "53: File not found: " + (dir / "pics/none.gif") +
                " @ QuillmarkLibrary.HTMLDoc|[HTMLDoc]Public Sub SaveAs(\"" + (dir / "out/m.html") + "\")");
  EXPECT_FALSE(fs::exists(dir / "out/m.html"));

  // The print settings remember what is set, and read by name.
  auto settings = std::make_shared<qm::PrintSettings>();
  settings->SetMargins(1, 2, 3, 4);  // top, left, right, bottom
  settings->SetFooter("f");
  EXPECT_TRUE(settings->MarginsSet() && settings->FooterSet() && !settings->HeaderSet() && !settings->OrientationSet());
  // Late-bound, as the preview reads it.
  qm::Variant v(std::static_pointer_cast<qm::Object>(settings));
  qm::CallByName(v, "SetOrientation", {qm::Variant(qm::ORI_Landscape)});
  EXPECT_EQ(qm::CStr(qm::GetProperty(v, "topmargin")) + qm::CStr(qm::GetProperty(v, "Footer")) +
                qm::CStr(qm::GetProperty(v, "Orientation")),
            "1f" + std::to_string(qm::ORI_Landscape));
  EXPECT_TRUE(settings->OrientationSet());
  EXPECT_EQ(ErrorOf([&] { qm::LetProperty(v, "TopMargin", qm::Variant(3.0)); }), 383);

  // Show passes its settings to the preview.
  {
    DesktopInstaller desktop;
    doc.Show(settings, true, 2);
    ASSERT_EQ(desktop->Previews.size(), 1u);
    const auto& request = desktop->Previews[0];
    EXPECT_TRUE(request.PrintOnly && request.DisplayButtons == 2 && request.PrintSettings == settings);
  }
  // Headless: the desktop's own error, without this operation's element.
  EXPECT_EQ(Trail([&] { doc.Show(nullptr); }),
            "9999: No user interface is available: link quillmark::ui and run with a display @ ");
}

TEST(Typographer, ReportFragments) {
  Typographer t;
  t.Initialise("R", "<META x>");
  t.BodyBegin();
  t.Output("x");
  t.BodyEnd();
  t.Terminate();
  t.TableElement("a");
  t.TableElement("b", qm::vbRightJustify, qm::Variant(50));  // the row is still open
  t.TableElementEx("c", "nowrap");
  t.TableRowBegin();  // ends the open row first
  t.TableEnd();
  t.TableBegin(qm::Variant(1), qm::Variant(2), qm::Variant(100));
  t.TableBegin();
  t.TableBegin(qm::Variant("wide"), std::nullopt, qm::Variant("5"), "id=t");
  t.StyleBegin(qm::tyHeading2);
  t.StyleBegin(qm::tyHeading2);
  t.StyleEnd();
  t.StyleBegin(qm::tyNormal);
  t.StyleEnd();
  for (const auto alignment : {qm::vbRightJustify, static_cast<qm::AlignmentConstants>(3)}) t.Para(alignment);
  t.OutputLine(qm::Null);
  EXPECT_EQ(ErrorOf([&] { t.Output(qm::Null); }), 94);
  for (const auto alignment : {qm::vbLeftJustify, qm::vbCenter}) t.Para(alignment);
  for (auto tag : {&Typographer::FontBold, &Typographer::FontBoldEnd, &Typographer::Small, &Typographer::SmallEnd,
                   &Typographer::LineBreak, &Typographer::PageBreak})
    (t.*tag)();
  t.TableElement("m", qm::vbCenter);
  t.TableElement("n", static_cast<qm::AlignmentConstants>(3));  // no align attribute
  EXPECT_EQ(t.sHTML,
            Lines("<HTML>|<HEAD>|<TITLE>R</TITLE>|<STYLE>  H6 { page-break-before: always }</STYLE><META x>|"
                  "</HEAD><BODY>||x|</BODY>||</HTML>||<TR>|<TD valign=top | align=left |>|a|</TD>|"
                  "<TD valign=top | align=right | Width=50% |>|b|</TD>|<TD valign=top nowrap>|c|</TD>|</TR>|"
                  "<TR>|</TR>|</TABLE>|<TABLE  border=1 cellPadding=2 width=\"100%\" >|<TABLE  >|"
                  "<TABLE  width=\"5%\" id=t>|<H2>|</H2>|<H2>|</H2>|<>|</>|"
                  "<p align=right style='text-align:right'>|<BR>||<p>|<p align=center style='text-align:center'>|"
                  "<B>|</B>|<SMALL>|</SMALL>|<P></P>|<H6></H6>|<TR>|<TD valign=top | align=center |>|m|</TD>|"
                  "<TD valign=top |>|n|</TD>|"));
  // A copy keeps the open row: TableEnd closes it, a cell joins it.
  Typographer copy(t), other;
  other = copy;
  other.TableEnd();
  copy.TableElementEx("k", "");
  EXPECT_EQ(other.sHTML, t.sHTML + Lines("</TR>|</TABLE>|"));
  EXPECT_EQ(copy.sHTML, t.sHTML + Lines("<TD valign=top >|k|</TD>|"));
}

TEST(Typographer, PicturesSavingLeftoversPrintOutAndShow) {
  Typographer t;
  EXPECT_EQ(ErrorOf([&] { t.ImageFile("a.gif", 0); }), 91);  // before Initialise
  t.Initialise();
  t.sHTML.clear();
  ScratchDir dir;
  for (const char* folder : {"p", "out"}) fs::create_directories(dir.Path() / folder);
  WriteFile(dir / "p/a.gif", "A");
  t.ImageFile(dir / "p/a.gif", 0);
  t.ImageFile("c:\\p\\a.gif", 0, 10, 20);
  t.ImageFile("c:\\p\\a.gif", 2, 10);
  EXPECT_EQ(t.sHTML,
            Lines("<IMG alt=\"\" src=\"a.gif\" border=0>|<IMG alt=\"\" src=\"a.gif\" border=0 width=10 height= 20>|"
                  "<IMG alt=\"\" src=\"a.gif\" border=2>|"));
  EXPECT_EQ(Trail([&] { t.SaveAs(dir / "out/r.html"); }),  // no such Windows pictures here
            "53: File not found: c:\\p\\a.gif @ QuillmarkLibrary.Typographer|[Typographer]Public Sub SaveAs(\"" +
                (dir / "out/r.html") + "\")");
  EXPECT_EQ(ReadFile(dir / "out/a.gif"), "A");  // copied before the failure

  // Creation clears the leftovers of earlier runs.
  const std::string temp = qm::TempFolder();
  const std::vector<std::string> leftovers = {"/~typo1.bmp", "/~TYPOx.BMP", "/~tmp2932.html"};
  for (const auto& name : leftovers) WriteFile(temp + name, "x");
  for (const char* keep : {"/keep.bmp", "/~typo1.png"}) WriteFile(temp + keep, "x");
  Typographer fresh;
  for (const auto& name : leftovers) EXPECT_FALSE(fs::exists(temp + name)) << name;
  EXPECT_TRUE(fs::remove(temp + "/keep.bmp") && fs::remove(temp + "/~typo1.png"));

  // PrintOut goes through the platform; Show needs a desktop.
  const std::string printFile = temp + "/~tmp2932.html";
  for (const bool fails : {false, true}) {
    // A failure of printing is shown, never raised.
    DesktopInstaller desktop;
    Typographer printed;
    printed.Initialise("P");
    if (fails) fs::create_directory(printFile);  // the print file cannot be written
    EXPECT_NO_THROW(printed.PrintOut());
    if (fails) fs::remove(printFile);
    EXPECT_EQ(desktop->Printed, fails ? std::vector<std::string>{} : std::vector{printFile});
    EXPECT_EQ(desktop->Messages, fails ? std::vector{"Quillmark Library (PrintOut) : Permission denied: " + printFile}
                                       : std::vector<std::string>{});
    EXPECT_EQ(ReadFile(printFile), fails ? "" : printed.sHTML + "\r\n");
    if (!fails) printed.Show();  // from a scratch folder that goes once the preview is shown
    EXPECT_TRUE(fails || (desktop->Previews.at(0).Caption == "Preview" && !fs::exists(desktop->Previews[0].HtmlFile)));
  }
  // Without a desktop.
  fresh.Initialise("H");
  EXPECT_NO_THROW(fresh.PrintOut());  // the message goes to standard error
  EXPECT_EQ(Trail([&] { fresh.Show(); }),
            "9999: No user interface is available: link quillmark::ui and run with a display @ ");
}

}  // namespace
