#include "automation/XmlReader.h"

#include <expat.h>
#include <iconv.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
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

bool ToUtf8(const std::string& encoding, const char* data, std::size_t size, std::string& out, std::string& why);

bool IsVersionNumber(std::string_view version) {
  return version.size() > 2 && version.starts_with("1.") &&
         version.find_first_not_of("0123456789", 2) == std::string_view::npos;
}

bool IsBlank(std::string_view text) { return text.find_first_not_of(" \t\r\n") == std::string_view::npos; }

// The state the expat callbacks fill: the element being read, its pending
// text, and per open element what kinds of children it has: blank text in an
// element of element children only is layout and is dropped when the element
// ends (mixed content keeps every piece).
class TreeBuilder {
 public:
  // `data` is the document as given to expat, in `encoding` (nullptr: as the
  // document says), for the internal subset's text.
  TreeBuilder(XML_Parser parser, pugi::xml_document& doc, std::string_view data, const char* encoding)
      : parser_(parser), doc_(doc), current_(doc), data_(data), encoding_(encoding ? encoding : "") {
    XML_SetUserData(parser, this);
    XML_SetElementHandler(parser, &TreeBuilder::OnStart, &TreeBuilder::OnEnd);
    XML_SetCharacterDataHandler(parser, &TreeBuilder::OnText);
    XML_SetCommentHandler(parser, &TreeBuilder::OnComment);
    XML_SetProcessingInstructionHandler(parser, &TreeBuilder::OnPi);
    XML_SetSkippedEntityHandler(parser, &TreeBuilder::OnSkipped);
    XML_SetDoctypeDeclHandler(parser, &TreeBuilder::OnDoctypeStart, &TreeBuilder::OnDoctypeEnd);
    XML_SetXmlDeclHandler(parser, &TreeBuilder::OnXmlDecl);
    // Everything else lands here, among it references to external entities
    // in content (never read).
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
      if (IsBlank(text_)) open.HasBlank = true;
      else open.HasText = true;
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
      if (!self.inDoctype_ && self.current_ != self.doc_ && piece.size() > 2 && piece.front() == '&' &&
          piece.back() == ';') {
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
    // Reported at the '[' that opens the internal subset.
    self.subsetStart_ = XML_GetCurrentByteIndex(self.parser_) + XML_GetCurrentByteCount(self.parser_);
  }

  // The internal subset is kept as written (parameter entity references
  // unexpanded), from the document's own bytes.
  static void OnDoctypeEnd(void* data) {
    TreeBuilder& self = Self(data);
    self.inDoctype_ = false;
    if (!self.hasSubset_) return;
    const XML_Index end = XML_GetCurrentByteIndex(self.parser_);
    self.Guard([&] {
      if (self.subsetStart_ >= 0 && end >= self.subsetStart_ && static_cast<std::size_t>(end) <= self.data_.size()) {
        std::string_view raw = self.data_.substr(static_cast<std::size_t>(self.subsetStart_),
                                                 static_cast<std::size_t>(end - self.subsetStart_));
        // The report comes at the '>' after the ']' (UTF-16: two bytes each).
        while (!raw.empty() && (raw.back() == ']' || raw.back() == '\0')) raw.remove_suffix(1);
        std::string subset, why;
        const std::string encoding = self.RawEncoding();
        if (encoding.empty()) self.doctype_.append(raw);
        else if (ToUtf8(encoding, raw.data(), raw.size(), subset, why)) self.doctype_.append(subset);
      }
      self.doctype_ += "]";
    });
  }

  // A UTF-8 byte-order mark and a declaration of another encoding
  // contradict each other (expat would go by the mark).
  static void OnXmlDecl(void* data, const XML_Char* version, const XML_Char* encoding, int) {
    TreeBuilder& self = Self(data);
    // expat takes any version number; XML 1.0 allows "1." and digits.
    if (version && !IsVersionNumber(version)) {
      self.failure_ = "version \"" + std::string(version).substr(0, 40) + "\" is no XML 1.x version number";
      XML_StopParser(self.parser_, XML_FALSE);
      return;
    }
    if (!encoding) return;
    self.Guard([&] {
      self.declared_ = encoding;
      if (self.encoding_.empty() && self.data_.starts_with("\xEF\xBB\xBF") && !self.RawEncoding().empty()) {
        self.failure_ = "the encoding \"" + self.declared_ + "\" contradicts the UTF-8 byte-order mark";
        XML_StopParser(self.parser_, XML_FALSE);
      }
    });
  }

  // The encoding of the document's bytes when it is not UTF-8, "" when it is.
  std::string RawEncoding() const {
    std::string name = encoding_;
    if (name.empty()) {
      const auto at = [&](std::size_t i) { return i < data_.size() ? static_cast<unsigned char>(data_[i]) : 0x100; };
      if ((at(0) == 0xFE && at(1) == 0xFF) || (at(0) == 0 && at(1) == '<')) name = "UTF-16BE";
      else if ((at(0) == 0xFF && at(1) == 0xFE) || (at(0) == '<' && at(1) == 0)) name = "UTF-16LE";
      else name = declared_;
    }
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name.empty() || name == "UTF-8" || name == "US-ASCII" ? std::string() : name;
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
  XML_Index subsetStart_ = -1;
  std::string_view data_;
  std::string encoding_;
  std::string declared_;
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
  std::string UnknownEncoding;      // set when the document names an encoding expat lacks
  bool NameCharacterDoubt = false;  // refused at a character beyond ASCII that may be a name character
};

// expat knows the name characters of the XML recommendation's fourth edition;
// the fifth allows many more beyond ASCII. A refusal for an invalid token in
// a document with characters beyond ASCII (as bytes or references) is
// settled by libxml2, which knows the fifth edition's.
bool BeyondAscii(const char* data, std::size_t size) {
  const std::string_view text(data, size);
  return text.find("&#") != std::string_view::npos ||
         std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

Attempt Parse(pugi::xml_document& doc, const char* data, std::size_t size, const char* encoding) {
  Attempt attempt;
  Parser parser(XML_ParserCreate(encoding));
  if (!parser) throw std::bad_alloc();
  TreeBuilder builder(parser.get(), doc, std::string_view(data, size), encoding);
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
    attempt.NameCharacterDoubt = code == XML_ERROR_INVALID_TOKEN && BeyondAscii(data, size);
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

// libxml2's tree copied into `doc`, the same shape as TreeBuilder makes.
void CopyTree(pugi::xml_document& doc, xmlDocPtr source, XmlReadResult& result) {
  xmlNodePtr top = xmlDocGetRootElement(source);
  const auto text = [](const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; };
  struct Pending {
    xmlNodePtr From;
    xml_node To;
  };
  std::vector<Pending> work{{top, doc.append_child(pugi::node_element)}};
  while (!work.empty()) {
    const Pending at = work.back();
    work.pop_back();
    xmlNodePtr node = at.From;
    xml_node element = at.To;
    element.set_name(text(node->name));
    for (xmlAttrPtr a = node->properties; a; a = a->next) {
      xmlChar* value = xmlNodeListGetString(source, a->children, 1);
      element.append_attribute(text(a->name)).set_value(text(value));
      xmlFree(value);
    }
    if (node == top) {
      result.Root = element;
      if (xmlDtdPtr dtd = source->intSubset) {
        // The declaration as libxml2 writes it, from the name on.
        std::unique_ptr<xmlBuffer, void (*)(xmlBufferPtr)> buffer(xmlBufferCreate(), &xmlBufferFree);
        xmlNodeDump(buffer.get(), source, reinterpret_cast<xmlNodePtr>(dtd), 0, 0);
        std::string declaration = text(xmlBufferContent(buffer.get()));
        if (declaration.starts_with("<!DOCTYPE ")) declaration.erase(0, 10);
        while (!declaration.empty() && (declaration.back() == '\n' || declaration.back() == '>'))
          declaration.pop_back();
        xml_node mark = element.append_child(pugi::node_pi);
        mark.set_name(kDoctypeMark);
        mark.set_value(declaration.c_str());
      }
    }
    bool elements = false, content = false;
    for (xmlNodePtr child = node->children; child; child = child->next) {
      elements = elements || child->type == XML_ELEMENT_NODE;
      content =
          content || child->type == XML_ENTITY_REF_NODE ||
          ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) && !IsBlank(text(child->content)));
    }
    std::vector<Pending> children;
    for (xmlNodePtr child = node->children; child; child = child->next) {
      switch (child->type) {
        case XML_ELEMENT_NODE: children.push_back({child, element.append_child(pugi::node_element)}); break;
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
          if (!elements || content) element.append_child(pugi::node_pcdata).set_value(text(child->content));
          break;
        case XML_ENTITY_REF_NODE:
          element.append_child(pugi::node_pi).set_name((kReferenceMark + std::string(text(child->name))).c_str());
          break;
        case XML_COMMENT_NODE: element.append_child(pugi::node_comment).set_value(text(child->content)); break;
        case XML_PI_NODE: {
          xml_node pi = element.append_child(pugi::node_pi);
          pi.set_name(text(child->name));
          pi.set_value(text(child->content));
          break;
        }
        default: break;
      }
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it) work.push_back(*it);
  }
}

// A document expat refused over a name character, read by libxml2 with
// nothing fetched (no external subset, no external entity), entities
// substituted, defaults of the internal subset applied.
XmlReadResult ReadWithLibxml2(pugi::xml_document& doc, const char* data, std::size_t size, bool utf8Text) {
  XmlReadResult result;
  if (size > static_cast<std::size_t>(INT_MAX)) return result;
  std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> context(xmlNewParserCtxt(), &xmlFreeParserCtxt);
  if (!context) throw std::bad_alloc();
  context->sax->externalSubset = nullptr;
  // DTD warnings (validity matters) are not printed.
  context->vctxt.error = nullptr;
  context->vctxt.warning = nullptr;
  context->sax->resolveEntity = [](void*, const xmlChar*, const xmlChar*) -> xmlParserInputPtr { return nullptr; };
  std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> source(
      xmlCtxtReadMemory(context.get(), data, static_cast<int>(size), nullptr, utf8Text ? "UTF-8" : nullptr,
                        XML_PARSE_NOENT | XML_PARSE_DTDATTR | XML_PARSE_SAX1 | XML_PARSE_NONET | XML_PARSE_NOERROR |
                            XML_PARSE_NOWARNING),
      &xmlFreeDoc);
  if (!source || !context->wellFormed || !xmlDocGetRootElement(source.get())) return result;
  CopyTree(doc, source.get(), result);
  return result;
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
  if (first.NameCharacterDoubt) {
    XmlReadResult second = ReadWithLibxml2(doc, data, size, utf8Text);
    if (second.Root) return second;
    doc.reset();
  }
  if (first.UnknownEncoding.empty() || first.Result.Root) return std::move(first.Result);
  // An encoding expat does not know: the whole document is converted first.
  std::string converted;
  std::string why;
  if (!ToUtf8(first.UnknownEncoding, data, size, converted, why)) return XmlReadResult{{}, "line 1, column 1: " + why};
  return std::move(Parse(doc, converted.data(), converted.size(), "UTF-8").Result);
}

}  // namespace qm::detail
