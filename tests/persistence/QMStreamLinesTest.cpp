#include <gtest/gtest.h>

#include "quillmark/frame/Error.h"
#include "quillmark/persistence/QMStream.h"
#include "support/TestEnvironment.h"

namespace {

using qm::QMStream;
using qm::TextStream;

TEST(QMStreamLines, PushBackAndPeek) {
  QMStream s;
  s.Use(TextStream::FromText("A\r\nB\r\nC\r\n"));
  EXPECT_EQ(s.CurrentLine(), "");
  EXPECT_EQ(s.ReadLine(), "A");
  s.UnReadLine();
  EXPECT_EQ(s.CurrentLine(), "");
  EXPECT_EQ(s.ReadLine(), "A");
  EXPECT_EQ(s.ReadLine(), "B");
  EXPECT_EQ(s.ReadLine(), "C");
  EXPECT_TRUE(s.AtEndOfStream());
  s.UnReadLine();
  EXPECT_FALSE(s.AtEndOfStream());
  EXPECT_EQ(s.Peek(), "C");
  EXPECT_EQ(s.Peek(), "C");
  EXPECT_EQ(s.CurrentLine(), "B");

  QMStream t;
  t.Use(TextStream::FromText("A\nB\nC"));
  t.ReadLine();
  t.ReadLine();
  t.UnReadLine();
  t.UnReadLine();
  EXPECT_EQ(t.ReadLine(), "A");
  EXPECT_EQ(t.ReadLine(), "B");
  EXPECT_EQ(t.ReadLine(), "C");
  EXPECT_EQ(t.Peek(), "");
}

TEST(QMStreamLines, PushingBackPastTheFirstLineDeliversEmptyLines) {
  QMStream s;
  s.Use(TextStream::FromText("  A\n"));
  EXPECT_EQ(s.ReadLine(), "  A");  // leading blanks are kept
  s.UnReadLine();
  s.UnReadLine();
  s.UnReadLine();
  EXPECT_EQ(s.ReadLine(), "");
  EXPECT_EQ(s.ReadLine(), "");
  EXPECT_EQ(s.ReadLine(), "  A");
}

TEST(QMStreamLines, IndentationOnWriting) {
  auto out = TextStream::InMemory();
  QMStream s;
  s.Use(out);
  s.Indent();
  s.Indent();
  EXPECT_EQ(s.IndentWidth(), 6);
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

TEST(QMStreamLines, ErrorsCarryTheStreamElements) {
  QMStream s;
  s.Use(TextStream::FromText("only\n"));
  s.ReadLine();
  try {
    s.SkipLine();
    FAIL();
  } catch (const qm::Error& e) {
    EXPECT_EQ(e.Number(), 62);
    EXPECT_EQ(e.Description(), "Input past end of file");
    EXPECT_EQ(e.Source(), "QuillmarkLibrary.QMStream|[QMStream]Public Function ReadLine()|[QMStream]Public Sub SkipLine()");
  }
  QMStream unbound;
  EXPECT_NO_THROW(unbound.Indent());
  EXPECT_NO_THROW(unbound.UnReadLine());
  EXPECT_EQ(unbound.CurrentLine(), "");
  try {
    unbound.WriteLine("x");
    FAIL();
  } catch (const qm::Error& e) {
    EXPECT_EQ(e.Number(), 91);
    EXPECT_EQ(e.Source(), "QuillmarkLibrary.QMStream|[QMStream]Public Sub WriteLine(\"x\")");
  }
}

TEST(QMStreamLines, CloseClosesTheBoundStreamAndForgetsLines) {
  qm::test::ScratchDir dir;
  qm::test::WriteFile(dir / "f.txt", "1\n2\n");
  QMStream s;
  s.Use(TextStream::Open(dir / "f.txt", qm::IOMode::ForReading));
  EXPECT_EQ(s.ReadLine(), "1");
  s.Close_();
  EXPECT_EQ(s.CurrentLine(), "");
  EXPECT_THROW(s.ReadLine(), qm::Error);
}

}  // namespace

namespace {

// Lines on both sides of the store's block boundaries come back intact.
TEST(QMStreamLines, ManyLinesAcrossStoreBlocks) {
  constexpr int kLines = 140000;
  std::string text;
  for (int i = 0; i < kLines; ++i) text += std::to_string(i) + (i % 5000 == 0 ? std::string(70000, 'x') : "") + "\n";
  qm::QMStream s;
  s.Use(qm::TextStream::FromText(text));
  for (int i = 0; i < kLines; ++i) s.ReadLine();
  for (int back = 0; back < kLines - 4090; ++back) s.UnReadLine();
  for (int i = 4090; i < 4100; ++i) EXPECT_EQ(s.ReadLine(), std::to_string(i));
  EXPECT_EQ(s.CurrentLine(), "4099");
  for (int i = 4100; i < 4096 + 131072 + 3; ++i) {
    const std::string line = s.ReadLine();
    if (i >= 4096 + 131070) {
      EXPECT_EQ(line, std::to_string(i));
    }
    if (i == 5000) {
      EXPECT_EQ(line, "5000" + std::string(70000, 'x'));
    }
  }
}

}  // namespace

namespace {

TEST(QMStreamLines, EmptyFirstLine) {
  qm::QMStream s;
  s.Use(qm::TextStream::FromText("\n\nx\n"));
  EXPECT_EQ(s.ReadLine(), "");
  EXPECT_EQ(s.ReadLine(), "");
  EXPECT_EQ(s.Peek(), "x");
}

}  // namespace
