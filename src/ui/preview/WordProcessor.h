#pragma once
// The word processor behind the preview's Word export: LibreOffice Writer,
// run headless. It offers what the export asks of a word processor, in its
// terms: open an HTML page as a document, store the pictures the page links to
// in the document (or delete pictures without a link), set the page's
// orientation and margins, save it in Word's .doc format, and bring the saved
// document up in the desktop's word processor.
//
// How the page setup reaches Writer: on saving, the page is written once more
// as HTML, with every stored picture inlined as a data: URI and, at the end of
// its head, a style sheet rule such as
//   @page { size: landscape; margin-top: 72pt; margin-bottom: 72pt; ... }
// Writer's HTML import turns that rule into the document's page style
// (orientation, page size and margins in points) and the data: pictures into
// embedded graphics; `soffice --headless --convert-to "doc:MS Word 97"` then
// writes the .doc file.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qm::ui {

/// One picture of an opened document (an <IMG> element of the page).
class InlineShape {
 public:
  /// True when the picture is a link to a file (any source but a data: URI).
  bool HasLink() const;
  /// Stores the linked picture in the document. A link whose file does not
  /// exist stays a link: there is nothing to store.
  void SavePictureWithDocument();
  /// Removes the picture from the document.
  void Delete() { deleted_ = true; }

 private:
  friend class WordDocument;
  std::size_t start_ = 0, length_ = 0;              // the element in the page text
  std::size_t sourceStart_ = 0, sourceLength_ = 0;  // its src value, quotes included
  std::string source_;                              // the src value
  std::string folder_;                              // the page's folder
  std::string storedFile_;                          // the file stored with the document
  bool deleted_ = false;
};

/// The page setup of a document; only what was set is handed on.
struct WordPageSetup {
  std::optional<std::int32_t> Orientation;                                 // 0 portrait, 1 landscape
  std::optional<double> TopMargin, BottomMargin, RightMargin, LeftMargin;  // points

  /// The style sheet rule that carries this setup ("@page { ... }"), or the
  /// empty string when nothing was set.
  std::string PageRule() const;
};

/// An HTML page opened as a word-processor document.
class WordDocument {
 public:
  /// Reads the page; raises 53 when the file does not exist.
  explicit WordDocument(const std::string& FileName);

  std::int32_t InlineShapeCount() const { return static_cast<std::int32_t>(shapes_.size()); }
  /// The picture at a 1-based position; 9 "Subscript out of range" otherwise.
  InlineShape& InlineShapeItem(std::int32_t Index);

  WordPageSetup PageSetup;

  /// The page as Writer receives it: pictures stored or deleted, the page
  /// setup rule added to the head, the character set declared.
  std::string TextForWriter() const;

  /// Writes the document in Word's .doc format through soffice (at most two
  /// minutes), replacing an existing file.
  void SaveAs(const std::string& FileName, const std::string& soffice) const;

 private:
  std::string text_;
  std::vector<InlineShape> shapes_;
};

class WordProcessor {
 public:
  /// Finds LibreOffice (soffice or libreoffice on the PATH); raises 9999
  /// "LibreOffice Writer (soffice) is not installed" when there is none, and
  /// 9999 "LibreOffice is installed without Writer, ..." when the one found
  /// lacks its Writer component.
  static std::unique_ptr<WordProcessor> Start();

  /// True when `soffice` lies in a LibreOffice program folder (one holding
  /// fundamentalrc or bootstraprc, links resolved) that has no Writer
  /// (libswlo.so). A program elsewhere, such as a wrapper script, is taken
  /// as able to convert.
  static bool LacksWriter(const std::string& soffice);

  /// A visible word processor shows the saved document (see Activate).
  bool Visible = false;

  /// Opens an HTML page as a document.
  std::unique_ptr<WordDocument> Open(const std::string& FileName) const;
  /// Saves a document as .doc under FileName.
  void SaveAs(const WordDocument& document, const std::string& FileName);
  /// Brings the last saved document up in the desktop's word processor
  /// (xdg-open), when the word processor is visible and a display exists.
  void Activate() const;

  const std::string& Program() const { return soffice_; }

 private:
  explicit WordProcessor(std::string soffice) : soffice_(std::move(soffice)) {}
  std::string soffice_;
  std::string saved_;
};

}  // namespace qm::ui
