#pragma once
// The character set of a page, for the label of its part in an archive: the
// set the page declares in a <meta charset> or an http-equiv content type
// (found anywhere, without regard to case, the label kept as written); else
// "utf-8" for valid UTF-8 that is not plain ASCII; else "iso-8859-1".

#include <cstddef>
#include <string>
#include <string_view>

namespace qm::mdlHTML2MHT {

class PageCharset {
 public:
  /// Takes the page's next bytes (any split into pieces gives the same result).
  void Feed(std::string_view bytes);
  /// The label for the bytes fed so far.
  std::string Label() const;

  /// The charset one <meta ...> tag declares (its text after "<meta", up to
  /// the ">"), or empty.
  static std::string DeclaredBy(std::string_view tag);

 private:
  void FeedMeta(char c);
  void FeedUtf8(std::string_view bytes);

  std::string declared_;
  // The "<meta" being matched and the tag being collected.
  std::size_t matched_ = 0;
  bool inTag_ = false;
  bool tagTooLong_ = false;
  std::string tag_;
  // UTF-8 validity, by the library's decoder: the start of a character that
  // the bytes fed so far cut short waits in carry_ for the next ones.
  std::string carry_;
  bool valid_ = true;
  bool ascii_ = true;
};

}  // namespace qm::mdlHTML2MHT
