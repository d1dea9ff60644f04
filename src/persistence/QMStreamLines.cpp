// The line layer of QMStream: push-back, peek and indentation.

#include "persistence/QMStreamStack.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/persistence/QMStream.h"
#include "runtime/TextStreamImpl.h"

namespace qm {

namespace {
constexpr std::int32_t kIndentStep = 3;
}

// The line store is made with the first line read (a stream moved from has none).
QMStream::QMStream() = default;
QMStream::QMStream(QMStream&&) noexcept = default;
QMStream& QMStream::operator=(QMStream&&) noexcept = default;
QMStream::~QMStream() = default;

std::int32_t QMStream::IndentWidth() const { return impl_ ? impl_->indentWidth_ : 0; }

TextStream& QMStream::Bound() {
  if (!Own().boundStream_) Raise(ERR_ObjectNotSet);
  return *Own().boundStream_;
}

void QMStream::Indent() {
  QM_FRAME_TRY { Own().indentWidth_ += kIndentStep; }
  QM_FRAME_CATCH("QMStream", "Public Sub Indent");
}

void QMStream::UnIndent() {
  QM_FRAME_TRY {
    Own().indentWidth_ -= kIndentStep;
    if (Own().indentWidth_ < 0) Own().indentWidth_ = 0;
  }
  QM_FRAME_CATCH("QMStream", "Public Sub UnIndent");
}

void QMStream::Use(const TextStreamPtr& InStream) {
  QM_FRAME_TRY {
    Own().boundStream_ = InStream;
    Class_Initialize();
    if (Own().boundStream_) Own().boundStream_->KeepReadText();
  }
  QM_FRAME_CATCH("QMStream", "Public Sub Use", InStream);
}

bool QMStream::AtEndOfStream() {
  QM_FRAME_TRY { return StackAtEnd() ? Bound().AtEndOfStream() : false; }
  QM_FRAME_CATCH("QMStream", "Public Property Get AtEndOfStream");
}

void QMStream::Close_() {
  QM_FRAME_TRY {
    Bound().Close();
    Class_Initialize();
  }
  QM_FRAME_CATCH("QMStream", "Public Sub Close_");
}

const std::string& QMStream::ReadLine() {
  QM_FRAME_TRY {
    Own().lastRead_.assign(StackAtEnd() ? StackNew(Bound().ReadLineView()) : StackNext());
    return Own().lastRead_;
  }
  QM_FRAME_CATCH("QMStream", "Public Function ReadLine");
}

// A line read from the stream now is handed out as the store took it; only a
// pushed-back one is looked up.
std::string_view QMStream::ReadLineView() {
  QM_FRAME_TRY { return StackAtEnd() ? StackNew(Bound().ReadLineView()) : StackNext(); }
  QM_FRAME_CATCH("QMStream", "Public Function ReadLine");
}

std::string QMStream::CurrentLine() const {
  QM_FRAME_TRY { return std::string(StackCurrent()); }
  QM_FRAME_CATCH("QMStream", "Public Function CurrentLine");
}

void QMStream::UnReadLine() {
  QM_FRAME_TRY { StackRetreat(); }
  QM_FRAME_CATCH("QMStream", "Public Sub UnReadLine");
}

void QMStream::SkipLine() {
  QM_FRAME_TRY { ReadLineView(); }
  QM_FRAME_CATCH("QMStream", "Public Sub SkipLine");
}

void QMStream::WriteBlankLines(std::int32_t Lines) {
  QM_FRAME_TRY { Bound().WriteBlankLines(Lines); }
  QM_FRAME_CATCH("QMStream", "Public Sub WriteBlankLines", Lines);
}

void QMStream::WriteLine(const std::string& Text) {
  QM_FRAME_TRY {
    if (Own().indentWidth_ == 0) {
      Bound().WriteLine(Text);
    } else {
      std::string line(static_cast<std::size_t>(Own().indentWidth_), ' ');
      line += Text;
      Bound().WriteLine(line);
    }
  }
  QM_FRAME_CATCH("QMStream", "Public Sub WriteLine", Text);
}

// Peek's frame lives in PeekView. Peeking leaves what ReadLine handed out
// untouched, so a reference from ReadLine stays valid across a Peek.
std::string QMStream::Peek() { return std::string(PeekView()); }

std::string_view QMStream::PeekView() {
  QM_FRAME_TRY {
    if (AtEndOfStream()) return {};
    const std::string_view line = ReadLineView();
    StackRetreat();
    return line;
  }
  QM_FRAME_CATCH("QMStream", "Public Function Peek");
}

std::string_view QMStream::StackNew(std::string_view Line) {
  QM_FRAME_TRY {
    if (!Own().lineStack_) Own().lineStack_ = std::make_unique<detail::LineStore>();
    const std::string_view kept = Own().lineStack_->Append(Line, Bound().impl_->block_);
    StackAdvance();
    return kept;
  }
  QM_FRAME_CATCH("QMStream", "Private Sub StackNew", Line);
}

void QMStream::Class_Initialize() {
  QM_FRAME_TRY {
    if (Own().lineStack_) Own().lineStack_->clear();
    Own().stackPos_ = 0;
  }
  QM_FRAME_CATCH("QMStream", "Private Sub Class_Initialize");
}

}  // namespace qm
