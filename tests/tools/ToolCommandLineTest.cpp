// The tool's command line behaves like its neighbours': --help and --version
// on stdout with exit 0, wrong usage exits 2 with the reason and the usage on
// stderr, every command does its job, and progress shows on a terminal only.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

#include "ToolRun.h"
#include "quillmark/frame/LibMain.h"

namespace {

namespace fs = std::filesystem;
using qm::test::Quillmark;
using qm::test::QuillmarkApart;
using qm::test::QuillmarkOnTerminal;
using qm::test::ToolRun;

const char* const kCommands[] = {"mht",       "compress",   "decompress", "zip",     "jpeg",  "interp", "find",
                                 "xml-check", "export-tsv", "dialog",     "preview", "print", "version"};

// A 2 x 1 picture, 24 bits a pixel.
std::string TinyBmp() {
  std::string bmp;
  const auto put = [&](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) bmp += static_cast<char>(value >> (8 * i));
  };
  bmp += "BM";
  put(62, 4), put(0, 4), put(54, 4);                                   // file header
  put(40, 4), put(2, 4), put(1, 4), put(1, 2), put(24, 2), put(0, 4);  // info header
  put(8, 4), put(2835, 4), put(2835, 4), put(0, 4), put(0, 4);
  put(0xFF0000, 3), put(0x00FF00, 3), put(0, 2);  // one row, padded to 4 bytes
  return bmp;
}

TEST(ToolCommandLine, HelpAndVersionGoToStdoutAndExitZero) {
  qm::test::ScratchDir dir;
  for (const std::string name : kCommands) {
    for (const char* flag : {" --help", " -h", " --no-such-option --help"}) {
      const ToolRun help = QuillmarkApart(dir.Path(), name + flag);
      EXPECT_EQ(help.Status, 0) << name << flag;
      EXPECT_EQ(help.Errors, "") << name << flag;
      const std::string& text = help.Output;
      EXPECT_TRUE(text.starts_with("Usage: quillmark " + name + " [OPTION]...")) << text;
      EXPECT_NE(text.find("\n\nOptions:\n"), std::string::npos) << text;
      EXPECT_NE(text.find("\n  -h, --help "), std::string::npos) << text;
      EXPECT_NE(text.find("Examples:\n  quillmark " + name), std::string::npos) << text;
    }
  }
  const ToolRun help = Quillmark(dir.Path(), "--help", "2>/dev/null");
  EXPECT_EQ(help.Status, 0);
  EXPECT_TRUE(help.Output.starts_with("Usage: quillmark COMMAND [OPTION]... [ARG]...\n")) << help.Output;
  for (const std::string name : kCommands) EXPECT_NE(help.Output.find("\n  " + name + " "), std::string::npos) << name;
  EXPECT_EQ(Quillmark(dir.Path(), "-h", "2>/dev/null").Output, help.Output);

  const std::string version = "quillmark " + std::string(qm::kLibraryVersion) + "\n";
  for (const char* flag : {"--version", "-V", "version"}) {
    const ToolRun run = Quillmark(dir.Path(), flag, "2>/dev/null");
    EXPECT_EQ(run.Status, 0) << flag;
    EXPECT_TRUE(run.Output.starts_with(version)) << run.Output;
    EXPECT_EQ(std::count(run.Output.begin(), run.Output.end(), '\n'), 2) << run.Output;
  }
}

