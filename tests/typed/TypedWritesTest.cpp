// Typed writes behave as a program of today expects: a JPEG written anew has
// the time of the write, an MHT archive says its real date and encodes its
// subject, and a confined archive reads nothing outside the page's folder.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>

#include "quillmark/quillmark.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;
using qm::test::ReadFile;
using qm::test::ScratchDir;
using qm::test::WriteFile;

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
