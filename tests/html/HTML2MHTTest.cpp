#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <tuple>

#include "html/QuotedPrintable.h"
#include "html/RecordingDesktop.h"
#include "html/ReferenceScan.h"
#include "quillmark/frame/Error.h"
#include "quillmark/html/HTML2MHT.h"
#include "quillmark/html/MIMECoding.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using namespace qm::mdlHTML2MHT;

// A file in base64 lines of 76 characters, as coreutils' base64 writes them.
std::string Base64Lines(const std::string& file) {
  return qm::test::Output("base64 -w 76 '" + file + "' | sed 's/$/\r/'");
}

std::string Join(std::initializer_list<std::string> lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

std::string Header(const std::string& subject, const std::string& boundary) {
  return Join({"From: <Saved by Lib V1.6.74>", "Subject: " + subject, "Date: 1 January 2000 12:00:00",
               "MIME-Version: 1.0", "Content-Type: multipart/related;", "\tboundary=\"" + boundary + "\";",
               "\ttype=\"text/html\"", "", "This is a multi-part message in MIME format."});
}

std::string TextPart(const std::string& boundary, const std::string& location, const std::string& body) {
  return Join({"", "--" + boundary, "Content-Type: text/html;", "\tcharset=\"iso-8859-1\"",
               "Content-Transfer-Encoding: quoted-printable", "Content-Location: http://localhost/" + location, ""}) +
         body;
}

std::string BinaryPart(const std::string& boundary, const std::string& type, const std::string& encoding,
                       const std::string& location, const std::string& file) {
  return Join({"", "--" + boundary, type, encoding, "Content-Location: http://localhost/" + location, ""}) +
         Base64Lines(file);
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
  return qm::test::ReadFile(archive);
}

TEST(MIMECoding, Base64) {
  using qm::mdlMIMECoding::base64_encode;
  using qm::mdlMIMECoding::mimeencode;
  EXPECT_EQ(mimeencode(0), "A");
  EXPECT_EQ(mimeencode(63), "/");
  EXPECT_EQ(mimeencode(-1), "");
  EXPECT_EQ(mimeencode(64), "");
  // Every length up to 300 and every byte value, against Python's base64 with its "=" removed.
  qm::test::ScratchDir dir;
  std::vector<std::uint8_t> bytes;
  for (int n = 0; n < 300; ++n) bytes.push_back(static_cast<std::uint8_t>(n * 37 + 11));
  qm::test::WriteFile(dir / "bytes", std::string(bytes.begin(), bytes.end()));
  std::istringstream expected(qm::test::Output(
      "python3 -c \"import base64, sys; d = open(sys.argv[1], 'rb').read(); "
      "print(*(base64.b64encode(d[:n]).decode().rstrip('=') for n in range(len(d) + 1)), sep='\\n')\" '" +
      (dir / "bytes") + "'"));
  std::size_t n = 0;
  for (std::string line; std::getline(expected, line); ++n)
    ASSERT_EQ(base64_encode({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)}), line) << n;
  EXPECT_EQ(n, 301u);
}

TEST(HTML2MHT, QuotedPrintableLines) {
  EXPECT_EQ(ReplaceCtrlChars("a=b{c}|~\x7f\tz\xe9\r\n"), "a=3Db=7Bc=7D=7C=7E=7F=09z=E9");

  // A long line breaks after the first blank or ">" once more than 40 counted characters are out.
  const std::string plain = std::string(45, 'x') + " " + std::string(20, 'y') + ">" + std::string(33, 'z');
  EXPECT_EQ(ReplaceCtrlChars(plain), std::string(45, 'x') + " \r\n" + std::string(20, 'y') + ">" + std::string(33, 'z'));
  // Control characters count four.
  const std::string coded = std::string(10, '\t') + " " + std::string(79, 'q');
  EXPECT_EQ(ReplaceCtrlChars(coded).substr(0, 33), std::string("=09=09=09=09=09=09=09=09=09=09 \r\n").substr(0, 33));
  // 79 characters and the CR: never broken; 80: broken.
  const std::string short79 = std::string(50, 'a') + " " + std::string(28, 'b');
  EXPECT_EQ(ReplaceCtrlChars(short79), short79);
  EXPECT_EQ(ReplaceCtrlChars(short79 + "c"), std::string(50, 'a') + " \r\n" + std::string(28, 'b') + "c");
  // A break at the end of the line leaves CR LF behind it.
  EXPECT_EQ(ReplaceCtrlChars(std::string(85, 'k') + " "), std::string(85, 'k') + " \r\n");
}

