#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <regex>
#include <sstream>

#include "html/PageCharset.h"
#include "html/QuotedPrintable.h"
#include "html/RecordingDesktop.h"
#include "html/ReferenceScan.h"
#include "quillmark/Version.h"
#include "quillmark/errors/Error.h"
#include "quillmark/html/HTML2MHT.h"
#include "quillmark/html/MIMECoding.h"
#include "support/ErrorOf.h"
#include "support/ProgressLog.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using namespace qm::mdlHTML2MHT;

// The application name the archives carry: "Lib V" and the version.
const std::string kApp = "Lib V" + std::string(qm::kVersionString);

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
  return Join({"From: <Saved by " + kApp + ">", "Subject: " + subject, "Date: 1 January 2000 12:00:00",
               "MIME-Version: 1.0", "Content-Type: multipart/related;", "\tboundary=\"" + boundary + "\";",
               "\ttype=\"text/html\"", "", "This is a multi-part message in MIME format."});
}

std::string TextPart(const std::string& boundary, const std::string& location, const std::string& body,
                     const std::string& charset = "iso-8859-1") {
  return Join({"", "--" + boundary, "Content-Type: text/html;", "\tcharset=\"" + charset + "\"",
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

// A run of `n` plain characters as the encoder breaks it: 75 and "=" per
// continued line, up to 76 on the last.
std::string Soft(char c, std::size_t n) {
  std::string text;
  for (; n > 76; n -= 75) text += std::string(75, c) + "=\r\n";
  return text + std::string(n, c);
}

TEST(HTML2MHT, QuotedPrintableLines) {
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
    std::size_t from = 0;
    for (std::size_t to; (to = coded.find("\r\n", from)) != std::string::npos; from = to + 2) {
      ASSERT_LE(to - from, 76u) << line;
      ASSERT_EQ(coded[to - 1], '=') << line;
    }
    ASSERT_LE(coded.size() - from, 76u) << line;
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
  EXPECT_EQ(find(16, "src="), "29 B.GIF");
  EXPECT_EQ(find(30, "src="), "30 ");

  line = "<a href=\"my page.htm\">x</a> <a href=my page.htm>";
  EXPECT_EQ(find(1, "HREF="), "20 MY PAGE.HTM");
  EXPECT_EQ(find(21, "href="), "39 MY");
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
  ASSERT_EQ(all.Items().size(), 10000u);
  EXPECT_EQ(all.Items().back(), "p9999.Gif");
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
  // Not declarations: another element, a content type without http-equiv, a label no charset has.
  EXPECT_EQ(label({"<metadata charset=koi8-r><meta content='text/html; charset=koi8-r'>"}), "iso-8859-1");
  EXPECT_EQ(label({"<meta charset=\"utf 8;x\">\xc3\xa9"}), "utf-8");
  // Undeclared: UTF-8 that is not plain ASCII; anything else is iso-8859-1.
  EXPECT_EQ(label({"caf\xc3", "\xa9 \xf0", "\x9f", "\x98\x80"}), "utf-8");
  EXPECT_EQ(label({"plain ascii"}), "iso-8859-1");
  EXPECT_EQ(label({"\xe2", "\x82", "x"}), "iso-8859-1");  // a character cut, then not finished
  for (const char* bad : {"\xc0\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80", "caf\xe9", "\xc3", "\xf0\x9f\x98"})
    EXPECT_EQ(label({bad}), "iso-8859-1") << bad;
}

TEST(HTML2MHT, ArchiveOfALinkedSiteFoundUnderWindowsStyleNames) {
  qm::test::ScratchDir dir;
  qm::test::DesktopInstaller desktop;
  const std::string mainPage =
      Join({"<HTML><BODY background=\"pics/bg.gif\">", "<A href=\"pics\\chart.png\"><IMG src=\"PICS\\CHART.PNG\"></A>",
            "<A href=\"other page.htm\">next</A> <IMG src=missing.gif>", "<A href='data.bin'>58 bytes</A>",
            "</BODY></HTML>"});
  std::string data;
  for (int i = 0; i < 58; ++i) data += static_cast<char>(i * 7);
  fs::create_directories(dir.Path() / "pics");
  qm::test::WriteFile(dir / "pics/bg.gif", "GIF89a-tiny");
  qm::test::WriteFile(dir / "pics/Chart.png", std::string(57, '\x89'));  // found without regard to case
  qm::test::WriteFile(dir / "data.bin", data);
  qm::test::WriteFile(dir / "main.html", mainPage);
  qm::test::WriteFile(dir / "other page.htm",
                      "<meta charset=\"UTF-8\"><P>a=b {x}\tend \xc3\xa9</P>\n<A href=\"main.html\">back</A>\n");
  const std::string archive = dir / "out.mht";
  qm::test::WriteFile(archive, "an older archive");
  const std::string written = Convert(dir / "main.html", archive, "Monthly");
  const std::string b = BoundaryOf(written);
  const std::string mainBody = std::regex_replace(mainPage, std::regex("="), "=3D");
  const std::string otherBody =
      Join({"<meta charset=3D\"UTF-8\"><P>a=3Db =7Bx=7D=09end =C3=A9</P>", "<A href=3D\"main.html\">back</A>"});
  const auto binary = [&](const std::string& type, const std::string& location, const std::string& file) {
    return BinaryPart(b, type, "Content-Transfer-Encoding: base64", location, dir / file);
  };
  // Parts are named as the page spells them ("\" as "/", a blank as %20);
  // two spellings of one picture give two parts.
  const std::string expected =
      Header("Monthly", b) + TextPart(b, "main.html", mainBody) + TextPart(b, "other%20page.htm", otherBody, "UTF-8") +
      TextPart(b, "main.html", mainBody) + binary("Content-Type: image/gif;", "pics/bg.gif", "pics/bg.gif") +
      binary("Content-Type: image/png;", "PICS/CHART.PNG", "pics/Chart.png") +
      binary("Content-Type: image/png;", "pics/chart.png", "pics/Chart.png") +
      BinaryPart(b, "Content-Type: application/octet-stream;", "content-Transfer-Encoding: base64", "data.bin",
                 dir / "data.bin") +
      Join({"", "--" + b + "--"});
  EXPECT_EQ(written, expected);  // the file of 58 bytes: a line of 76 characters and one of 4 ending in "=="
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 5);  // no temporaries

  // The hourglass shows while the conversion runs, then the pointer before it comes back.
  EXPECT_EQ(desktop->Pointers, (std::vector<qm::platform::MousePointer>{qm::platform::MousePointer::Hourglass,
                                                                        qm::platform::MousePointer::Arrow}));

  // Windows-style names resolve: the folder with "\" and in another case, the page name in its own case.
  fs::create_directories(dir.Path() / "Reports");
  fs::rename(dir.Path() / "main.html", dir.Path() / "Reports/Main.html");
  const std::string moved = Convert(dir.Path().string() + "\\REPORTS\\Main.html", dir / "moved.mht");
  EXPECT_NE(moved.find("Content-Location: http://localhost/Main.html\r\n"), std::string::npos);

  // A device is written in place, never replaced.
  std::string subject;
  ConvertHTMLToMHT(dir / "other page.htm", "/dev/null", subject);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST(HTML2MHT, LineEndsAndTheReadingWindow) {
  qm::test::ScratchDir dir;
  // CR LF, lone CR and lone LF each end a line; each line is written with CR LF.
  qm::test::WriteFile(dir / "ends.html", "a\r\nb\rc\nd\n\re\r\r\nf");
  std::string written = Convert(dir / "ends.html", dir / "ends.mht");
  std::string b = BoundaryOf(written);
  EXPECT_EQ(written, Header("S", b) + TextPart(b, "ends.html", Join({"a", "b", "c", "d", "", "e", "", "f"})) +
                         Join({"", "--" + b + "--"}));

  // A line of exactly one window leaves an empty line behind; a CR at the
  // window's end still takes its LF from the next read; longer lines are cut
  // at the window.
  const std::string exact(2048, 'e'), almost(2047, 'f');
  qm::test::WriteFile(dir / "w.html", exact + "\r\n" + almost + "\r\n" + std::string(5000, 'g') + "\ny");
  written = Convert(dir / "w.html", dir / "w.mht");
  b = BoundaryOf(written);
  EXPECT_EQ(written, Header("S", b) +
                         TextPart(b, "w.html",
                                  Join({Soft('e', 2048), "", Soft('f', 2047), Soft('g', 2048), Soft('g', 2048),
                                        Soft('g', 904), "y"})) +
                         Join({"", "--" + b + "--"}));

  // Pages of every line end and long lines read back whole through a MIME parser.
  std::string page;
  for (int i = 0; i < 300; ++i) {
    page += std::string(static_cast<std::size_t>(i % 97), "a >="[i % 4]) + "\t<b>" + std::to_string(i) + "</b> x";
    page += i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r";
  }
  qm::test::WriteFile(dir / "mixed.html", page);
  Convert(dir / "mixed.html", dir / "mixed.mht");
  const std::string command = "python3 '" + (qm::test::SourceDir() / "tests/html/check_mht.py").string() + "' '" +
                              (dir / "mixed.mht") + "' text/iso-8859-1 http://localhost/mixed.html '" +
                              (dir / "mixed.html") + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

TEST(HTML2MHT, ProgressCountsEveryPartFound) {
  qm::test::ScratchDir dir;
  qm::test::DesktopInstaller desktop;
  qm::test::WriteFile(dir / "main.html", "<a href=\"next.html\">n</a><img src=\"a.png\"><img src=\"gone.png\">");
  qm::test::WriteFile(dir / "next.html", "<img src=\"a.png\">");
  qm::test::WriteFile(dir / "a.png", "png");
  std::string subject;
  qm::test::ProgressLog log;
  ConvertHTMLToMHT(dir / "main.html", dir / "out.mht", subject, log.Callback());
  // The page, the linked page, the picture once, and the missing picture,
  // which is counted though it gets no part.
  EXPECT_EQ(log.Calls, (decltype(log.Calls){{1, 4}, {2, 4}, {3, 4}, {4, 4}}));
  EXPECT_NE(qm::test::ReadFile(dir / "out.mht").find("Content-Location: http://localhost/a.png"), std::string::npos);
}

TEST(HTML2MHT, BadInput) {
  qm::test::ScratchDir dir;
  std::string subject;
  const std::string archive = dir / "m.mht";
  qm::test::WriteFile(archive, "an older archive");
  const qm::Error missing = qm::test::RaisedBy([&] { ConvertHTMLToMHT(dir / "none.html", archive, subject); });
  EXPECT_EQ(missing.Number(), 53);
  EXPECT_TRUE(missing.Source().starts_with("QuillmarkLibrary|[HTML2MHT]Private Function GetReferences(\""));
  EXPECT_TRUE(missing.Source().ends_with("|[HTML2MHT]Public Sub ConvertHTMLToMHT(\"" + (dir / "none.html") + "\", \"" +
                                         archive + "\", \"Report generated from " + kApp + "\")"));
  // The message header was written first; the caller's subject was filled in.
  EXPECT_EQ(subject, "Report generated from " + kApp);
  const std::string header = qm::test::ReadFile(archive);
  EXPECT_EQ(header, Header(subject, BoundaryOf(header)));

  // References that exist but cannot be read are skipped like missing ones:
  // a folder, a pipe, a device, files that fail to read (a linked page and a
  // picture), files without read permission.
  const std::vector<std::string> references = {
      "<img src=\"sub\">",        "<img src=\"pipe.gif\">",   "<img src=\"/dev/zero\">", "<a href=\"broken.htm\">",
      "<img src=\"broken.gif\">", "<img src=\"locked.gif\">", "<a href=\"locked.htm\">"};
  std::string lines, coded;
  for (const auto& line : references) {
    lines += line + "\n";
    coded += std::regex_replace(line, std::regex("="), "=3D") + "\r\n";
  }
  qm::test::WriteFile(dir / "p.html", lines);
  fs::create_directory(dir / "sub");
  ASSERT_EQ(::mkfifo((dir / "pipe.gif").c_str(), 0600), 0);
  fs::create_symlink("/proc/self/mem", dir / "broken.htm");  // a regular file whose first read fails
  fs::create_symlink("/proc/self/mem", dir / "broken.gif");
  qm::test::WriteFile(dir / "locked.gif", "x");
  qm::test::WriteFile(dir / "locked.htm", "<img src=\"p.html\">");
  fs::permissions(dir / "locked.gif", fs::perms::none);
  fs::permissions(dir / "locked.htm", fs::perms::none);
  const std::string written = Convert(dir / "p.html", archive);
  const std::string b = BoundaryOf(written);
  const std::string page = TextPart(b, "p.html", coded);
  if (geteuid() != 0) EXPECT_EQ(written, Header("S", b) + page + Join({"", "--" + b + "--"}));
  else  // root reads the locked files
    EXPECT_EQ(written.substr(0, Header("S", b).size() + page.size()), Header("S", b) + page);

  // A conversion that fails leaves the old archive as it was, and no temporary.
  const std::string before = qm::test::ReadFile(archive);
  EXPECT_EQ(qm::test::ErrorOf([&] { Convert(dir / "NoFolder\\p.html", archive); }), 76);
  EXPECT_EQ(qm::test::ErrorOf([&] { Convert(dir / "sub", archive); }), 75);  // a folder as the page
  EXPECT_EQ(qm::test::ReadFile(archive), before);
  for (const auto& entry : fs::directory_iterator(dir.Path()))
    EXPECT_EQ(entry.path().filename().string().find(".~qm"), std::string::npos) << entry.path();
  EXPECT_EQ(qm::test::ErrorOf([&] { Convert(dir / "p.html", dir / "no/such/folder.mht"); }), 76);
  if (geteuid() != 0) {
    fs::permissions(archive, fs::perms::owner_read);
    EXPECT_EQ(qm::test::ErrorOf([&] { Convert(dir / "p.html", archive); }), 70);
  }
}

}  // namespace
