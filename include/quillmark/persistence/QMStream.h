#pragma once
// QMStream: saves and loads objects as indented text over a TextStream.
//
// The line layer adds to the plain stream: lines once read can be pushed back
// and read again any number of levels deep, a peek at the next line, and an
// indentation (3 blanks a level) that every written line receives.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quillmark/runtime/Dispatch.h"
#include "quillmark/persistence/detail/LineStore.h"
#include "quillmark/runtime/TextStream.h"

namespace qm {

class QMStream : public Dispatch {
 public:
  QMStream() = default;

  // ---- line layer ----

  /// Indentation += 3.
  void Indent();
  /// Indentation -= 3, never below 0.
  void UnIndent();
  /// Binds the stream and forgets every line read so far; the indentation stays.
  void Use(const TextStreamPtr& InStream);
  /// True when no pushed-back line is pending and the stream is at its end.
  bool AtEndOfStream();
  /// Closes the bound stream and forgets the lines read; the reference stays.
  void Close_();
  /// The next line: a pushed-back one first, else one from the stream. The
  /// reference stays valid until the next ReadLine or SkipLine.
  const std::string& ReadLine();
  /// The line most recently delivered, or "" when there is none.
  std::string CurrentLine() const;
  /// Pushes the line most recently delivered back (no bound).
  void UnReadLine();
  void SkipLine();
  /// Empty lines, without indentation.
  void WriteBlankLines(std::int32_t Lines);
  /// Indentation blanks followed by Text, as one line.
  void WriteLine(const std::string& Text = {});
  /// The next line without consuming it; "" at the end of the stream.
  std::string Peek();

  std::int32_t IndentWidth() const { return indentWidth_; }
  std::string ClassName() const override { return "QMStream"; }

 private:
  std::string_view NextLine();
  void StackNew(std::string_view Line);
  bool StackAtEnd() const;
  std::string_view StackCurrent() const;
  void StackAdvance();
  void StackRetreat();
  void Class_Initialize();
  TextStream& Bound();

  TextStreamPtr boundStream_;
  std::string lastRead_;                 // the text ReadLine hands out
  detail::LineStore lineStack_;  // every line read since Use, in file order
  std::int64_t stackPos_ = 0;           // 1-based position of the line last delivered
  std::int32_t indentWidth_ = 0;
};

using QMStreamPtr = std::shared_ptr<QMStream>;

}  // namespace qm
