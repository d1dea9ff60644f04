#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Clients.h"
#include "quillmark/errors/Error.h"
#include "quillmark/persistence/QMStream.h"
#include "support/ErrorOf.h"
#include "support/TestEnvironment.h"

namespace {

using qm::QMStream;
using qm::TextStream;
using qm::test::RaisedBy;
using qm::test::Reader;

TEST(QMStreamLines, PushBackAndPeek) {
  QMStream s = Reader("A\r\nB\nC");
  EXPECT_EQ(s.CurrentLine(), "");
  for (int i = 0; i < 2; ++i) s.ReadLine();
  for (int i = 0; i < 2; ++i) s.UnReadLine();
  EXPECT_EQ(s.CurrentLine(), "");
  for (const char* line : {"A", "B", "C"}) EXPECT_EQ(s.ReadLine(), line);
  EXPECT_TRUE(s.AtEndOfStream());
  EXPECT_EQ(s.Peek(), "");
  s.UnReadLine();
  EXPECT_FALSE(s.AtEndOfStream());
  EXPECT_EQ(s.Peek(), "C");
  EXPECT_EQ(s.Peek(), "C");
  EXPECT_EQ(s.CurrentLine(), "B");

  // Pushing back past the first line delivers empty lines; an empty first line is a line.
  s.Use(TextStream::FromText("  A\n"));
  EXPECT_EQ(s.ReadLine(), "  A");  // leading blanks are kept
  for (int i = 0; i < 3; ++i) s.UnReadLine();
  for (const char* line : {"", "", "  A"}) EXPECT_EQ(s.ReadLine(), line);
  s.Use(TextStream::FromText("\n\nx\n"));
  EXPECT_EQ(s.ReadLine(), "");
  EXPECT_EQ(s.ReadLine(), "");
  EXPECT_EQ(s.Peek(), "x");
}

TEST(QMStreamLines, IndentationOnWriting) {
  std::shared_ptr<TextStream> out;
  QMStream s = qm::test::Writer(out);
  for (int i = 0; i < 2; ++i) s.Indent();
  s.WriteLine("x");
  s.WriteLine();
  s.WriteLine("a\r\nb");
  s.WriteBlankLines(2);
  for (int i = 0; i < 3; ++i) s.UnIndent();  // one more than indented
  EXPECT_EQ(s.IndentWidth(), 0);
  s.WriteLine("x");
  EXPECT_EQ(out->Text(), "      x\r\n      \r\n      a\r\nb\r\n\r\n\r\nx\r\n");

  // A second Use forgets the pushed-back lines but keeps the indentation.
  s.Indent();
  s.Use(TextStream::FromText("P\nQ\n"));
  EXPECT_EQ(s.ReadLine(), "P");
  s.UnReadLine();
  s.Use(TextStream::FromText("R\n"));
  EXPECT_EQ(s.ReadLine(), "R");
  EXPECT_EQ(s.IndentWidth(), 3);
}

TEST(QMStreamLines, ErrorsCarryTheStreamElementsAndCloseForgetsTheLines) {
  QMStream s = Reader("only\n");
  s.ReadLine();
  const qm::Error e = RaisedBy([&] { s.SkipLine(); });
  EXPECT_EQ(e.Number(), 62);
  EXPECT_EQ(e.Description(), "Input past end of file");
  EXPECT_EQ(e.Source(),
            "QuillmarkLibrary.QMStream|[QMStream]Public Function ReadLine()|[QMStream]Public Sub SkipLine()");
  QMStream unbound;
  EXPECT_NO_THROW(unbound.UnReadLine());
  EXPECT_EQ(unbound.CurrentLine(), "");
  EXPECT_EQ(RaisedBy([&] { unbound.WriteLine("x"); }).Number(), 91);

  // Close closes the bound stream and forgets the lines.
  qm::test::ScratchDir dir;
  qm::test::WriteFile(dir / "f.txt", "1\n2\n");
  QMStream file;
  file.Use(TextStream::Open(dir / "f.txt", qm::IOMode::ForReading));
  EXPECT_EQ(file.ReadLine(), "1");
  file.Close_();
  EXPECT_EQ(file.CurrentLine(), "");
  EXPECT_THROW(file.ReadLine(), qm::Error);
}

// A file larger than a read block is read ahead on a thread, into blocks of
// 2 MiB whose first 64 KiB are kept free for the line a block ends inside.
// A CR LF pair parted by a block boundary, a line longer than that room
// across one, a line of several blocks, and a line ending right at a boundary
// come back whole; the bytes still to come count the blocks read ahead; a
// file that grows meanwhile is read to its new end. (Streams let go while
// their blocks are read ahead: ReadAheadMemory, BackgroundFailures.)
TEST(QMStreamLines, FileReadAheadAcrossBlockBoundaries) {
  constexpr std::size_t kText = (std::size_t{2} << 20) - (std::size_t{64} << 10);  // the text of a block
  std::vector<std::string> lines;
  std::string bytes;
  const auto add = [&](std::string line, const char* end) {
    bytes += line + end;
    lines.push_back(std::move(line));
  };
  const auto fillUntil = [&](std::size_t next) {  // the next line starts at `next`
    while (next - bytes.size() > 64) add("filler " + std::to_string(lines.size()), "\n");
    add(std::string(next - bytes.size() - 1, 'f'), "\n");
  };
  fillUntil(kText - 5);
  add("abcd", "\r\n");  // CR at the block's last byte, LF at the next one's first
  fillUntil(2 * kText - 80000);
  add(std::string(100000, 'L'), "\r\n");
  fillUntil(3 * kText);
  add("first of the fourth block", "\n");
  add(std::string(5 * kText / 2, 'M'), "\n");  // across three block boundaries
  fillUntil(7 * kText + kText / 2);
  add("the end of the file as opened", "\n");

  qm::test::ScratchDir dir;
  qm::test::WriteFile(dir / "big.txt", bytes);
  const auto stream = TextStream::Open(dir / "big.txt", qm::IOMode::ForReading);
  QMStream s;
  s.Use(stream);
  std::uint64_t remaining = stream->RemainingBytes();
  EXPECT_EQ(remaining, bytes.size());
  const auto readOn = [&](std::size_t from) {
    for (std::size_t i = from; i < lines.size(); ++i) {
      ASSERT_EQ(s.ReadLine(), lines[i]);
      ASSERT_LE(stream->RemainingBytes(), remaining);
      remaining = stream->RemainingBytes();
    }
  };
  readOn(0);
  EXPECT_EQ(remaining, 0u);
  // Once its last line is read, the file grows by more than a block: the
  // reading goes on to the new end, as a stream reading without a thread's
  // help would.
  const std::size_t grownFrom = lines.size();
  std::string more;
  for (int i = 0; more.size() < 3 * kText; ++i) {
    lines.push_back("grown " + std::to_string(i));
    more += lines.back() + "\n";
  }
  lines.push_back("the end");
  more += "the end";
  {
    std::ofstream grow(dir / "big.txt", std::ios::binary | std::ios::app);
    grow << more;
  }
  remaining = stream->RemainingBytes();
  EXPECT_EQ(remaining, more.size());
  readOn(grownFrom);
  EXPECT_EQ(remaining, 0u);
  EXPECT_TRUE(s.AtEndOfStream());
  for (std::size_t back = 0; back < lines.size(); ++back) s.UnReadLine();
  for (const std::string& line : lines) ASSERT_EQ(s.ReadLine(), line);
}

std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

// Lines pushed back are handed out again exactly as they were first read,
// even when the file was rewritten or cut short meanwhile: nothing is read
// from the file twice.
TEST(QMStreamLines, PushedBackLinesAreTheLinesReadWhateverHappensToTheFile) {
  qm::test::ScratchDir dir;
  constexpr int kLines = 70000;  // about 3 MB: more than one read block
  const char* ends[] = {"\r\n", "\n", "\r"};
  std::string plain;
  for (int i = 0; i < kLines; ++i) plain += "   line " + std::to_string(i) + std::string(30, '.') + ends[i % 3];
  for (const std::string& bytes : {"\xEF\xBB\xBF" + plain, Utf16(plain)}) {
    SCOPED_TRACE(bytes.substr(0, 2));
    const auto path = dir / "lines.txt";
    qm::test::WriteFile(path, bytes);
    const auto stream = TextStream::Open(path, qm::IOMode::ForReading, true, qm::TextFormat::SystemDefault);
    const auto line = [](int i) { return "   line " + std::to_string(i) + std::string(30, '.'); };
    EXPECT_EQ(stream->ReadLine(), line(0)) << "read by the client before Use";
    QMStream s;
    s.Use(stream);
    for (int i = 1; i < kLines / 2; ++i) ASSERT_EQ(s.ReadLine(), line(i));
    EXPECT_EQ(stream->ReadLine(), line(kLines / 2)) << "the client reads the stream itself in between";

    // Rewritten in place with other text of the same size, then cut short.
    std::string other = bytes;
    for (std::size_t i = 3; i < other.size(); ++i)
      if (other[i] == 'l') other[i] = 'L';
    qm::test::WriteFile(path, other);
    for (int back = 1; back < kLines / 2; ++back) s.UnReadLine();
    for (int i = 1; i < kLines / 2; ++i) ASSERT_EQ(s.ReadLine(), line(i));
    std::filesystem::resize_file(path, 10);
    for (int back = 1; back < kLines / 2 + 5; ++back) s.UnReadLine();
    for (int i = 0; i < 5; ++i) EXPECT_EQ(s.ReadLine(), "") << "pushed back before the first line";
    for (int i = 1; i < kLines / 2; ++i) ASSERT_EQ(s.ReadLine(), line(i));
    EXPECT_EQ(s.CurrentLine(), line(kLines / 2 - 1));
  }

  // A memory stream: the lines read stay as they were while more is written to it.
  const auto memory = TextStream::FromText("a\nb\n");
  QMStream m;
  m.Use(memory);
  EXPECT_EQ(m.ReadLine(), "a");
  memory->Write("c\n");
  EXPECT_EQ(m.ReadLine(), "b");
  EXPECT_EQ(m.ReadLine(), "c");
  for (int i = 0; i < 3; ++i) m.UnReadLine();
  EXPECT_EQ(m.ReadLine(), "a");
  EXPECT_EQ(m.Peek(), "b");

  // A memory stream's text moves into blocks of 2 MiB: a CR LF pair across
  // the boundary is still one line end.
  const std::string first((std::size_t{2} << 20) - 1, 'x');
  m.Use(TextStream::FromText(first + "\r\ny"));
  EXPECT_EQ(m.ReadLine(), first);
  EXPECT_EQ(m.ReadLine(), "y");
  EXPECT_TRUE(m.AtEndOfStream());
}

}  // namespace
