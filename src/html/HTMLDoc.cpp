#include "quillmark/html/HTMLDoc.h"

#include "frame/PrivateState.h"
#include "html/DocumentFiles.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/platform/Desktop.h"
#include "runtime/WindowsPath.h"

namespace qm {

// The document text is one string: appending to it is already cheap, so the
// text needs no chunks of its own.

struct HTMLDoc::Impl {
  std::int32_t state = 0;  // 0 no document, 1 head, 2 body
  bool inTag = false;
  bool breakAfterTag = false;
  std::vector<std::string> openTags{};  // innermost last
  std::vector<std::string> images{};
  std::string text{};
};

HTMLDoc::Impl& HTMLDoc::State() { return frame::WritableState(impl_); }

const HTMLDoc::Impl& HTMLDoc::State() const { return frame::ReadableState(impl_); }

HTMLDoc::HTMLDoc(const HTMLDoc& other) : Object(other), impl_(frame::CopiedState(other.impl_)) {}
HTMLDoc& HTMLDoc::operator=(const HTMLDoc& other) {
  if (this != &other) impl_ = frame::CopiedState(other.impl_);
  return *this;
}
HTMLDoc::HTMLDoc(HTMLDoc&&) noexcept = default;
HTMLDoc& HTMLDoc::operator=(HTMLDoc&&) noexcept = default;
HTMLDoc::~HTMLDoc() = default;

HTMLDoc::HTMLDoc() : impl_(std::make_unique<Impl>()) {
  QM_FRAME_TRY { ClearText(); }
  QM_FRAME_CATCH("HTMLDoc", "Private Sub Class_Initialize");
}

void HTMLDoc::BeginDoc(const std::string& Title) {
  QM_FRAME_TRY {
    State().state = 1;
    ClearText();
    Tag("HTML");
    Tag("HEAD");
    Tag("TITLE", false, true);
    BodyText(Title);
    EndTag();
  }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub BeginDoc", Title);
}

void HTMLDoc::BeginBody() {
  QM_FRAME_TRY {
    if (State().state == 0) BeginDoc("untitled");
    if (State().state == 1) {
      EndTag();
      Tag("BODY");
      State().state = 2;
    }
  }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub BeginBody");
}

void HTMLDoc::Tag(const std::string& Tag, bool NoClose, bool SameLine) {
  QM_FRAME_TRY {
    if (State().inTag) TagRightBracket();
    State().inTag = true;
    State().breakAfterTag = !SameLine;
    BufInsertText("<" + Tag);
    if (!NoClose) State().openTags.push_back(Tag);
  }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub Tag", Tag, NoClose, SameLine);
}

void HTMLDoc::EndTag() {
  QM_FRAME_TRY {
    if (State().inTag) TagRightBracket();
    if (State().openTags.empty()) Raise(ERR_SubscriptOutOfRange);
    BufInsertTextCR("</" + State().openTags.back() + ">");
    State().openTags.pop_back();
  }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub EndTag");
}

void HTMLDoc::Table() {
  QM_FRAME_TRY { Tag("TABLE"); }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub Table");
}

void HTMLDoc::TableRow() {
  QM_FRAME_TRY { Tag("TR"); }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub TableRow");
}

void HTMLDoc::TableElemEx() {
  QM_FRAME_TRY { Tag("TD"); }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub TableElemEx");
}

void HTMLDoc::TableElem(const std::string& Text, const std::string& TagParameters) {
  QM_FRAME_TRY {
    Tag("TD", false, true);
    TagVAlignTop();
    AddTagText(TagParameters);  // even when empty: one blank always follows "valign=top"
    BodyText(Text);
    EndTag();
  }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub TableElem", Text, TagParameters);
}

void HTMLDoc::TagVAlignTop() {
  QM_FRAME_TRY { AddTagText("valign=top"); }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub TagVAlignTop");
}

void HTMLDoc::TagBorder(std::int32_t Thickness) {
  QM_FRAME_TRY { AddTagText("border=" + std::to_string(Thickness)); }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub TagBorder", Thickness);
}

void HTMLDoc::TagCellPadding(std::int32_t Padding) {
  QM_FRAME_TRY { AddTagText("cellPadding=" + std::to_string(Padding)); }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub TagCellPadding", Padding);
}

void HTMLDoc::TagAlign(AlignmentConstants Alignment) {
  QM_FRAME_TRY {
    switch (Alignment) {
      case vbLeftJustify: AddTagText("align=left"); break;
      case vbRightJustify: AddTagText("align=right"); break;
      case vbCenter: AddTagText("align=center"); break;
      default: break;
    }
  }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub TagAlign", Alignment);
}

void HTMLDoc::TagStyle(const std::string& StyleText) {
  QM_FRAME_TRY { AddTagText("style='" + StyleText + "'"); }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub TagStyle", StyleText);
}

void HTMLDoc::TagClass(const std::string& Class) {
  QM_FRAME_TRY { AddTagText("class=\"" + Class + "\""); }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub TagClass", Class);
}

void HTMLDoc::TagWidth(std::int32_t Width) {
  QM_FRAME_TRY { AddTagText("width=" + std::to_string(Width)); }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub TagWidth", Width);
}

void HTMLDoc::TagHeight(std::int32_t Height) {
  QM_FRAME_TRY { AddTagText("height=" + std::to_string(Height)); }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub TagHeight", Height);
}

void HTMLDoc::Bold() {
  QM_FRAME_TRY { Tag("B", false, true); }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub Bold");
}

void HTMLDoc::Italic() {
  QM_FRAME_TRY { Tag("I", false, true); }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub Italic");
}

void HTMLDoc::Heading(std::int32_t Level) {
  QM_FRAME_TRY { Tag("H" + std::to_string(Level), false, true); }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub Heading", Level);
}

void HTMLDoc::PageBreak() {
  QM_FRAME_TRY {
    Tag("P", true, false);
    TagStyle("page-break-before: always");
  }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub PageBreak");
}

void HTMLDoc::BodyText(const std::string& Text) {
  QM_FRAME_TRY {
    if (State().inTag) TagRightBracket();
    BufInsertText(Text);
  }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub BodyText", Text);
}

void HTMLDoc::BodyTextCR(const std::string& Text) {
  QM_FRAME_TRY {
    if (State().inTag) TagRightBracket();
    BufInsertText(Text + "<BR>");
  }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub BodyTextCR", Text);
}

void HTMLDoc::AddTagText(const std::string& TagText) {
  QM_FRAME_TRY {
    if (!State().inTag) Raise(ERR_General, "Must be in tag");
    BufInsertText(" " + TagText);
  }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub AddTagText", TagText);
}

void HTMLDoc::Image(const std::string& Filename) {
  QM_FRAME_TRY {
    Tag("IMG", true, false);
    AddTagText("alt=\"\"");
    AddTagText("src=\"" + detail::FileNamePart(Filename) + "\"");
    State().images.push_back(Filename);
  }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub Image", Filename);
}

std::string HTMLDoc::GetDocument() {
  QM_FRAME_TRY {
    if (State().inTag) TagRightBracket();
    while (!State().openTags.empty()) EndTag();
    return GetUnfinishedText();
  }
  QM_FRAME_CATCH("HTMLDoc", "Public Function GetDocument");
}

std::string HTMLDoc::GetUnfinishedText() const {
  QM_FRAME_TRY { return State().text; }
  QM_FRAME_CATCH("HTMLDoc", "Public Function GetUnfinishedText");
}

void HTMLDoc::SaveAs(const std::string& Filename) {
  QM_FRAME_TRY {
    html::CopyPictures(State().images, Filename);
    SaveRaw(Filename);
  }
  QM_FRAME_CATCH("HTMLDoc", "Public Sub SaveAs", Filename);
}

// Departs from the call-frame convention: errors of saving and showing reach
// the caller as they are, and the scratch folder then stays.
void HTMLDoc::Show(const std::shared_ptr<PrintSettings>& PrintSettings, bool bPrintThenClose,
                   std::int16_t displayButtons) {
  const std::string folder = html::MakePreviewFolder();
  const std::string file = html::JoinPath(folder, "doc.html");
  SaveAs(file);
  platform::PreviewRequest request;
  request.HtmlFile = file;
  request.Caption = "Preview";
  request.DisplayButtons = displayButtons;
  request.PrintOnly = bPrintThenClose;
  request.PrintSettings = PrintSettings;
  platform::Current().ShowPreview(request);
  html::RemoveFolder(folder);
}

bool HTMLDoc::InHead() const {
  QM_FRAME_TRY { return State().state == 1; }
  QM_FRAME_CATCH("HTMLDoc", "Public Function InHead");
}

bool HTMLDoc::InBody() const {
  QM_FRAME_TRY { return State().state == 2; }
  QM_FRAME_CATCH("HTMLDoc", "Public Function InBody");
}

void HTMLDoc::TagRightBracket() {
  QM_FRAME_TRY {
    State().inTag = false;
    if (State().breakAfterTag) BufInsertTextCR(">");
    else BufInsertText("> ");
  }
  QM_FRAME_CATCH("HTMLDoc", "Private Sub TagRightBracket");
}

void HTMLDoc::BufInsertText(const std::string& Text) {
  QM_FRAME_TRY { State().text += Text; }
  QM_FRAME_CATCH("HTMLDoc", "Private Sub BufInsertText", Text);
}

void HTMLDoc::BufInsertTextCR(const std::string& Text) {
  QM_FRAME_TRY {
    State().text += Text;
    State().text += "\r\n";
  }
  QM_FRAME_CATCH("HTMLDoc", "Private Sub BufInsertTextCR", Text);
}

void HTMLDoc::ClearText() {
  QM_FRAME_TRY {
    State().openTags.clear();
    State().images.clear();
    State().text.clear();
  }
  QM_FRAME_CATCH("HTMLDoc", "Private Sub ClearText");
}

void HTMLDoc::SaveRaw(const std::string& Filename) {
  QM_FRAME_TRY { html::WriteDocument(Filename, GetDocument()); }
  QM_FRAME_CATCH("HTMLDoc", "Private Sub SaveRaw", Filename);
}

}  // namespace qm
