#include "automation/XmlReader.h"

#include <expat.h>
#include <iconv.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <exception>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

namespace qm::detail {
namespace {

// expat gets the document in pieces read into its own buffer: 64 KiB first,
// doubling while pieces come full, up to 1 MiB (a small document needs no
// large buffer).
constexpr std::size_t kFirstPiece = std::size_t{64} << 10;
constexpr std::size_t kPiece = std::size_t{1} << 20;

bool ToUtf8(const std::string& encoding, const char* data, std::size_t size, std::string& out, std::string& why);

bool IsVersionNumber(std::string_view version) {
  return version.size() > 2 && version.starts_with("1.") &&
         version.find_first_not_of("0123456789", 2) == std::string_view::npos;
}

bool IsBlank(std::string_view text) { return text.find_first_not_of(" \t\r\n") == std::string_view::npos; }

// The state the expat callbacks fill: the element being read, its pending
// text, and per open element what kinds of children it has. Blank text in an
// element of element children only is layout: it is held aside (not in the
// tree) until the element ends or gets other text, and dropped when the
// element ends with element children only; mixed content keeps every piece.
class TreeBuilder {
 public:
  // `encoding` is the encoding the parser was forced to (nullptr: as the
  // document says).
  TreeBuilder(XML_Parser parser, XmlTree& tree, const char* encoding)
      : parser_(parser), tree_(tree), current_(kXmlDocument), encoding_(encoding ? encoding : "") {
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

  // The bytes given to the parser are kept until the root element starts:
  // the byte-order mark, and the document type declaration as written.
  void Record(const char* data, std::size_t size) {
    if (!root_) prolog_.append(data, size);
  }

  XmlId Root() const { return root_; }
  const std::string& Failure() const { return failure_; }
  // The innermost open element's tag and the line its start tag is on; 0
  // when none is open.
  std::string OpenTag() const { return open_.empty() ? std::string() : std::string(tree_.Name(current_)); }
  std::uint64_t OpenLine() const { return open_.empty() ? 0 : open_.back().Line; }

 private:
  struct Open {
    bool HasElement = false;
    bool HasText = false;     // text other than blanks, or an entity reference
    std::size_t Pending = 0;  // its first blank piece held aside, in pending_
    std::uint64_t Line = 0;   // of its start tag, for the message of an end tag that does not match
  };
  struct Blank {
    XmlId After;           // the child it follows; kNoXml: the first
    std::size_t At, Size;  // in blanks_
  };

  static TreeBuilder& Self(void* data) { return *static_cast<TreeBuilder*>(data); }

  // A callback's work; a failure stops the parser instead of unwinding
  // through expat.
  template <typename F>
  void Guard(F&& work) {
    try {
      work();
    } catch (const std::bad_alloc&) {
      Stop("out of memory");
    } catch (const std::exception& e) {
      Stop(e.what());
    }
  }
  void Stop(std::string why) {
    if (failure_.empty()) failure_ = std::move(why);
    XML_StopParser(parser_, XML_FALSE);
  }

  // The blank pieces held aside for the current element go into the tree.
  void PlaceBlanks() {
    const std::size_t from = open_.back().Pending;
    for (std::size_t i = from; i < pending_.size(); ++i)
      tree_.AddText(current_, pending_[i].After, std::string_view(blanks_).substr(pending_[i].At, pending_[i].Size));
    DropBlanks();
  }
  void DropBlanks() {
    const std::size_t from = open_.back().Pending;
    if (from < pending_.size()) blanks_.resize(pending_[from].At);
    pending_.resize(from);
  }
  void MarkText() {
    if (open_.back().HasText) return;
    open_.back().HasText = true;
    PlaceBlanks();
  }

  void FlushText() {
    if (text_.empty()) return;
    if (current_ != kXmlDocument) {
      if (!open_.back().HasText && IsBlank(text_)) {
        pending_.push_back({tree_.LastChild(current_), blanks_.size(), text_.size()});
        blanks_ += text_;
      } else {
        MarkText();
        tree_.AddText(current_, tree_.LastChild(current_), text_);
      }
    }
    text_.clear();
  }

  static void OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
    TreeBuilder& self = Self(data);
    self.Guard([&] {
      self.FlushText();
      XmlTree& tree = self.tree_;
      const XmlId element = tree.Append(self.current_, XmlKind::Element, name);
      XmlAttrId last = 0;
      for (const XML_Char** a = attributes; *a; a += 2) last = tree.InsertAttribute(element, last, a[0], a[1]);
      if (self.current_ == kXmlDocument) {
        self.root_ = element;
        if (!self.doctype_.empty()) tree.Append(element, XmlKind::Doctype, {}, self.doctype_);
        std::string().swap(self.prolog_);
        std::string().swap(self.doctype_);
      } else {
        self.open_.back().HasElement = true;
      }
      self.open_.push_back({false, false, self.pending_.size(), XML_GetCurrentLineNumber(self.parser_)});
      self.current_ = element;
    });
  }

