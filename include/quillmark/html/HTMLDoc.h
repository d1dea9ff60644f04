#pragma once
// HTMLDoc: writes an HTML page element by element.
//
// An opening tag stays open for attributes ("<TD valign=top") until content
// or the next tag follows; elements that need an end tag are remembered and
// all closed when the document is taken. Text is inserted verbatim: nothing
// is escaped. The image files the page refers to are remembered so that
// `SaveAs` can copy them next to the page.
//
//   qm::HTMLDoc doc;
//   doc.BeginDoc("Report");
//   doc.BeginBody();
//   doc.Heading(1);
//   doc.BodyText("Results");
//   doc.EndTag();
//   doc.SaveAs("/tmp/report/index.html");
//
// Closing the pending tag writes ">" and CR LF when the tag was opened with
// `SameLine` False, and "> " when it was opened with `SameLine` True.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/html/PrintSettings.h"
#include "quillmark/runtime/AlignmentConstants.h"
#include "quillmark/values/Object.h"

namespace qm {

/// An HTML page written element by element, with the open elements remembered
/// and closed when the document is taken; see the file's notes.
class QUILLMARK_EXPORT HTMLDoc : public virtual Object {
 public:
  /// An empty document: no head, no body, nothing open.
  HTMLDoc();
  ///@{
  /// Copies the document so far; a document moved from is empty.
  HTMLDoc(const HTMLDoc& other);
  HTMLDoc& operator=(const HTMLDoc& other);
  HTMLDoc(HTMLDoc&& other) noexcept;
  HTMLDoc& operator=(HTMLDoc&& other) noexcept;
  ///@}
  ~HTMLDoc() override;

  /// Starts a new document: "<HTML>", "<HEAD>" and the title element.
  void BeginDoc(const std::string& Title);
  /// Ends the head and opens "<BODY>" (starting a document titled "untitled"
  /// first when none was begun); nothing once in the body.
  void BeginBody();
  /// Writes "<" + Tag, open for attributes; unless NoClose, the element is
  /// remembered for `EndTag`.
  void Tag(const std::string& Tag, bool NoClose = false, bool SameLine = false);
  /// Writes the end tag of the innermost open element; 9 when none is open.
  void EndTag();

  /// Opens "<TABLE", remembered for EndTag, open for attributes.
  void Table();
  /// Opens "<TR", remembered for EndTag, open for attributes.
  void TableRow();
  /// Opens a cell for attributes and content; the caller closes it with `EndTag`.
  void TableElemEx();
  /// A complete cell: `<TD valign=top ` + TagParameters + `> ` + Text + `</TD>`.
  void TableElem(const std::string& Text, const std::string& TagParameters = {});

  ///@{
  /// Attributes of the pending tag ("valign=top", "border=N", "cellpadding=N",
  /// "style='...'", "class=\"...\"", "width=N", "height=N"; sizes in pixels);
  /// 9999 "Must be in tag" when no tag is open.
  void TagVAlignTop();
  void TagBorder(std::int32_t Thickness);
  void TagCellPadding(std::int32_t Padding);
  /// "align=left", "align=right" or "align=center"; nothing for other values.
  void TagAlign(AlignmentConstants Alignment);
  void TagStyle(const std::string& StyleText);
  void TagClass(const std::string& Class);
  void TagWidth(std::int32_t Width);
  void TagHeight(std::int32_t Height);
  ///@}

  ///@{
  /// Open "B", "I" and "H<Level>" on the same line; the caller ends them.
  void Bold();
  void Italic();
  void Heading(std::int32_t Level);
  ///@}
  /// `<P style='page-break-before: always'>`, which needs no end tag.
  void PageBreak();

  /// Closes a pending tag, then appends Text.
  void BodyText(const std::string& Text);
  /// Closes a pending tag, then appends Text and "<BR>".
  void BodyTextCR(const std::string& Text);
  /// Appends a blank and TagText inside the pending tag.
  void AddTagText(const std::string& TagText);

  /// `<IMG alt="" src="name">` referring to the file by its bare name; the
  /// file is copied by `SaveAs`.
  void Image(const std::string& Filename);

  /// Closes every open element and returns the whole text. Later calls
  /// append after it.
  std::string GetDocument();
  /// The text so far, closing nothing (a pending ">" is not written).
  std::string GetUnfinishedText() const;

  /// Copies the images into the folder of Filename, then writes the document there.
  void SaveAs(const std::string& Filename);

  /// Saves into a scratch folder under TEMP and shows the page in the
  /// document preview (or prints it and closes, with bPrintThenClose);
  /// returns when the preview is closed. Errors of saving and showing reach
  /// the caller without this operation's element, and the folder is then
  /// left in place.
  void Show(const std::shared_ptr<PrintSettings>& PrintSettings, bool bPrintThenClose = false,
            std::int16_t displayButtons = 0);

  /// True after BeginDoc until BeginBody.
  bool InHead() const;
  /// True after BeginBody.
  bool InBody() const;

  std::string ClassName() const override { return "HTMLDoc"; }

 private:
  void TagRightBracket();
  void BufInsertText(const std::string& Text);
  void BufInsertTextCR(const std::string& Text);
  void ClearText();
  void SaveRaw(const std::string& Filename);

  // The object's state, defined in the library's sources; an object moved
  // from has none until it is used again.
  struct Impl;
  Impl& State();
  const Impl& State() const;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