TEST(ToolCommandLine, WrongUsageExitsTwoWithTheReasonAndTheUsage) {
  qm::test::ScratchDir dir;
  // Arguments, the reason given, and the usage line that follows it.
  const std::pair<const char*, const char*> kCases[] = {
      {"", "quillmark: missing command"},
      {"frobnicate", "quillmark: unknown command 'frobnicate'"},
      {"--frobnicate", "quillmark: unknown option '--frobnicate'"},
      {"mht", "quillmark mht: missing argument: expected PAGE.html [OUT.mht]"},
      {"mht a.html b.mht c", "quillmark mht: unexpected argument 'c'"},
      {"compress in", "quillmark compress: missing argument: expected IN OUT"},
      {"compress --quiet=yes in out", "quillmark compress: option '--quiet' takes no value"},
      {"decompress in out more", "quillmark decompress: unexpected argument 'more'"},
      {"zip a.zip", "quillmark zip: missing argument: expected OUT.zip FILE..."},
      {"zip --level=3 a.zip b", "quillmark zip: unknown option '--level'"},
      {"jpeg a.bmp b.jpg --quality=0", "quillmark jpeg: the quality must be a whole number from 1 to 100, not '0'"},
      {"jpeg a.bmp b.jpg --quality", "quillmark jpeg: option '--quality' needs a value (N)"},
      {"interp 2 1 2", "quillmark interp: give either --cubic or --linear"},
      {"interp --cubic --linear 2 1 2", "quillmark interp: give either --cubic or --linear"},
      {"interp --linear 1.5 1 2", "quillmark interp: PRECISION must be a whole number from -32768 to 32767, not '1.5'"},
      {"interp --linear 2 1 x", "quillmark interp: every value V must be a number, not 'x'"},
      {"find .", "quillmark find: missing argument: expected DIR PATTERN"},
      {"find -x . '*'", "quillmark find: unknown option '-x'"},
      {"xml-check", "quillmark xml-check: missing argument: expected FILE [OUT]"},
      {"export-tsv a.tsv", "quillmark export-tsv: missing argument: expected IN.tsv OUT.xlsx"},
      {"dialog", "quillmark dialog: missing argument: expected KIND [ARG]..."},
      {"dialog frobnicate", "quillmark dialog: unknown dialog 'frobnicate'"},
      {"dialog slider low", "quillmark dialog: MIN must be a number, not 'low'"},
      {"dialog messagebox hi --seconds=-1",
       "quillmark dialog: --seconds must be a whole number from 0 to 2147483647, not '-1'"},
      {"dialog messagebox hi --icon=smiley",
       "quillmark dialog: --icon must be info, exclamation, question or critical, not 'smiley'"},
      {"preview", "quillmark preview: missing argument: expected PAGE.html"},
      {"preview a.html --print-only --no-buttons", "quillmark preview: give --print-only or --no-buttons, not both"},
      {"print a.html --pdf", "quillmark print: option '--pdf' needs a value (OUT)"},
      {"version now", "quillmark version: unexpected argument 'now'"},
  };
  for (const auto& [arguments, reason] : kCases) {
    const ToolRun run = QuillmarkApart(dir.Path(), arguments);
    EXPECT_EQ(run.Status, 2) << arguments;
    EXPECT_EQ(run.Output, "") << arguments;
    EXPECT_TRUE(run.Errors.starts_with(std::string(reason) + "\n")) << arguments << ":\n" << run.Errors;
    const std::string who = std::string(reason).substr(0, std::string(reason).find(':'));
    const std::string usage = who == "quillmark" ? "\nUsage: quillmark COMMAND" : "\nUsage: " + who + " [OPTION]...";
    EXPECT_NE(run.Errors.find(usage), std::string::npos) << arguments << ":\n" << run.Errors;
  }
}

