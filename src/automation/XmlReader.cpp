#include "automation/XmlReader.h"

#include <expat.h>
#include <iconv.h>

#include <cerrno>
#include <climits>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

namespace qm::detail {
namespace {

using pugi::xml_node;

constexpr const char* kDoctypeMark = XmlDoctypeMark;
constexpr const char* kReferenceMark = XmlReferenceMark;

bool IsBlank(std::string_view text) { return text.find_first_not_of(" \t\r\n") == std::string_view::npos; }

// The state the expat callbacks fill: the element being read, its pending
// text, and per open element what kinds of children it has: blank text in an
// element of element children only is layout and is dropped when the element
// ends (mixed content keeps every piece).
class TreeBuilder {
 public:
  TreeBuilder(XML_Parser parser, pugi::xml_document& doc) : parser_(parser), doc_(doc), current_(doc) {
    XML_SetUserData(parser, this);
    XML_SetElementHandler(parser, &TreeBuilder::OnStart, &TreeBuilder::OnEnd);
    XML_SetCharacterDataHandler(parser, &TreeBuilder::OnText);
    XML_SetCommentHandler(parser, &TreeBuilder::OnComment);
    XML_SetProcessingInstructionHandler(parser, &TreeBuilder::OnPi);
    XML_SetSkippedEntityHandler(parser, &TreeBuilder::OnSkipped);
    XML_SetDoctypeDeclHandler(parser, &TreeBuilder::OnDoctypeStart, &TreeBuilder::OnDoctypeEnd);
    XML_SetXmlDeclHandler(parser, [](void*, const XML_Char*, const XML_Char*, int) {});
    // Everything else lands here: the text of the document type declaration,
    // and references to external entities in content (never read).
    XML_SetDefaultHandlerExpand(parser, &TreeBuilder::OnDefault);
    // Internal parameter entities are expanded; external ones (and an
    // external subset) are never read, since no external-entity handler is
    // set: declarations after such a reference are then skipped, as the
    // XML recommendation asks of a processor that does not read them.
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_ALWAYS);
  }

  xml_node Root() const { return root_; }
  const std::string& Failure() const { return failure_; }

 private:
  struct Open {
    bool HasElement = false;
    bool HasBlank = false;
    bool HasText = false;  // text other than blanks, or an entity reference
  };

  static TreeBuilder& Self(void* data) { return *static_cast<TreeBuilder*>(data); }

  // A callback's work; an allocation failure stops the parser instead of
  // unwinding through expat.
  template <typename F>
  void Guard(F&& work) {
    try {
      work();
    } catch (const std::bad_alloc&) {
      failure_ = "out of memory";
      XML_StopParser(parser_, XML_FALSE);
    }
  }

  void FlushText() {
    if (text_.empty()) return;
    if (current_ != doc_) {
      Open& open = open_.back();
      if (IsBlank(text_))
        open.HasBlank = true;
      else
        open.HasText = true;
      current_.append_child(pugi::node_pcdata).set_value(text_.c_str());
    }
    text_.clear();
  }

  static void OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
    TreeBuilder& self = Self(data);
    self.Guard([&] {
      self.FlushText();
      xml_node element = self.current_.append_child(pugi::node_element);
      element.set_name(name);
      for (const XML_Char** a = attributes; *a; a += 2) element.append_attribute(a[0]).set_value(a[1]);
      if (self.current_ == self.doc_) {
        self.root_ = element;
        if (self.hasDoctype_) {
          xml_node doctype = element.append_child(pugi::node_pi);
          doctype.set_name(kDoctypeMark);
          doctype.set_value(self.doctype_.c_str());
        }
      } else {
        self.open_.back().HasElement = true;
      }
      self.open_.emplace_back();
      self.current_ = element;
    });
  }

  static void OnEnd(void* data, const XML_Char*) {
    TreeBuilder& self = Self(data);
    self.Guard([&] {
      self.FlushText();
      const Open open = self.open_.back();
      self.open_.pop_back();
      if (open.HasElement && open.HasBlank && !open.HasText) {
        for (xml_node child = self.current_.first_child(); child;) {
          xml_node next = child.next_sibling();
          if (child.type() == pugi::node_pcdata && IsBlank(child.value())) self.current_.remove_child(child);
          child = next;
        }
      }
      self.current_ = self.current_.parent();
    });
  }

