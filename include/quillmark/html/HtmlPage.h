#pragma once

/// @file
/// Writing an HTML page over standard types, with its text escaped.
///
///     qm::HtmlPage page("Sales & costs");
///     page.Heading(1, "Q3 <draft>").Paragraph("Prices in \"EUR\"");
///     page.Table({{"item", "price"}, {"tea", "2.50"}});
///     page.Image("charts/q3.png", "sales by month");
///     page.Save("report/index.html");  // copies q3.png beside the page
///
/// Every text given is decoded as UTF-8, then escaped as EscapeHtml does, then
/// written in the page's character set; Html() adds markup unescaped. Bytes
/// that are not valid UTF-8 (overlong forms and surrogates among them) never
/// become markup: each invalid run is written as U+FFFD in a UTF-8 page and as
/// '?' in a Latin-1 page. Every line of the page ends in LF, line ends in the
/// text given (CR LF, CR) too. The page declares its character set in a
/// `meta charset` element at the start of its head, so a browser reads it right
/// wherever it is opened from.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quillmark/Export.h"

namespace qm {

/// `text` with & < > " ' written as &amp; &lt; &gt; &quot; &#39;, safe
/// inside an element and inside a quoted attribute of a UTF-8 page. The bytes
/// are escaped as they are, without decoding them (HtmlPage decodes first).
QUILLMARK_EXPORT std::string EscapeHtml(std::string_view text);

/// The character sets a page may be written in.
enum class HtmlCharset {
  Utf8,   ///< "utf-8": the text's characters as they are (the library's strings are UTF-8)
  Latin1  ///< "iso-8859-1": characters above U+00FF as numeric references (&#8364;)
};

/// An HTML page built element by element, then taken as text or saved.
class QUILLMARK_EXPORT HtmlPage {
 public:
  /// An empty page titled `title`, to be written in `charset`.
  explicit HtmlPage(std::string_view title, HtmlCharset charset = HtmlCharset::Utf8);
  ///@{
  /// Copies the page; a page moved from is empty, without title.
  HtmlPage(const HtmlPage& other);
  HtmlPage& operator=(const HtmlPage& other);
  HtmlPage(HtmlPage&& other) noexcept;
  HtmlPage& operator=(HtmlPage&& other) noexcept;
  ///@}
  ~HtmlPage();

  /// A heading of level 1 to 6; other levels raise 5.
  HtmlPage& Heading(int level, std::string_view text);
  /// A paragraph of text.
  HtmlPage& Paragraph(std::string_view text);
  /// A table of text cells; with `headerRow` the first row's cells are
  /// header cells. Rows may differ in length.
  HtmlPage& Table(const std::vector<std::vector<std::string>>& rows, bool headerRow = true);
  /// A picture referred to by its file name; Save copies the file beside the
  /// page.
  HtmlPage& Image(const std::filesystem::path& file, std::string_view alt = {});
  /// Markup added as it is, unescaped.
  HtmlPage& Html(std::string_view markup);

  /// The whole page, its last line ended by LF as every other.
  std::string Text() const;
  /// Copies the pictures into the folder of `file`, then writes Text() there
  /// in one step (a failed write leaves an earlier page as it was).
  /// Raises 53 for a missing picture, 76 for a missing folder.
  void Save(const std::filesystem::path& file) const;

 private:
  // The object's state, defined in the library's sources; an object moved
  // from has none until it is used again.
  struct Impl;
  Impl& State();
  const Impl& State() const;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