TEST(ToolCommandLine, EveryCommandDoesItsJob) {
  qm::test::ScratchDir dir;
  const fs::path& d = dir.Path();
  qm::test::WriteFile(dir / "page.html", "<html><body><img src=\"pic.bmp\"><a href=\"next.html\">n</a></body></html>");
  qm::test::WriteFile(dir / "next.html", "<html><body>next</body></html>");
  qm::test::WriteFile(dir / "pic.bmp", TinyBmp());
  qm::test::WriteFile(dir / "doc.xml", "<?xml version=\"1.0\"?><root><a/><b/></root>");
  qm::test::WriteFile(dir / "table.tsv", "name\tvalue\none\t1\n\"say \"\"hi\"\"\"\t\"two\nlines\"\n");
  fs::create_directories(d / "tree/sub");
  qm::test::WriteFile(dir / "tree/sub/deep.HTML", "x");

  const auto ok = [&](const std::string& arguments) {
    const ToolRun run = Quillmark(d, arguments, "2>&1");
    EXPECT_EQ(run.Status, 0) << arguments << ":\n" << run.Output;
    return run.Output;
  };
  EXPECT_EQ(ok("mht page.html"), "page.mht\n");
  const std::string archive = qm::test::ReadFile(dir / "page.mht");
  EXPECT_NE(archive.find("Content-Location: http://localhost/next.html"), std::string::npos);
  EXPECT_NE(archive.find("Content-Location: http://localhost/pic.bmp"), std::string::npos);
  fs::create_directory(d / "site");
  qm::test::WriteFile(dir / "site/in.htm", "<img src=\"../pic.bmp\">");
  EXPECT_EQ(ok("mht --confine site/in.htm"),
            "quillmark mht: not packed, outside the page's folder: ../pic.bmp\nsite/in.mht\n");
  EXPECT_EQ(qm::test::ReadFile(dir / "site/in.mht").find("Content-Location: http://localhost/../pic.bmp"),
            std::string::npos);

  const std::string compressed = ok("compress page.html page.cmp");
  EXPECT_EQ(compressed, "page.html (" + std::to_string(fs::file_size(d / "page.html")) + " bytes) -> page.cmp (" +
                            std::to_string(fs::file_size(d / "page.cmp")) + " bytes)\n");
  ok("decompress -q page.cmp back.html");
  EXPECT_EQ(qm::test::ReadFile(dir / "back.html"), qm::test::ReadFile(dir / "page.html"));

  EXPECT_EQ(ok("zip -- all.zip page.html tree"), "all.zip: 2 files\n");
  EXPECT_EQ(qm::test::Output("unzip -Z1 '" + (dir / "all.zip") + "'"), "page.html\ntree/\n");

  EXPECT_EQ(ok("jpeg --quality=80 pic.bmp pic.jpg"), "pic.jpg: 2 x 1, quality 80\n");
  EXPECT_EQ(ok("interp --linear 2 -1 -.5e1"), "-1\n-3\n-5\n");  // a negative value is no option
  EXPECT_EQ(ok("find -rq . '*.html'"), "./back.html\n./next.html\n./page.html\n./tree/sub/deep.HTML\n");
  EXPECT_EQ(ok("xml-check doc.xml out.xml"), "doc.xml: root element <root> with 2 child elements; saved to out.xml\n");
  // Quoted cells read as the export's import reads them: quotes undone, the
  // line break inside quotes kept in its cell.
  EXPECT_EQ(ok("export-tsv table.tsv table.xlsx"), "table.xlsx: 3 rows, 2 columns\n");
  const std::string sheet = qm::test::Output("unzip -p '" + (dir / "table.xlsx") + "' xl/worksheets/sheet1.xml");
  EXPECT_NE(sheet.find(">say \"hi\"</t>"), std::string::npos) << sheet;
  EXPECT_NE(sheet.find(">two\nlines</t>"), std::string::npos) << sheet;
  ok("dialog clear-dismissed --app='Tool test'");  // needs no window
}

// Each long job, run on a terminal, without one, and quietly on one.
TEST(ToolCommandLine, ProgressShowsOnATerminalOnly) {
  qm::test::ScratchDir dir;
  const fs::path& d = dir.Path();
  qm::test::WriteFile(dir / "data.txt", std::string(3 << 20, 'x'));
  qm::test::WriteFile(dir / "page.html", "<html><body>hi</body></html>");
  const std::pair<const char*, const char*> kJobs[] = {
      {"compress data.txt data.cmp", "quillmark compress: 0 bytes of 3.0 MiB (0%)"},
      {"decompress data.cmp data.out", "quillmark decompress: 4 bytes of "},
      {"zip data.zip data.txt", "quillmark zip: "},
      {"mht page.html", "quillmark mht: 1 of 1 parts (100%)"},
      {"find . '*.txt'", "quillmark find: 1 folder"},
  };
  for (const auto& [job, line] : kJobs) {
    const ToolRun shown = QuillmarkOnTerminal(d, job);
    EXPECT_EQ(shown.Status, 0) << job << ":\n" << shown.Output;
    EXPECT_NE(shown.Output.find(std::string("\r") + line), std::string::npos) << job << ":\n" << shown.Output;
    // The last drawing is cleared before the result is printed: blanks over
    // all of it, and back to the start of the line.
    const auto last = shown.Output.rfind("\rquillmark ");
    ASSERT_NE(last, std::string::npos) << job;
    const auto end = shown.Output.find('\r', last + 1);
    ASSERT_NE(end, std::string::npos) << job;
    const auto blanks = shown.Output.find_first_not_of(' ', end + 1);
    EXPECT_GE(blanks - end - 1, end - last - 1) << job << ":\n" << shown.Output;
    EXPECT_EQ(shown.Output.substr(blanks, 1), "\r") << job << ":\n" << shown.Output;

    const ToolRun piped = Quillmark(d, job, "2>&1 >/dev/null");
    EXPECT_EQ(piped.Status, 0) << job;
    EXPECT_EQ(piped.Output, "") << job;
    const ToolRun quiet = QuillmarkOnTerminal(d, std::string(job) + " --quiet");
    EXPECT_EQ(quiet.Status, 0) << job;
    EXPECT_EQ(quiet.Output.find("quillmark"), std::string::npos) << job << ":\n" << quiet.Output;
  }
}

}  // namespace
