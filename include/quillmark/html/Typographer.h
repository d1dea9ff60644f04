#pragma once
// Typographer: writes a printable report as HTML by appending fixed
// fragments, each followed by CR LF.
//
// Unlike HTMLDoc it keeps no stack of open elements: each call appends its
// fragment at once and the caller keeps the nesting right. Only rows and
// headings are tracked. Text is appended verbatim, without escaping.
//
//   qm::Typographer report;
//   report.Initialise("Sales");
//   report.BodyBegin();
//   report.TableBegin(1, 2, 100);
//   report.TableElement("Region");
//   report.TableEnd();
//   report.BodyEnd();
//   report.Terminate();
//   report.SaveAs("/tmp/sales.html");
//
// The head's style makes every H6 start a new printed page, which is what
// `PageBreak` writes.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/runtime/AlignmentConstants.h"
#include "quillmark/values/Object.h"
#include "quillmark/values/Variant.h"

namespace qm {

/// Paragraph styles of StyleBegin: headings H1 to H4, or a normal paragraph.
enum tyStyles : std::int32_t {
  tyHeading1 = 1,
  tyHeading2 = 2,
  tyHeading3 = 3,
  tyHeading4 = 4,
  tyNormal = 5,
};

/// A printable report written as HTML by appending fixed fragments, each
/// followed by CR LF; see the file's notes. Calls before Initialise append to
/// an empty text, except those that need the picture list (91).
class QUILLMARK_EXPORT Typographer : public virtual Object {
 public:
  /// Deletes the files earlier reports left in TEMP ("~typo*.bmp" and the
  /// print file "~tmp2932.html"), ignoring failures.
  Typographer();
  ///@{
  /// Copies the text and the report's state; a report moved from starts anew.
  Typographer(const Typographer& other);
  Typographer& operator=(const Typographer& other);
  Typographer(Typographer&& other) noexcept;
  Typographer& operator=(Typographer&& other) noexcept;
  ///@}
  ~Typographer() override;

  /// The report text.
  std::string sHTML;

  /// "<P></P>"
  void LineBreak();
  /// Replaces the text with the head (title, the H6 page-break style and
  /// HeadHTML, ending in "</HEAD>" without a line break) and starts a new,
  /// empty picture list.
  void Initialise(const std::string& sTitle = {}, const std::string& HeadHTML = {});
  /// Appends "<BODY>".
  void BodyBegin();
  /// vText as text; 94 (Invalid use of Null) for Null.
  void Output(const Variant& vText);
  /// vText as text and "<BR>" (Null counts as empty text).
  void OutputLine(const Variant& vText);
  /// Appends "</BODY>".
  void BodyEnd();
  /// Appends "</HTML>", ending the report.
  void Terminate();
  /// Appends "<B>".
  void FontBold();
  /// Appends "</B>".
  void FontBoldEnd();
  /// Appends "<SMALL>".
  void Small();
  /// Appends "</SMALL>".
  void SmallEnd();
  /// "<H6></H6>": a new printed page.
  void PageBreak();

  /// Saves into a scratch folder under TEMP and shows the report in the
  /// document preview; returns when the preview is closed. Errors of saving
  /// and showing reach the caller without this operation's element.
  void Show();
  /// Writes the print file TEMP/~tmp2932.html (pictures are not copied) and
  /// starts printing it without waiting. Raises nothing: a failure shows a
  /// message box "Quillmark Library (PrintOut) : " + its description.
  void PrintOut();

  /// "<p>", or a right or centred paragraph; nothing for other values.
  void Para(AlignmentConstants Alignment);
  /// Opens heading H1 to H4 (ending an open heading first).
  void StyleBegin(tyStyles iStyle);
  /// Ends the heading StyleBegin opened.
  void StyleEnd();

  /// Copies the pictures next to the file, then writes the report (nothing
  /// is written for an empty name). 91 before `Initialise`.
  void SaveAs(const std::string& sFilename);

  /// `<TABLE ` + the given numeric values + ` ` + Tag + `>`.
  void TableBegin(const std::optional<Variant>& BorderWidth = std::nullopt,
                  const std::optional<Variant>& Padding = std::nullopt,
                  const std::optional<Variant>& Percent = std::nullopt, const std::string& Tag = {});
  /// Appends "</TABLE>", ending an open row first.
  void TableEnd();
  /// Appends "<TR>", ending an open row first.
  void TableRowBegin();
  /// A cell: "<TD valign=top ", the alignment (left when omitted), the width
  /// in percent when given, ">", sText, "</TD>", each its own fragment.
  void TableElement(const std::string& sText, const std::optional<AlignmentConstants>& Align = std::nullopt,
                    const std::optional<Variant>& vWidth = std::nullopt);
  /// A cell: "<TD valign=top " + Tag + ">", sText and "</TD>", opening a row when
  /// none is open.
  void TableElementEx(const std::string& sText, const std::string& Tag = {});
  /// `<IMG alt="" src="name" border=N>`, with the size when both are non-zero.
  /// 91 before `Initialise`.
  void ImageFile(const std::string& sFilename, std::int16_t iBorderWidth,
                 std::optional<std::int32_t> Width = std::nullopt, std::optional<std::int32_t> Height = std::nullopt);
  /// Appends "</TR>".
  void TableRowEnd();

  std::string ClassName() const override { return "Typographer"; }

 private:
  void AddText(const std::string& Text);
  void ToFile(const std::string& sFilename);
  std::vector<std::string>& Images();

  // The object's state, defined in the library's sources; an object moved
  // from has none until it is used again.
  struct Impl;
  Impl& State();
  const Impl& State() const;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