  static void OnText(void* data, const XML_Char* text, int length) {
    TreeBuilder& self = Self(data);
    self.Guard([&] { self.text_.append(text, static_cast<std::size_t>(length)); });
  }

  // Comments and processing instructions inside the root element are kept;
  // those of the prolog and epilog are not; inside the document type
  // declaration they are part of its text.
  static void OnComment(void* data, const XML_Char* text) {
    TreeBuilder& self = Self(data);
    if (self.inDoctype_) return XML_DefaultCurrent(self.parser_);
    if (self.current_ == self.doc_) return;
    self.Guard([&] {
      self.FlushText();
      self.current_.append_child(pugi::node_comment).set_value(text);
    });
  }

  static void OnPi(void* data, const XML_Char* target, const XML_Char* text) {
    TreeBuilder& self = Self(data);
    if (self.inDoctype_) return XML_DefaultCurrent(self.parser_);
    if (self.current_ == self.doc_) return;
    self.Guard([&] {
      self.FlushText();
      xml_node pi = self.current_.append_child(pugi::node_pi);
      pi.set_name(target);
      pi.set_value(text);
    });
  }

  void AddReference(std::string_view name) {
    FlushText();
    open_.back().HasText = true;
    current_.append_child(pugi::node_pi).set_name((kReferenceMark + std::string(name)).c_str());
  }

  static void OnSkipped(void* data, const XML_Char* name, int isParameterEntity) {
    TreeBuilder& self = Self(data);
    if (isParameterEntity || self.current_ == self.doc_) return;
    self.Guard([&] { self.AddReference(name); });
  }

  static void OnDefault(void* data, const XML_Char* text, int length) {
    TreeBuilder& self = Self(data);
    const std::string_view piece(text, static_cast<std::size_t>(length));
    self.Guard([&] {
      if (self.inDoctype_) {
        self.doctype_.append(piece);
      } else if (self.current_ != self.doc_ && piece.size() > 2 && piece.front() == '&' && piece.back() == ';') {
        self.AddReference(piece.substr(1, piece.size() - 2));
      }
    });
  }

  static std::string Quoted(const XML_Char* text) {
    const char quote = std::string_view(text).find('"') == std::string_view::npos ? '"' : '\'';
    return std::string(1, quote) + text + quote;
  }

  // The declaration's name and external identifier as read; the internal
  // subset follows through the default handler, as written.
  static void OnDoctypeStart(void* data, const XML_Char* name, const XML_Char* systemId, const XML_Char* publicId,
                             int hasInternalSubset) {
    TreeBuilder& self = Self(data);
    self.Guard([&] {
      self.inDoctype_ = true;
      self.hasDoctype_ = true;
      self.hasSubset_ = hasInternalSubset != 0;
      std::string& text = self.doctype_;
      text = name;
      if (publicId) {
        text += " PUBLIC " + Quoted(publicId) + " " + Quoted(systemId ? systemId : "");
      } else if (systemId) {
        text += " SYSTEM " + Quoted(systemId);
      }
      if (self.hasSubset_) text += " [";
    });
  }

  static void OnDoctypeEnd(void* data) {
    TreeBuilder& self = Self(data);
    self.inDoctype_ = false;
    self.Guard([&] {
      if (self.hasSubset_) self.doctype_ += "]";
    });
  }

  XML_Parser parser_;
  pugi::xml_document& doc_;
  xml_node current_;
  xml_node root_;
  std::vector<Open> open_;
  std::string text_;
  std::string doctype_;
  bool inDoctype_ = false;
  bool hasDoctype_ = false;
  bool hasSubset_ = false;
  std::string failure_;
};

struct ParserFree {
  void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};
using Parser = std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserFree>;