TEST(HTML2MHT, FindResReadsAttributeValues) {
  std::string line, value;
  auto find = [&](std::int32_t start, const std::string& keyword) {
    const std::int32_t next = FindRes(start, line, keyword, value);
    return std::to_string(next) + " " + value;
  };
  line = "<img SRC=  'a.gif' src=b.gif>";
  EXPECT_EQ(find(1, "src="), "15 A.GIF");  // 10 (just after the keyword) + 5
  EXPECT_EQ(line.substr(0, 19), "<IMG SRC=  'A.GIF' ");  // the line is upper-cased
  EXPECT_EQ(find(16, "src="), "29 B.GIF");
  EXPECT_EQ(find(30, "src="), "30 ");

  line = "<a href=\"my page.htm\">x</a> <a href=my page.htm>";
  EXPECT_EQ(find(1, "HREF="), "20 MY PAGE.HTM");
  EXPECT_EQ(find(21, "href="), "39 MY");
  line = "src=\"a'b\" src=\"\" src=x";
  EXPECT_EQ(find(1, "src="), "6 A");  // either quote ends a value

  // Per line: keyword by keyword, an empty value ends the keyword, duplicates once.
  ReferenceList found;
  line = "<body background=bg.gif><a href=\"x.htm\"><img src=\"x.htm\"> src='' src=later.gif";
  ScanLine(line, found);
  EXPECT_EQ(found.Items(), (std::vector<std::string>{"X.HTM", "BG.GIF"}));

  // A long line with many values is folded once, not once per value.
  std::string many;
  for (int i = 0; i < 10000; ++i) many += "<img src=p" + std::to_string(i) + ".gif>";
  ReferenceList all;
  ScanLine(many, all);
  ASSERT_EQ(all.Items().size(), 10000u);
  EXPECT_EQ(all.Items().back(), "P9999.GIF");
}

struct Site {
  qm::test::ScratchDir dir;
  std::string mainPage = Join({"<HTML><BODY background=\"pics/bg.gif\">",
                               "<A href=\"pics\\chart.png\"><IMG src=\"pics\\chart.png\"></A>",
                               "<A href=\"other page.htm\">next</A> <IMG src=missing.gif>",
                               "<A href='data.bin'>58 bytes</A>", "</BODY></HTML>"});
  std::string otherPage = Join({"<P>a=b {x}\tend</P>", "<A href=\"main.html\">back</A>"});

  Site() {
    std::string data;
    for (int i = 0; i < 58; ++i) data += static_cast<char>(i * 7);
    fs::create_directories(dir.Path() / "pics");
    qm::test::WriteFile(dir / "pics/bg.gif", "GIF89a-tiny");
    qm::test::WriteFile(dir / "pics/Chart.png", std::string(57, '\x89'));  // found through the upper-cased reference
    qm::test::WriteFile(dir / "data.bin", data);
    qm::test::WriteFile(dir / "main.html", mainPage);
    qm::test::WriteFile(dir / "other page.htm", otherPage);
  }
};

TEST(HTML2MHT, ArchiveOfALinkedSiteFoundUnderWindowsStyleNames) {
  Site site;
  qm::test::DesktopInstaller desktop;
  const std::string archive = site.dir / "out.mht";
  const std::string written = Convert(site.dir / "main.html", archive, "Monthly");
  const std::string b = BoundaryOf(written);
  const std::string mainBody = Join({"<HTML><BODY background=3D\"pics/bg.gif\">",
                                     "<A href=3D\"pics\\chart.png\"><IMG src=3D\"pics\\chart.png\"></A>",
                                     "<A href=3D\"other page.htm\">next</A> <IMG src=3Dmissing.gif>",
                                     "<A href=3D'data.bin'>58 bytes</A>", "</BODY></HTML>"});
  const std::string otherBody = Join({"<P>a=3Db =7Bx=7D=09end</P>", "<A href=3D\"main.html\">back</A>"});
  const std::string expected =
      Header("Monthly", b) + TextPart(b, "main.html", mainBody) + TextPart(b, "OTHER%20PAGE.HTM", otherBody) +
      TextPart(b, "MAIN.HTML", mainBody) +
      BinaryPart(b, "Content-Type: image/gif;", "Content-Transfer-Encoding: base64", "PICS/BG.GIF",
                 site.dir / "pics/bg.gif") +
      BinaryPart(b, "Content-Type: image/png;", "Content-Transfer-Encoding: base64", "PICS/CHART.PNG",
                 site.dir / "pics/Chart.png") +
      BinaryPart(b, "Content-Type: application/octet-stream;", "content-Transfer-Encoding: base64", "DATA.BIN",
                 site.dir / "data.bin") +
      Join({"", "--" + b + "--"});
  EXPECT_EQ(written, expected);  // the file of 58 bytes: a line of 76 characters and one of 4 ending in "=="

  // The hourglass shows while the conversion runs, then the pointer before it comes back.
  EXPECT_EQ(desktop->Pointers, (std::vector<qm::platform::MousePointer>{qm::platform::MousePointer::Hourglass,
                                                                         qm::platform::MousePointer::Arrow}));

  // A MIME parser nobody here wrote reads the same parts and bodies.
  std::string command = "python3 '" + (qm::test::SourceDir() / "tests/html/check_mht.py").string() + "' '" + archive;
  for (const auto& [kind, location, file] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"text", "main.html", "main.html"}, {"text", "OTHER%20PAGE.HTM", "other page.htm"},
           {"text", "MAIN.HTML", "main.html"}, {"binary", "PICS/BG.GIF", "pics/bg.gif"},
           {"binary", "PICS/CHART.PNG", "pics/Chart.png"}, {"binary", "DATA.BIN", "data.bin"}})
    command += "' " + kind + " 'http://localhost/" + location + "' '" + (site.dir / file);
  command += "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;

  // Windows-style names resolve: the folder with "\" and in another case, the page name in its own case.
  fs::create_directories(site.dir.Path() / "Reports");
  fs::rename(site.dir.Path() / "main.html", site.dir.Path() / "Reports/Main.html");
  const std::string moved = Convert(site.dir.Path().string() + "\\REPORTS\\Main.html", site.dir / "moved.mht");
  EXPECT_NE(moved.find("Content-Location: http://localhost/Main.html\r\n"), std::string::npos);
}

