// The tool's command line behaves like its neighbours': --help and --version
// on stdout with exit 0, wrong usage exits 2 with the reason and the usage on
// stderr, every command does its job, and progress shows on a terminal only.
// Its failures name the file and say on stderr what went wrong; zip archives
// every file it is given or exits non-zero. The progress line draws at most
// every interval, says how far the job has come, and leaves the terminal line
// blank when it is cleared.

#include <gmock/gmock.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <utility>

#include "ProgressLine.h"
#include "graphics/PictureFiles.h"
#include "quillmark/frame/LibMain.h"

namespace {

namespace fs = std::filesystem;
using qm::cli::ProgressLine;
using namespace qm::test;
using testing::HasSubstr;
using testing::StartsWith;
using Unit = ProgressLine::Unit;

// A run of the built `quillmark` tool, as a user runs it from a shell.
struct ToolRun {
  std::string Output;  // stdout (on a terminal: all it showed)
  int Status = -1;
  std::string Errors;  // stderr
  bool operator==(const ToolRun&) const = default;
};

void PrintTo(const ToolRun& run, std::ostream* out) {
  *out << "exit status " << run.Status << ", stdout:\n" << run.Output << "\nstderr:\n" << run.Errors;
}

// Runs a shell command; Output is what it printed on stdout.
ToolRun RunShell(const std::string& command) {
  const std::string marker = "\nexit status ";
  const std::string text = Output(command + "; printf '\\nexit status %d' $?");
  const auto at = text.rfind(marker);
  return {text.substr(0, at), std::stoi(text.substr(at + marker.size())), {}};
}

// Runs `quillmark ARGUMENTS` in `dir` (arguments pass through the shell as
// written), with its stdout and stderr apart.
ToolRun Quillmark(const ScratchDir& dir, const std::string& arguments) {
  const std::string errors = dir / ".quillmark-stderr";
  ToolRun run =
      RunShell("cd '" + dir.Path().string() + "' && '" QM_CLI_PROGRAM "' " + arguments + " 2>'" + errors + "'");
  run.Errors = ReadFile(errors);
  return run;
}

// Runs `quillmark ARGUMENTS` in `dir` on a pseudo-terminal (script(1)):
// stdout and stderr both go to the terminal, and Output holds what it showed.
// ARGUMENTS must not hold a double quote.
ToolRun QuillmarkOnTerminal(const ScratchDir& dir, const std::string& arguments) {
  return RunShell("cd '" + dir.Path().string() + "' && script -qec \"'" QM_CLI_PROGRAM "' " + arguments +
                  "\" /dev/null </dev/null");
}

const char* const kCommands[] = {"mht",       "compress",   "decompress", "zip",     "jpeg",  "interp", "find",
                                 "xml-check", "export-tsv", "dialog",     "preview", "print", "version"};

TEST(ToolCommandLine, HelpAndVersionGoToStdoutAndExitZero) {
  ScratchDir dir;
  for (const std::string name : kCommands) {
    const ToolRun help = Quillmark(dir, name + " --help");
    EXPECT_EQ(std::pair(help.Status, help.Errors), std::pair(0, std::string())) << name;
    EXPECT_THAT(help.Output,
                testing::AllOf(StartsWith("Usage: quillmark " + name + " [OPTION]..."), HasSubstr("\n\nOptions:\n"),
                               HasSubstr("\n  -h, --help "), HasSubstr("Examples:\n  quillmark " + name)));
    for (const char* flag : {" -h", " --no-such-option --help"}) EXPECT_EQ(Quillmark(dir, name + flag), help) << flag;
  }
  const ToolRun help = Quillmark(dir, "--help");
  EXPECT_EQ(std::pair(help.Status, Quillmark(dir, "-h")), std::pair(0, help));
  EXPECT_THAT(help.Output, StartsWith("Usage: quillmark COMMAND [OPTION]... [ARG]...\n"));
  for (const std::string name : kCommands) EXPECT_THAT(help.Output, HasSubstr("\n  " + name + " "));

  const ToolRun version = Quillmark(dir, "--version");
  EXPECT_THAT(version.Output, StartsWith("quillmark " + std::string(qm::kLibraryVersion) + "\n"));  // and one line more
  EXPECT_EQ(std::pair(version.Status, std::ranges::count(version.Output, '\n')), std::pair(0, 2L));
  for (const char* flag : {"-V", "version"}) EXPECT_EQ(Quillmark(dir, flag), version) << flag;
}

TEST(ToolCommandLine, WrongUsageExitsTwoWithTheReasonAndTheUsage) {
  ScratchDir dir;
  // Arguments, the reason given, and the usage line that follows it.
  const std::pair<const char*, const char*> kCases[] = {
      {"", "quillmark: missing command"},
      {"frobnicate", "quillmark: unknown command 'frobnicate'"},
      {"--frobnicate", "quillmark: unknown option '--frobnicate'"},
      {"mht", "quillmark mht: missing argument: expected PAGE.html [OUT.mht]"},
      {"compress --quiet=yes in out", "quillmark compress: option '--quiet' takes no value"},
      {"zip --level=3 a.zip b", "quillmark zip: unknown option '--level'"},
      {"jpeg a.bmp b.jpg --quality=0", "quillmark jpeg: the quality must be a whole number from 1 to 100, not '0'"},
      {"jpeg a.bmp b.jpg --quality", "quillmark jpeg: option '--quality' needs a value (N)"},
      {"interp 2 1 2", "quillmark interp: give either --cubic or --linear"},
      {"interp --linear 1.5 1 2", "quillmark interp: PRECISION must be a whole number from -32768 to 32767, not '1.5'"},
      {"interp --linear 2 1 x", "quillmark interp: every value V must be a number, not 'x'"},
      {"find -x . '*'", "quillmark find: unknown option '-x'"},
      {"dialog frobnicate", "quillmark dialog: unknown dialog 'frobnicate'"},
      {"dialog slider low", "quillmark dialog: MIN must be a number, not 'low'"},
      {"dialog messagebox hi --seconds=-1",
       "quillmark dialog: --seconds must be a whole number from 0 to 2147483647, not '-1'"},
      {"dialog messagebox hi --icon=smiley",
       "quillmark dialog: --icon must be info, exclamation, question or critical, not 'smiley'"},
      {"preview a.html --print-only --no-buttons", "quillmark preview: give --print-only or --no-buttons, not both"},
      {"print", "quillmark print: missing argument: expected PAGE.html"},
      {"version now", "quillmark version: unexpected argument 'now'"},
  };
  for (const auto& [arguments, reason] : kCases) {
    const ToolRun run = Quillmark(dir, arguments);
    EXPECT_EQ(std::pair(run.Status, run.Output), std::pair(2, std::string())) << arguments;
    const std::string who = std::string(reason).substr(0, std::string(reason).find(':'));
    const std::string usage = who == "quillmark" ? "\nUsage: quillmark COMMAND" : "\nUsage: " + who + " [OPTION]...";
    EXPECT_THAT(run.Errors, testing::AllOf(StartsWith(std::string(reason) + "\n"), HasSubstr(usage))) << arguments;
  }
}

TEST(ToolCommandLine, EveryCommandDoesItsJob) {
  ScratchDir dir;
  WriteFile(dir / "page.html", "<html><body><img src=\"pic.bmp\"><a href=\"next.html\">n</a></body></html>");
  WriteFile(dir / "next.html", "<html><body>next</body></html>");
  WriteFile(dir / "pic.bmp", BmpFile(RgbImage{2, 1, {255, 0, 0, 0, 255, 0}}));
  WriteFile(dir / "doc.xml", "<?xml version=\"1.0\"?><root><a/><b/></root>");
  WriteFile(dir / "table.tsv", "name\tvalue\none\t1\n\"say \"\"hi\"\"\"\t\"two\nlines\"\n");
  fs::create_directories(dir / "tree/sub");
  WriteFile(dir / "tree/sub/deep.HTML", "x");

  // What the command said, stderr first; it must succeed.
  const auto ok = [&](const std::string& arguments) {
    const ToolRun run = Quillmark(dir, arguments);
    EXPECT_EQ(run.Status, 0) << arguments << ":\n" << run.Errors;
    return run.Errors + run.Output;
  };
  EXPECT_EQ(ok("mht page.html"), "page.mht\n");
  EXPECT_THAT(ReadFile(dir / "page.mht"), testing::AllOf(HasSubstr("Content-Location: http://localhost/next.html"),
                                                         HasSubstr("Content-Location: http://localhost/pic.bmp")));
  fs::create_directory(dir / "site");
  WriteFile(dir / "site/in.htm", "<img src=\"../pic.bmp\">");
  EXPECT_EQ(ok("mht --confine site/in.htm"),
            "quillmark mht: not packed, outside the page's folder: ../pic.bmp\nsite/in.mht\n");
  EXPECT_THAT(ReadFile(dir / "site/in.mht"), testing::Not(HasSubstr("Content-Location: http://localhost/../pic.bmp")));

  const std::string compressed = ok("compress page.html page.cmp");
  EXPECT_EQ(compressed, "page.html (" + std::to_string(fs::file_size(dir / "page.html")) + " bytes) -> page.cmp (" +
                            std::to_string(fs::file_size(dir / "page.cmp")) + " bytes)\n");
  ok("decompress -q page.cmp back.html");
  EXPECT_EQ(ReadFile(dir / "back.html"), ReadFile(dir / "page.html"));

  EXPECT_EQ(ok("zip -- all.zip page.html tree"), "all.zip: 2 files\n");
  EXPECT_EQ(Output("unzip -Z1 '" + (dir / "all.zip") + "'"), "page.html\ntree/\n");

  EXPECT_EQ(ok("jpeg --quality=80 pic.bmp pic.jpg"), "pic.jpg: 2 x 1, quality 80\n");
  EXPECT_EQ(ok("interp --linear 2 -1 -.5e1"), "-1\n-3\n-5\n");  // a negative value is no option
  EXPECT_EQ(ok("find -rq . '*.html'"), "./back.html\n./next.html\n./page.html\n./tree/sub/deep.HTML\n");
  EXPECT_EQ(ok("xml-check doc.xml out.xml"), "doc.xml: root element <root> with 2 child elements; saved to out.xml\n");
  // Quoted cells read as the export's import reads them: quotes undone, the
  // line break inside quotes kept in its cell.
  EXPECT_EQ(ok("export-tsv table.tsv table.xlsx"), "table.xlsx: 3 rows, 2 columns\n");
  EXPECT_THAT(Output("unzip -p '" + (dir / "table.xlsx") + "' xl/worksheets/sheet1.xml"),
              testing::AllOf(HasSubstr(">say \"hi\"</t>"), HasSubstr(">two\nlines</t>")));
  ok("dialog clear-dismissed --app='Tool test'");  // needs no window
}

// Each long job, run on a terminal, without one, and quietly on one.
TEST(ToolCommandLine, ProgressShowsOnATerminalOnly) {
  ScratchDir dir;
  WriteFile(dir / "data.txt", std::string(3 << 20, 'x'));
  WriteFile(dir / "page.html", "<html><body>hi</body></html>");
  const std::pair<const char*, const char*> kJobs[] = {
      {"compress data.txt data.cmp", "quillmark compress: 0 bytes of 3.0 MiB (0%)"},
      {"decompress data.cmp data.out", "quillmark decompress: 4 bytes of "},
      {"zip data.zip data.txt", "quillmark zip: "},
      {"mht page.html", "quillmark mht: 1 of 1 parts (100%)"},
      {"find . '*.txt'", "quillmark find: 1 folder"},
  };
  for (const auto& [job, line] : kJobs) {
    const ToolRun shown = QuillmarkOnTerminal(dir, job);
    EXPECT_EQ(shown.Status, 0) << job << ":\n" << shown.Output;
    EXPECT_THAT(shown.Output, HasSubstr(std::string("\r") + line)) << job;
    // The last drawing is cleared before the result is printed: blanks over
    // all of it, and back to the start of the line.
    const auto last = shown.Output.rfind("\rquillmark "), end = shown.Output.find('\r', last + 1);
    EXPECT_EQ(shown.Output.substr(end, end - last + 1), "\r" + std::string(end - last - 1, ' ') + "\r") << job;

    const ToolRun piped = Quillmark(dir, job);
    EXPECT_EQ(std::pair(piped.Status, piped.Errors), std::pair(0, std::string())) << job;
    const ToolRun quiet = QuillmarkOnTerminal(dir, std::string(job) + " --quiet");
    EXPECT_EQ(quiet.Status, 0) << job;
    EXPECT_THAT(quiet.Output, testing::Not(HasSubstr("quillmark"))) << job;
  }
}

TEST(ToolMessages, FailuresNameTheFileAndZipArchivesEveryFileOrExitsNonZero) {
  ScratchDir dir;
  WriteFile(dir / "plain.txt", "plain text, not compressed");
  WriteFile(dir / "empty", "");
  WriteFile(dir / "page.html", "<html><body>hi</body></html>");
  // An unclosed quote runs to the end: one cell too long for a worksheet.
  WriteFile(dir / "long.tsv", "a\t\"" + std::string(20000, 'x') + "\n" + std::string(20000, 'y') + "\n");
  fs::create_directory(dir / "folder");

  // Each failing command and the words it must say on stderr, with exit
  // status 1; a folder where a file is expected is said to be one, on either
  // side, and no failure is called a logic error.
  const std::pair<const char*, const char*> kCases[] = {
      {"compress missing.bin out", "missing.bin does not exist (error 53: File not found: 'missing.bin')"},
      {"compress empty out", "empty is empty: there is nothing to compress"},
      {"compress plain.txt no-folder/out", "cannot write no-folder/out: the folder no-folder does not exist"},
      {"decompress plain.txt out",
       "plain.txt is not a compressed file of this kind, or it is damaged; out holds only what could be "
       "decompressed (zlib result -3: data error)"},
      {"mht missing.html", "missing.html does not exist"},
      {"jpeg plain.txt out.jpg", "Invalid picture: not a BMP, GIF, JPEG or PNG file: 'plain.txt'"},
      {"xml-check missing.xml", "missing.xml does not exist"},
      {"xml-check plain.txt", "'plain.txt' is not well-formed XML: line 1, column 1: syntax error"},
      {"find no-folder '*'", "no-folder does not exist"},
      {"zip plain.txt page.html",
       "plain.txt: exists but is not a zip archive, or is damaged (Not a zip archive); it was left as it was"},
      {"zip no-folder/a.zip page.html", "cannot write no-folder/a.zip: the folder no-folder does not exist"},
      {"interp --linear -1 1 2", "PRECISION -1 is negative: it gives the points per interval (error 9)"},
      {"zip '' page.html", "quillmark zip: no archive name was given\n"},
      {"zip a.zip . page.html", ".: is the root or the current folder, which has no name to store, not archived"},
      {"zip a.zip missing.txt", "none of the files was found: no archive written"},
      {"export-tsv folder out.xlsx", "folder is a folder, not a file"},
      {"zip folder page.html", "folder: is a folder, not a zip archive"},
      {"export-tsv long.tsv out.xlsx", "A cell holds more than 32767 characters"},
  };
  for (const auto& [arguments, words] : kCases) {
    const ToolRun run = Quillmark(dir, arguments);
    EXPECT_EQ(run.Status, 1) << arguments;
    EXPECT_THAT(run.Errors, testing::AllOf(HasSubstr(words), testing::Not(HasSubstr("Internal logic"))));
  }
  EXPECT_FALSE(fs::exists(dir / "out.xlsx"));
  EXPECT_EQ(ReadFile(dir / "plain.txt"), "plain text, not compressed");

  // Written over its input, a file is reported with the size it had.
  const ToolRun run = Quillmark(dir, "compress plain.txt plain.txt");
  EXPECT_EQ(run.Status, 0);
  EXPECT_THAT(run.Output, StartsWith("plain.txt (26 bytes) -> plain.txt ("));

  // zip archives every file it is given, more than it holds open at once.
  fs::create_directory(dir / "many");
  std::string names;
  for (int i = 0; i < 1100; ++i) {  // more than the Zipper's 1024
    WriteFile(dir / ("many/" + std::to_string(i)), std::to_string(i));
    names += " many/" + std::to_string(i);
  }
  const auto listed = [&](const std::string& filter) {
    return Output("unzip -Z1 '" + (dir / "all.zip") + "'" + filter);
  };
  EXPECT_EQ(Quillmark(dir, "zip all.zip" + names), (ToolRun{"all.zip: 1100 files\n", 0, ""}));
  EXPECT_EQ(listed(" | wc -l"), "1100\n");

  // A file asked for that is not in the archive makes the run fail, naming it.
  EXPECT_EQ(Quillmark(dir, "zip all.zip" + names + " many/gone"),
            (ToolRun{"", 1,
                     "quillmark zip: many/gone: not found, not archived\n"
                     "quillmark zip: 1 of 1101 files are not in all.zip\n"}));

  // -u keeps the entries there; without it the archive is made anew.
  WriteFile(dir / "extra.txt", "x");
  EXPECT_EQ(Quillmark(dir, "zip -u all.zip extra.txt").Status, 0);
  EXPECT_EQ(listed(" | wc -l"), "1101\n");
  EXPECT_EQ(Quillmark(dir, "zip all.zip extra.txt").Status, 0);
  EXPECT_EQ(listed(""), "extra.txt\n");
}

TEST(ProgressLine, DrawsAtMostEveryIntervalSaysHowFarAndClearsWhatItDrew) {
  std::ostringstream out;
  std::chrono::steady_clock::time_point now{};
  {
    ProgressLine line(out, true, "quillmark zip", Unit::Parts, [&] { return now; });
    line.Update(1, 4);
    line.Update(2, 4);  // too soon: not drawn
    now += ProgressLine::kInterval;
    line.Callback()(10, 0);  // through the library's callback; a longer line
    now += ProgressLine::kInterval;
    line.Update(3, 4);  // shorter: blanks cover the rest of the longer one
  }                     // cleared when it goes
  EXPECT_EQ(out.str(),
            "\rquillmark zip: 1 of 4 parts (25%)"
            "\rquillmark zip: 10 parts          "  // padded to the 33 characters drawn before
            "\rquillmark zip: 3 of 4 parts (75%)"
            "\r                                 \r");

  std::ostringstream hidden;
  {
    ProgressLine line(hidden, false, "quillmark zip", Unit::Parts);
    line.Update(1, 4);
    EXPECT_FALSE(line.Callback());  // the library is given no callback at all
  }
  EXPECT_EQ(hidden.str(), "");

  // The text in the job's units.
  EXPECT_EQ(ProgressLine::Text("c", Unit::Bytes, 1536, 5ull << 30), "c: 1.5 KiB of 5.0 GiB (0%)");
  EXPECT_EQ(ProgressLine::Text("c", Unit::Bytes, 7, 7), "c: 7 bytes of 7 bytes (100%)");
  EXPECT_EQ(ProgressLine::Text("f", Unit::Folders, 2, 0), "f: 2 folders");
  EXPECT_EQ(ProgressLine::Text("m", Unit::Parts, 9, 8), "m: 9 of 8 parts (100%)");  // never past 100%
}

}  // namespace