// The name of an entity at `at` ("&name;"), for the message of an undefined
// entity.
std::string EntityNameAt(const char* data, std::size_t size, XML_Index at) {
  if (at < 0 || static_cast<std::size_t>(at) >= size || data[at] != '&') return {};
  const std::string_view rest(data + at + 1, std::min<std::size_t>(size - static_cast<std::size_t>(at) - 1, 256));
  const std::size_t end = rest.find(';');
  return end == std::string_view::npos ? std::string() : std::string(rest.substr(0, end));
}

struct Attempt {
  XmlReadResult Result;
  std::string UnknownEncoding;  // set when the document names an encoding expat lacks
};

Attempt Parse(pugi::xml_document& doc, const char* data, std::size_t size, const char* encoding) {
  Attempt attempt;
  Parser parser(XML_ParserCreate(encoding));
  if (!parser) throw std::bad_alloc();
  TreeBuilder builder(parser.get(), doc);
  XML_SetUnknownEncodingHandler(
      parser.get(),
      [](void* unknown, const XML_Char* name, XML_Encoding*) -> int {
        *static_cast<std::string*>(unknown) = name;
        return XML_STATUS_ERROR;
      },
      &attempt.UnknownEncoding);
  // expat takes lengths as int: large documents go in pieces.
  constexpr std::size_t kPiece = std::size_t{1} << 30;
  XML_Status status = XML_STATUS_OK;
  std::size_t at = 0;
  do {
    const std::size_t piece = std::min(kPiece, size - at);
    const bool last = at + piece == size;
    status = XML_Parse(parser.get(), data + at, static_cast<int>(piece), last);
    at += piece;
  } while (status == XML_STATUS_OK && at < size);
  if (status == XML_STATUS_OK && builder.Failure().empty()) {
    attempt.Result.Root = builder.Root();
    return attempt;
  }
  std::string reason = builder.Failure();
  if (reason.empty()) {
    const XML_Error code = XML_GetErrorCode(parser.get());
    reason = XML_ErrorString(code);
    if (code == XML_ERROR_UNDEFINED_ENTITY && (!encoding || std::string_view(encoding) == "UTF-8")) {
      const std::string name = EntityNameAt(data, size, XML_GetCurrentByteIndex(parser.get()));
      if (!name.empty()) reason += " \"" + name + "\"";
    }
  }
  attempt.Result.Error = "line " + std::to_string(XML_GetErrorLineNumber(parser.get())) + ", column " +
                         std::to_string(XML_GetErrorColumnNumber(parser.get()) + 1) + ": " + reason;
  doc.reset();
  return attempt;
}

// The document in UTF-8, converted with iconv from `encoding`; false with a
// reason when the system has no such conversion or the bytes are not of it.
bool ToUtf8(const std::string& encoding, const char* data, std::size_t size, std::string& out, std::string& why) {
  iconv_t cd = iconv_open("UTF-8", encoding.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    why = "encoding \"" + encoding + "\" is not supported on this system";
    return false;
  }
  std::unique_ptr<void, int (*)(iconv_t)> closer(cd, &iconv_close);
  out.resize(size * 2 + 16);
  char* in = const_cast<char*>(data);
  std::size_t inLeft = size;
  std::size_t done = 0;
  while (inLeft > 0) {
    char* to = out.data() + done;
    std::size_t outLeft = out.size() - done;
    const std::size_t rc = iconv(cd, &in, &inLeft, &to, &outLeft);
    done = out.size() - outLeft;
    if (rc != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    why = "byte " + std::to_string(size - inLeft) + " is not valid in the encoding \"" + encoding + "\"";
    return false;
  }
  out.resize(done);
  return true;
}

}  // namespace

XmlReadResult ReadXml(pugi::xml_document& doc, const char* data, std::size_t size, bool utf8Text) {
  Attempt first = Parse(doc, data, size, utf8Text ? "UTF-8" : nullptr);
  if (first.UnknownEncoding.empty() || first.Result.Root) return std::move(first.Result);
  // An encoding expat does not know: the whole document is converted first.
  std::string converted;
  std::string why;
  if (!ToUtf8(first.UnknownEncoding, data, size, converted, why)) return XmlReadResult{{}, "line 1, column 1: " + why};
  return std::move(Parse(doc, converted.data(), converted.size(), "UTF-8").Result);
}

}  // namespace qm::detail