TEST(HTML2MHT, PagesAreReadThroughAWindow) {
  qm::test::ScratchDir dir;
  std::string lfOnly;
  for (int i = 0; i < 1250; ++i) lfOnly += "abc\n";  // 5000 bytes: windows of 2048, 2048 and 904
  qm::test::WriteFile(dir / "lf.html", lfOnly);
  std::string written = Convert(dir / "lf.html", dir / "lf.mht");
  std::string b = BoundaryOf(written);
  std::string abc;
  for (int i = 0; i < 512; ++i) abc += "abc";
  EXPECT_EQ(written, Header("S", b) + TextPart(b, "lf.html", Join({abc, abc, abc.substr(0, 3 * 226)})) +
                         Join({"", "--" + b + "--"}));

  // A line of exactly one window leaves an empty line behind; a CR at the
  // window's end still takes its LF from the next read.
  const std::string exact(2048, 'e'), almost(2047, 'f');
  qm::test::WriteFile(dir / "w.html", exact + "\r\n" + almost + "\r\ny");
  written = Convert(dir / "w.html", dir / "w.mht");
  b = BoundaryOf(written);
  EXPECT_EQ(written, Header("S", b) + TextPart(b, "w.html", Join({exact, "", almost, "y"})) +
                         Join({"", "--" + b + "--"}));
}

TEST(HTML2MHT, BadInput) {
  qm::test::ScratchDir dir;
  std::string subject;
  const std::string archive = dir / "m.mht";
  const qm::Error missing = qm::test::RaisedBy([&] { ConvertHTMLToMHT(dir / "none.html", archive, subject); });
  EXPECT_EQ(missing.Number(), 53);
  EXPECT_TRUE(missing.Source().starts_with("QuillmarkLibrary|[HTML2MHT]Private Function GetReferences(\""));
  EXPECT_TRUE(missing.Source().ends_with("|[HTML2MHT]Public Sub ConvertHTMLToMHT(\"" + (dir / "none.html") + "\", \"" +
                                         archive + "\", \"Report generated from Lib V1.6.74\")"));
  // The message header was written first; the caller's subject was filled in.
  EXPECT_EQ(subject, "Report generated from Lib V1.6.74");
  const std::string header = qm::test::ReadFile(archive);
  EXPECT_EQ(header, Header(subject, BoundaryOf(header)));

  qm::test::WriteFile(dir / "p.html", "<img src=\"locked.gif\"><a href=\"locked.htm\"><img src=\"sub\">");
  qm::test::WriteFile(dir / "locked.gif", "x");
  qm::test::WriteFile(dir / "locked.htm", "<img src=\"p.html\">");
  fs::create_directory(dir / "sub");  // a folder is no file
  fs::permissions(dir / "locked.gif", fs::perms::none);
  fs::permissions(dir / "locked.htm", fs::perms::none);
  const std::string written = Convert(dir / "p.html", archive);
  if (geteuid() != 0) {  // unreadable references are skipped
    const std::string b = BoundaryOf(written);
    EXPECT_EQ(written, Header("S", b) +
                           TextPart(b, "p.html", "<img src=3D\"locked.gif\"><a href=3D\"locked.htm\"><img src=3D\"sub\">\r\n") +
                           Join({"", "--" + b + "--"}));
  }

  EXPECT_THROW(Convert(dir / "p.html", dir / "no/such/folder.mht"), qm::Error);
  EXPECT_EQ(qm::test::ErrorOf([&] { Convert(dir / "NoFolder\\p.html", archive); }), 76);
}

}  // namespace
