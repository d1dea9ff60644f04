// Archives opened in a real browser: Chromium must show an archive exactly as
// it shows the page itself (the same screenshot) and build the same document
// from it (the same --dump-dom text).

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "html/RecordingDesktop.h"
#include "quillmark/html/HTML2MHT.h"
#include "quillmark/html/HTMLDoc.h"
#include "quillmark/html/Typographer.h"
#include "support/TestEnvironment.h"

namespace {

namespace fs = std::filesystem;

class Chromium : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v chromium >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "chromium is not installed (Debian package chromium): archives not opened in a browser";
    const std::string make = (qm::test::SourceDir() / "tests/html/make_site.py").string();
    ASSERT_EQ(std::system(("python3 '" + make + "' '" + dir.Path().string() + "'").c_str()), 0);
  }

  // Runs Chromium on `file` with `what` (--screenshot=... or --dump-dom) and
  // a profile of its own; returns what it printed.
  std::string Run(const std::string& file, const std::string& what) {
    const std::string profile = dir / ("profile" + std::to_string(runs_++));
    return qm::test::Output(
        "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync --hide-scrollbars "
        "--window-size=900,500 --user-data-dir='" +
        profile + "' " + what + " 'file://" + file + "' 2>/dev/null");
  }

  std::string Screenshot(const std::string& file) {
    const std::string png = file + ".png";
    Run(file, "--screenshot='" + png + "'");
    return fs::exists(png) ? qm::test::ReadFile(png) : std::string();
  }

  void SameLook(const std::string& page, const std::string& archive) {
    const std::string expected = Screenshot(page);
    ASSERT_GT(expected.size(), 1000u) << page;
    EXPECT_TRUE(Screenshot(archive) == expected) << "the archive looks different, see " << archive + ".png";
  }

  // The document Chromium builds; white space before </body> (where the page
  // and the archive's part end differently) does not count.
  std::string Dom(const std::string& file) {
    return std::regex_replace(Run(file, "--dump-dom"), std::regex("\\s*</body>"), "</body>");
  }

  std::string Pack(const std::string& page) {
    const std::string archive = fs::path(page).replace_extension(".mht").string();
    std::string subject;
    qm::mdlHTML2MHT::ConvertHTMLToMHT(page, archive, subject);
    return archive;
  }

  qm::test::ScratchDir dir;
  qm::test::DesktopInstaller desktop;

 private:
  int runs_ = 0;
};

TEST_F(Chromium, ArchiveLooksAndReadsLikeThePage) {
  // Pictures named in three cases and through "\", a style sheet, UTF-8 text,
  // a long <pre> line; lines ended by LF, then by CR.
  for (const std::string name : {"page.html", "cr.html"}) {
    const std::string page = dir / name;
    const std::string archive = Pack(page);
    SameLook(page, archive);
    const std::string dom = Dom(page);
    ASSERT_NE(dom.find("word39=x</pre>"), std::string::npos) << dom;
    EXPECT_EQ(Dom(archive), dom) << name;
  }
}

TEST_F(Chromium, ReportArchivesShowTheirPictures) {
  fs::create_directory(dir.Path() / "out");
  qm::HTMLDoc doc;
  doc.BeginDoc("Report");
  doc.BeginBody();
  doc.BodyTextCR("Chart:");
  doc.Image(dir / "Pics/Green.PNG");
  doc.SaveAs(dir / "out/doc.html");

  qm::Typographer report;
  report.Initialise("Report");
  report.BodyBegin();
  report.Output("Chart:");
  report.ImageFile(dir / "pics/red.png", 0);
  report.BodyEnd();
  report.Terminate();
  report.SaveAs(dir / "out/report.html");

  for (const std::string name : {"out/doc.html", "out/report.html"}) SameLook(dir / name, Pack(dir / name));
}

}  // namespace