  static void OnEnd(void* data, const XML_Char*) {
    TreeBuilder& self = Self(data);
    self.Guard([&] {
      self.FlushText();
      const Open& open = self.open_.back();
      if (open.HasElement && !open.HasText) self.DropBlanks();
      else self.PlaceBlanks();
      self.open_.pop_back();
      self.current_ = self.tree_.Parent(self.current_);
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
    if (self.inDoctype_ || self.current_ == kXmlDocument) return;
    self.Guard([&] {
      self.FlushText();
      self.tree_.Append(self.current_, XmlKind::Comment, {}, text);
    });
  }

  static void OnPi(void* data, const XML_Char* target, const XML_Char* text) {
    TreeBuilder& self = Self(data);
    if (self.inDoctype_ || self.current_ == kXmlDocument) return;
    self.Guard([&] {
      self.FlushText();
      self.tree_.Append(self.current_, XmlKind::Instruction, target, text);
    });
  }

  void AddReference(std::string_view name) {
    FlushText();
    MarkText();
    tree_.Append(current_, XmlKind::Reference, name);
  }

  static void OnSkipped(void* data, const XML_Char* name, int isParameterEntity) {
    TreeBuilder& self = Self(data);
    if (isParameterEntity || self.current_ == kXmlDocument) return;
    self.Guard([&] { self.AddReference(name); });
  }

  static void OnDefault(void* data, const XML_Char* text, int length) {
    TreeBuilder& self = Self(data);
    const std::string_view piece(text, static_cast<std::size_t>(length));
    if (self.inDoctype_ || self.current_ == kXmlDocument || piece.size() <= 2 || piece.front() != '&' ||
        piece.back() != ';')
      return;
    self.Guard([&] { self.AddReference(piece.substr(1, piece.size() - 2)); });
  }

  static void OnDoctypeStart(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    Self(data).inDoctype_ = true;
  }

  // The declaration is kept as written (name, external identifier, internal
  // subset with its parameter entity references unexpanded, white space),
  // from the document's own bytes: a copy made from its parts could differ.
  static void OnDoctypeEnd(void* data) {
    TreeBuilder& self = Self(data);
    self.inDoctype_ = false;
    // Reported at the closing '>' (UTF-16: two bytes).
    const XML_Index end = XML_GetCurrentByteIndex(self.parser_) + XML_GetCurrentByteCount(self.parser_);
    self.Guard([&] {
      if (end <= 0 || static_cast<std::size_t>(end) > self.prolog_.size()) return self.Stop("document type not found");
      std::string text, why;
      const std::string encoding = self.RawEncoding();
      if (encoding.empty()) text.assign(self.prolog_, 0, static_cast<std::size_t>(end));
      else if (!ToUtf8(encoding, self.prolog_.data(), static_cast<std::size_t>(end), text, why)) return self.Stop(why);
      const std::string_view doctype = DoctypeIn(text);
      if (doctype.empty()) return self.Stop("document type not found");
      self.doctype_ = doctype;
    });
  }

  // A UTF-8 byte-order mark and a declaration of another encoding
  // contradict each other (expat would go by the mark).
  static void OnXmlDecl(void* data, const XML_Char* version, const XML_Char* encoding, int) {
    TreeBuilder& self = Self(data);
    // expat takes any version number; XML 1.0 allows "1." and digits.
    if (version && !IsVersionNumber(version))
      return self.Stop("version \"" + std::string(version).substr(0, 40) + "\" is no XML 1.x version number");
    if (!encoding) return;
    self.Guard([&] {
      self.declared_ = encoding;
      if (self.encoding_.empty() && self.prolog_.starts_with("\xEF\xBB\xBF") && !self.RawEncoding().empty())
        self.Stop("the encoding \"" + self.declared_ + "\" contradicts the UTF-8 byte-order mark");
    });
  }

  // The encoding of the document's bytes when it is not UTF-8, "" when it is.
  std::string RawEncoding() const {
    std::string name = encoding_;
    if (name.empty()) {
      const auto at = [&](std::size_t i) {
        return i < prolog_.size() ? static_cast<unsigned char>(prolog_[i]) : 0x100;
      };
      if ((at(0) == 0xFE && at(1) == 0xFF) || (at(0) == 0 && at(1) == '<')) name = "UTF-16BE";
      else if ((at(0) == 0xFF && at(1) == 0xFE) || (at(0) == '<' && at(1) == 0)) name = "UTF-16LE";
      else name = declared_;
    }
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name.empty() || name == "UTF-8" || name == "US-ASCII" ? std::string() : name;
  }

  XML_Parser parser_;
  XmlTree& tree_;
  XmlId current_;
  XmlId root_ = kNoXml;
  std::vector<Open> open_;
  std::vector<Blank> pending_;
  std::string blanks_;
  std::string text_;
  std::string prolog_;
  std::string doctype_;
  bool inDoctype_ = false;
  std::string encoding_;
  std::string declared_;
  std::string failure_;
};

struct ParserFree {
  void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};
using Parser = std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserFree>;

// Reads the source in order, from the start or from `offset`.
class Reader {
 public:
  explicit Reader(const XmlSource& source, std::uint64_t offset = 0) : source_(source), offset_(offset) {}
  std::size_t operator()(char* data, std::size_t size) {
    const std::size_t got = source_(offset_, data, size);
    offset_ += got;
    return got;
  }

 private:
  const XmlSource& source_;
  std::uint64_t offset_;
};

// The source converted from `encoding` to UTF-8 by iconv, in pieces; a byte
// that is not of the encoding ends it (Failure says which).
class ConvertingReader {
 public:
  ConvertingReader(const XmlSource& source, std::string encoding)
      : read_(source), encoding_(std::move(encoding)), raw_(kFirstPiece) {
    cd_ = iconv_open("UTF-8", encoding_.c_str());
    if (cd_ == reinterpret_cast<iconv_t>(-1))
      failure_ = "encoding \"" + encoding_ + "\" is not supported on this system";
  }
  ~ConvertingReader() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  ConvertingReader(const ConvertingReader&) = delete;
  ConvertingReader& operator=(const ConvertingReader&) = delete;

  const std::string& Failure() const { return failure_; }

  std::size_t operator()(char* data, std::size_t size) {
    char* out = data;
    std::size_t outLeft = size;
    while (failure_.empty() && outLeft == size) {
      if (begin_ == end_ || incomplete_) {
        // Keep what is left (a sequence cut at the piece's end) and read on.
        std::copy(raw_.begin() + static_cast<std::ptrdiff_t>(begin_), raw_.begin() + static_cast<std::ptrdiff_t>(end_),
                  raw_.begin());
        end_ -= begin_;
        begin_ = 0;
        const std::size_t got = read_(raw_.data() + end_, raw_.size() - end_);
        if (got == 0) {
          if (end_ > 0) failure_ = Invalid();
          break;
        }
        end_ += got;
        incomplete_ = false;
      }
      char* in = raw_.data() + begin_;
      std::size_t inLeft = end_ - begin_;
      const std::size_t rc = iconv(cd_, &in, &inLeft, &out, &outLeft);
      consumed_ += (end_ - begin_) - inLeft;
      begin_ = end_ - inLeft;
      if (rc != static_cast<std::size_t>(-1)) continue;
      if (errno == EINVAL) incomplete_ = true;
      else if (errno != E2BIG) failure_ = Invalid();
    }
    return size - outLeft;
  }

 private:
  std::string Invalid() const {
    return "byte " + std::to_string(consumed_) + " is not valid in the encoding \"" + encoding_ + "\"";
  }

  Reader read_;
  std::string encoding_;
  iconv_t cd_;
  std::vector<char> raw_;
  std::size_t begin_ = 0, end_ = 0;
  bool incomplete_ = false;
  std::uint64_t consumed_ = 0;
  std::string failure_;
};

struct Attempt {
  XmlReadResult Result;
  std::string UnknownEncoding;  // set when the document names an encoding expat lacks
  XML_Error Code = XML_ERROR_NONE;
  XML_Index At = -1;  // the byte the error was found at
};

template <class Pull>
Attempt Parse(XmlTree& tree, Pull& pull, const char* encoding) {
  Attempt attempt;
  Parser parser(XML_ParserCreate(encoding));
  if (!parser) throw std::bad_alloc();
  TreeBuilder builder(parser.get(), tree, encoding);
  XML_SetUnknownEncodingHandler(
      parser.get(),
      [](void* unknown, const XML_Char* name, XML_Encoding*) -> int {
        *static_cast<std::string*>(unknown) = name;
        return XML_STATUS_ERROR;
      },
      &attempt.UnknownEncoding);
  XML_Status status = XML_STATUS_OK;
  for (std::size_t piece = kFirstPiece;; piece = std::min(kPiece, piece * 2)) {
    void* buffer = XML_GetBuffer(parser.get(), static_cast<int>(piece));
    if (!buffer) throw std::bad_alloc();
    const std::size_t got = pull(static_cast<char*>(buffer), piece);
    builder.Record(static_cast<const char*>(buffer), got);
    status = XML_ParseBuffer(parser.get(), static_cast<int>(got), got == 0);
    if (status != XML_STATUS_OK || got == 0) break;
  }
  if (status == XML_STATUS_OK && builder.Failure().empty() && builder.Root()) {
    attempt.Result.Root = builder.Root();
    return attempt;
  }
  std::string reason = builder.Failure();
  if (reason.empty()) {
    attempt.Code = XML_GetErrorCode(parser.get());
    attempt.At = XML_GetCurrentByteIndex(parser.get());
    reason = XML_ErrorString(attempt.Code);
  }
  attempt.Result.Line = XML_GetErrorLineNumber(parser.get());
  attempt.Result.Column = XML_GetErrorColumnNumber(parser.get()) + 1;
  attempt.Result.Offset = static_cast<std::uint64_t>(std::max<XML_Index>(0, XML_GetCurrentByteIndex(parser.get())));
  attempt.Result.Error = "line " + std::to_string(attempt.Result.Line) + ", column " +
                         std::to_string(attempt.Result.Column) + ": " + reason;
  if (attempt.Code == XML_ERROR_TAG_MISMATCH && builder.OpenLine() != 0) {
    attempt.Result.OpenLine = builder.OpenLine();
    attempt.Result.Mismatch = "<" + builder.OpenTag() + "> opened at line " + std::to_string(builder.OpenLine());
  }
  while (const XmlId top = tree.FirstChild(kXmlDocument)) tree.Remove(top);
  return attempt;
}

// The name of the end tag expat stopped in at `at` (its name, just after
// "</"), for the message of a mismatched tag; "" when the bytes there are
// not one.
std::string EndTagNameAt(const XmlSource& source, XML_Index at) {
  if (at < 2) return {};
  char bytes[258];
  const std::size_t got = source(static_cast<std::uint64_t>(at - 2), bytes, sizeof bytes);
  std::string_view text(bytes, got);
  if (!text.starts_with("</")) return {};
  text.remove_prefix(2);
  return std::string(text.substr(0, std::min(text.size(), text.find_first_of(" \t\r\n>"))));
}

// The name of an entity at `at` ("&name;"), for the message of an undefined
// entity.
std::string EntityNameAt(const XmlSource& source, XML_Index at) {
  if (at < 0) return {};
  char bytes[258];
  const std::size_t got = source(static_cast<std::uint64_t>(at), bytes, sizeof bytes);
  const std::string_view text(bytes, got);
  if (!text.starts_with('&')) return {};
  const std::size_t end = text.find(';');
  if (end == std::string_view::npos || text.substr(0, end).find('\0') != std::string_view::npos) return {};
  return std::string(text.substr(1, end - 1));
}

// expat knows the name characters of the XML recommendation's fourth edition;
// the fifth allows many more beyond ASCII. A refusal for an invalid token in
// a document with characters beyond ASCII (as bytes or references) is
// settled by libxml2, which knows the fifth edition's.
bool BeyondAscii(const XmlSource& source) {
  std::vector<char> piece(kFirstPiece + 1);
  Reader read(source);
  char last = 0;
  while (const std::size_t got = read(piece.data() + 1, kFirstPiece)) {
    piece[0] = last;
    const std::string_view text(piece.data(), got + 1);
    if (text.find("&#") != std::string_view::npos ||
        std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
      return true;
    last = text.back();
  }
  return false;
}

// libxml2's tree copied into `tree`, the same shape as TreeBuilder makes.
void CopyTree(XmlTree& tree, xmlDocPtr source, XmlReadResult& result) {
  xmlNodePtr top = xmlDocGetRootElement(source);
  const auto text = [](const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; };
  // libxml2 splits a name with a colon into a prefix and the rest, even
  // without namespaces: the name read is both. A prefix it finds no
  // declaration for is kept only as a declaration without a value (and an
  // attribute's is lost).
  const auto name = [&](const xmlChar* local, xmlNsPtr ns, xmlNodePtr element) {
    if (!ns && element)
      for (xmlNsPtr d = element->nsDef; d && !ns; d = d->next)
        if (!d->href && d->prefix) ns = d;
    return ns && ns->prefix ? std::string(text(ns->prefix)) + ":" + text(local) : std::string(text(local));
  };
  struct Pending {
    xmlNodePtr From;
    XmlId To;
  };
  std::vector<Pending> work{{top, tree.Append(kXmlDocument, XmlKind::Element, name(top->name, top->ns, top))}};
  while (!work.empty()) {
    const Pending at = work.back();
    work.pop_back();
    xmlNodePtr node = at.From;
    const XmlId element = at.To;
    XmlAttrId last = 0;
    // Namespace declarations are attributes as read.
    for (xmlNsPtr d = node->nsDef; d; d = d->next)
      if (d->href) {
        const std::string declared = d->prefix ? "xmlns:" + std::string(text(d->prefix)) : std::string("xmlns");
        last = tree.InsertAttribute(element, last, declared, text(d->href));
      }
    for (xmlAttrPtr a = node->properties; a; a = a->next) {
      std::unique_ptr<xmlChar, void (*)(void*)> value(xmlNodeListGetString(source, a->children, 1), xmlFree);
      last = tree.InsertAttribute(element, last, name(a->name, a->ns, nullptr), text(value.get()));
    }
    if (node == top) {
      result.Root = element;
      if (xmlDtdPtr dtd = source->intSubset) {
        // The declaration as libxml2 writes it.
        std::unique_ptr<xmlBuffer, void (*)(xmlBufferPtr)> buffer(xmlBufferCreate(), &xmlBufferFree);
        xmlNodeDump(buffer.get(), source, reinterpret_cast<xmlNodePtr>(dtd), 0, 0);
        std::string declaration = text(xmlBufferContent(buffer.get()));
        while (!declaration.empty() && declaration.back() == '\n') declaration.pop_back();
        tree.Append(element, XmlKind::Doctype, {}, declaration);
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
        case XML_ELEMENT_NODE:
          children.push_back({child, tree.Append(element, XmlKind::Element, name(child->name, child->ns, child))});
          break;
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
          if (!elements || content) tree.AddText(element, tree.LastChild(element), text(child->content));
          break;
        case XML_ENTITY_REF_NODE: tree.Append(element, XmlKind::Reference, text(child->name)); break;
        case XML_COMMENT_NODE: tree.Append(element, XmlKind::Comment, {}, text(child->content)); break;
        case XML_PI_NODE: tree.Append(element, XmlKind::Instruction, text(child->name), text(child->content)); break;
        default: break;
      }
    }
    work.insert(work.end(), children.rbegin(), children.rend());
  }
}

// A document expat refused over a name character, read by libxml2 with
// nothing fetched (no external subset, no external entity), entities
// substituted, defaults of the internal subset applied. libxml2 builds a
// tree of its own first: this rare case takes several times the memory of
// the usual one.
XmlReadResult ReadWithLibxml2(XmlTree& tree, const XmlSource& source, bool utf8Text) {
  XmlReadResult result;
  std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> context(xmlNewParserCtxt(), &xmlFreeParserCtxt);
  if (!context) throw std::bad_alloc();
  context->sax->externalSubset = nullptr;
  // DTD warnings (validity matters) are not printed.
  context->vctxt.error = nullptr;
  context->vctxt.warning = nullptr;
  context->sax->resolveEntity = [](void*, const xmlChar*, const xmlChar*) -> xmlParserInputPtr { return nullptr; };
  // Told the text is UTF-8, libxml2 reading piece by piece takes a UTF-8
  // byte-order mark for content: it is left out.
  char start[3] = {};
  const bool mark = utf8Text && source(0, start, 3) == 3 && std::string_view(start, 3) == "\xEF\xBB\xBF";
  struct Input {
    Reader Read;
    std::exception_ptr Failure;
  } input{Reader(source, mark ? 3 : 0), nullptr};
  const auto read = [](void* context, char* data, int size) -> int {
    Input& in = *static_cast<Input*>(context);
    try {
      return static_cast<int>(in.Read(data, static_cast<std::size_t>(size)));
    } catch (...) {
      in.Failure = std::current_exception();
      return -1;
    }
  };
  std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> document(
      xmlCtxtReadIO(context.get(), read, nullptr, &input, nullptr, utf8Text ? "UTF-8" : nullptr,
                    XML_PARSE_NOENT | XML_PARSE_DTDATTR | XML_PARSE_SAX1 | XML_PARSE_NONET | XML_PARSE_NOERROR |
                        XML_PARSE_NOWARNING),
      &xmlFreeDoc);
  if (input.Failure) std::rethrow_exception(input.Failure);
  if (!document || !context->wellFormed || !xmlDocGetRootElement(document.get())) return result;
  CopyTree(tree, document.get(), result);
  return result;
}

// Text in UTF-8, converted with iconv from `encoding`; false with a reason
// when the system has no such conversion or the bytes are not of it.
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

namespace {

// A failure before the first byte could be read: at line 1, column 1.
XmlReadResult AtTheStart(const std::string& why) {
  XmlReadResult result;
  result.Error = "line 1, column 1: " + why;
  result.Line = result.Column = 1;
  return result;
}

}  // namespace

std::string_view DoctypeIn(std::string_view prolog) {
  std::string_view rest = prolog;
  if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
  for (;;) {
    const std::size_t start = rest.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) return {};
    rest.remove_prefix(start);
    std::string_view close;
    if (rest.starts_with("<?")) close = "?>";
    else if (rest.starts_with("<!--")) close = "-->";
    else if (rest.starts_with("<!DOCTYPE")) return rest;
    else return {};
    const std::size_t end = rest.find(close, 2);
    if (end == std::string_view::npos) return {};
    rest.remove_prefix(end + close.size());
  }
}

XmlReadResult ReadXml(XmlTree& tree, const XmlSource& source, bool utf8Text) {
  Reader read(source);
  Attempt first = Parse(tree, read, utf8Text ? "UTF-8" : nullptr);
  if (first.Result.Root) return std::move(first.Result);
  if (first.Code == XML_ERROR_INVALID_TOKEN && BeyondAscii(source)) {
    XmlReadResult second = ReadWithLibxml2(tree, source, utf8Text);
    if (second.Root) return second;
    while (const XmlId top = tree.FirstChild(kXmlDocument)) tree.Remove(top);
  }
  if (first.Code == XML_ERROR_UNDEFINED_ENTITY) {
    const std::string name = EntityNameAt(source, first.At);
    if (!name.empty()) first.Result.Error += " \"" + name + "\"";
  }
  if (!first.Result.Mismatch.empty()) {
    const std::string closing = EndTagNameAt(source, first.At);
    first.Result.Mismatch += closing.empty() ? " is not closed" : " is closed by </" + closing + ">";
  }
  if (first.UnknownEncoding.empty()) return std::move(first.Result);
  // An encoding expat does not know: the document is converted as it is read.
  ConvertingReader converted(source, first.UnknownEncoding);
  if (!converted.Failure().empty()) return AtTheStart(converted.Failure());
  Attempt second = Parse(tree, converted, "UTF-8");
  if (!converted.Failure().empty()) {
    while (const XmlId top = tree.FirstChild(kXmlDocument)) tree.Remove(top);
    return AtTheStart(converted.Failure());
  }
  if (!second.Result.Mismatch.empty()) second.Result.Mismatch += " is not closed";
  return std::move(second.Result);
}

}  // namespace qm::detail
