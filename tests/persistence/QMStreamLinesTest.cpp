#include <gtest/gtest.h>

#include <filesystem>

#include "Clients.h"
#include "quillmark/frame/Error.h"
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
  s.ReadLine();
  s.ReadLine();
  s.UnReadLine();
  s.UnReadLine();
  EXPECT_EQ(s.CurrentLine(), "");
  EXPECT_EQ(s.ReadLine(), "A");
  EXPECT_EQ(s.ReadLine(), "B");
  EXPECT_EQ(s.ReadLine(), "C");
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
  s.UnReadLine();
  s.UnReadLine();
  s.UnReadLine();
  EXPECT_EQ(s.ReadLine(), "");
  EXPECT_EQ(s.ReadLine(), "");
  EXPECT_EQ(s.ReadLine(), "  A");
  s.Use(TextStream::FromText("\n\nx\n"));
  EXPECT_EQ(s.ReadLine(), "");
  EXPECT_EQ(s.ReadLine(), "");
  EXPECT_EQ(s.Peek(), "x");
}

TEST(QMStreamLines, IndentationOnWriting) {
  std::shared_ptr<TextStream> out;
  QMStream s = qm::test::Writer(out);
  s.Indent();
  s.Indent();
  s.WriteLine("x");
  s.WriteLine();
  s.WriteLine("a\r\nb");
  s.WriteBlankLines(2);
  s.UnIndent();
  s.UnIndent();
  s.UnIndent();
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
  EXPECT_EQ(e.Source(), "QuillmarkLibrary.QMStream|[QMStream]Public Function ReadLine()|[QMStream]Public Sub SkipLine()");
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

// Lines from memory are copied into the store; lines from a file are kept by
// their place and read again when pushed back far: both across index blocks.
TEST(QMStreamLines, ManyLinesAcrossStoreBlocks) {
  constexpr int kLines = 4096 + 262144 + 3;
  std::string text;
  for (int i = 0; i < kLines; ++i) text += std::to_string(i) + (i % 50000 == 0 ? std::string(70000, 'x') : "") + "\n";
  qm::test::ScratchDir dir;
  qm::test::WriteFile(dir / "lines.txt", text);
  for (const auto& stream : {TextStream::FromText(text), TextStream::Open(dir / "lines.txt", qm::IOMode::ForReading)}) {
    qm::QMStream s;
    s.Use(stream);
    for (int i = 0; i < kLines; ++i) s.ReadLine();
    for (int back = 0; back < kLines - 4090; ++back) s.UnReadLine();
    for (int i = 4090; i < 4100; ++i) EXPECT_EQ(s.ReadLine(), std::to_string(i));
    EXPECT_EQ(s.CurrentLine(), "4099");
    for (int i = 4100; i < kLines; ++i) {
      const std::string& line = s.ReadLine();
      if (i >= kLines - 3) {
        EXPECT_EQ(line, std::to_string(i));
      }
      if (i == 50000) {
        EXPECT_EQ(line, "50000" + std::string(70000, 'x'));
      }
    }
    EXPECT_TRUE(s.AtEndOfStream());
  }
}

TEST(QMStreamLines, FileLinesPushedBackFarAreReadAgain) {
  qm::test::ScratchDir dir;
  std::string text = "\xEF\xBB\xBF";  // a UTF-8 byte-order mark, not part of the first line
  const char* ends[] = {"\r\n", "\n", "\r"};
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + ends[i % 3];
  qm::test::WriteFile(dir / "mixed.txt", text);
  const auto stream = TextStream::Open(dir / "mixed.txt", qm::IOMode::ForReading);
  QMStream s;
  s.Use(stream);
  for (int i = 0; i < 100; ++i) s.ReadLine();
  // The client reads the stream itself between the record reader's calls.
  EXPECT_EQ(stream->ReadLine(), "line 100");
  for (int i = 101; i < 150; ++i) EXPECT_EQ(s.ReadLine(), "line " + std::to_string(i));
  for (int back = 0; back < 149; ++back) s.UnReadLine();
  EXPECT_EQ(s.ReadLine(), "line 0");
  EXPECT_EQ(s.Peek(), "line 1");
  for (int i = 1; i < 100; ++i) EXPECT_EQ(s.ReadLine(), "line " + std::to_string(i));
  EXPECT_EQ(s.ReadLine(), "line 101");

  // A file cut short under the reader: a clear error for a line no longer there.
  std::filesystem::resize_file(dir / "mixed.txt", 10);
  for (int back = 0; back < 100; ++back) s.UnReadLine();
  const qm::Error e = RaisedBy([&] { s.ReadLine(); });
  EXPECT_EQ(e.Number(), 57);
  EXPECT_EQ(e.Description(), "The file changed while its lines were being read");
  EXPECT_TRUE(e.Source().ends_with("[QMStream]Public Function ReadLine()")) << e.Source();
}

}  // namespace
