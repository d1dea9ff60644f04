#include "automation/XmlXPath.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "automation/XmlStore.h"
#include "frame/FileErrors.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"

namespace qm::detail {
namespace {

// Steps one evaluation may take before it is stopped: several seconds of
// work, so a runaway expression ends with an error rather than hanging.
constexpr unsigned long kStepLimit = 200'000'000;

struct FreeDoc {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct FreeContext {
  void operator()(xmlXPathContext* context) const { xmlXPathFreeContext(context); }
};
struct FreeCompiled {
  void operator()(xmlXPathCompExpr* compiled) const { xmlXPathFreeCompExpr(compiled); }
};
struct FreeObject {
  void operator()(xmlXPathObject* object) const { xmlXPathFreeObject(object); }
};
struct FreeString {
  void operator()(xmlChar* text) const { xmlFree(text); }
};

const xmlChar* X(const char* text) { return reinterpret_cast<const xmlChar*>(text); }
const xmlChar* X(const std::string& text) { return X(text.c_str()); }

// The top-level element holding `context`, mirrored into a libxml2
// document. An element's mirror carries its node number in _private.
class Mirror {
 public:
  Mirror(const XmlTree& tree, XmlId context) : tree_(tree), doc_(NewDoc()) {
    XmlId top = context;
    while (tree.Parent(top) != kXmlDocument && tree.Parent(top) != kNoXml) top = tree.Parent(top);
    xmlNode* root = xmlNewDocNode(doc_.get(), nullptr, X(""), nullptr);
    if (!root) throw std::bad_alloc();
    xmlDocSetRootElement(doc_.get(), root);
    root_ = root;
    FillElement(root, top);
    context_ = top == context ? root : nullptr;
    // Walks the subtree without recursion; `into` mirrors Parent(node).
    xmlNode* into = root;
    XmlId node = tree.FirstChild(top);
    while (node) {
      xmlNode* made = Make(node, into);
      if (node == context) context_ = made;
      if (made && made->type == XML_ELEMENT_NODE && tree.FirstChild(node)) {
        into = made;
        node = tree.FirstChild(node);
        continue;
      }
      for (;;) {
        if (const XmlId next = tree.NextSibling(node)) {
          node = next;
          break;
        }
        node = tree.Parent(node);
        if (node == top) return;
        into = into->parent;
      }
    }
  }

  static xmlDoc* NewDoc() {
    // libxml2 sets up its XPath values (NaN, the infinities) once.
    static std::once_flag initialised;
    std::call_once(initialised, [] { xmlInitParser(); });
    xmlDoc* doc = xmlNewDoc(X("1.0"));
    if (!doc) throw std::bad_alloc();
    // Names are kept once, in the document's dictionary.
    doc->dict = xmlDictCreate();
    if (!doc->dict) {
      xmlFreeDoc(doc);
      throw std::bad_alloc();
    }
    return doc;
  }

  xmlDoc* Doc() const { return doc_.get(); }
  xmlNode* Context() const { return context_; }
  // The prefixes the names use, each with the URI it stands for.
  const std::map<std::string, xmlNs*>& Prefixes() const { return prefixes_; }

 private:
  // The mirror of `node`, appended to `into`; nullptr for a node XPath
  // does not see. A text may merge into a text before it.
  xmlNode* Make(XmlId node, xmlNode* into) {
    xmlNode* made = nullptr;
    switch (tree_.Kind(node)) {
      case XmlKind::Element: made = xmlNewDocNode(doc_.get(), nullptr, X(""), nullptr); break;
      case XmlKind::Text: made = NewText(tree_.Value(node)); break;
      case XmlKind::Comment: made = xmlNewDocComment(doc_.get(), X(std::string(tree_.Value(node)))); break;
      case XmlKind::Instruction:
        made = xmlNewDocPI(doc_.get(), X(std::string(tree_.Name(node))), X(std::string(tree_.Value(node))));
        break;
      default: return nullptr;  // a document type declaration, an unexpanded reference
    }
    if (!made) throw std::bad_alloc();
    made = xmlAddChild(into, made);
    if (!made) throw std::bad_alloc();
    if (made->type == XML_ELEMENT_NODE) FillElement(made, node);
    return made;
  }

  xmlNode* NewText(std::string_view text) {
    xmlNode* made = xmlNewDocTextLen(doc_.get(), reinterpret_cast<const xmlChar*>(text.data()),
                                     static_cast<int>(std::min<std::size_t>(text.size(), INT32_MAX)));
    if (!made) throw std::bad_alloc();
    return made;
  }

  // Names, attributes and the element's own text, which comes before its
  // children.
  void FillElement(xmlNode* made, XmlId node) {
    made->_private = reinterpret_cast<void*>(static_cast<std::uintptr_t>(node));
    std::string local;
    made->ns = Namespace(node, tree_.Name(node), local);
    xmlNodeSetName(made, X(local));
    for (XmlAttrId a = tree_.FirstAttribute(node); a; a = tree_.NextAttribute(a)) {
      const std::string_view name = tree_.AttributeName(a);
      // Namespace declarations are no attributes in XPath.
      if (name == "xmlns" || name.starts_with("xmlns:")) continue;
      xmlNs* ns = Namespace(node, name, local);
      if (!xmlNewNsProp(made, ns, X(local), X(std::string(tree_.AttributeValue(a))))) throw std::bad_alloc();
    }
    if (const std::string_view text = tree_.Value(node); !text.empty()) xmlAddChild(made, NewText(text));
  }

  // The namespace of a name written "prefix:local" (sets `local`): one per
  // prefix, bound to the URI the first element using it declares for it, or
  // to a made-up one; nullptr for a name without a prefix.
  xmlNs* Namespace(XmlId element, std::string_view name, std::string& local) {
    const std::size_t colon = name.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == name.size() || name.substr(0, 5) == "xmlns") {
      local = name;
      return nullptr;
    }
    local = name.substr(colon + 1);
    std::string prefix(name.substr(0, colon));
    if (prefix == "xml") return xmlSearchNs(doc_.get(), root_, X("xml"));
    auto it = prefixes_.find(prefix);
    if (it != prefixes_.end()) return it->second;
    std::string uri = "urn:quillmark:prefix:" + prefix;
    const std::string declaration = "xmlns:" + prefix;
    for (XmlId up = element; up && tree_.Kind(up) == XmlKind::Element; up = tree_.Parent(up)) {
      if (const XmlAttrId a = tree_.FindAttribute(up, declaration)) {
        uri = tree_.AttributeValue(a);
        break;
      }
    }
    xmlNs* ns = xmlNewNs(root_, X(uri), X(prefix));
    if (!ns) throw std::bad_alloc();
    return prefixes_.emplace(std::move(prefix), ns).first->second;
  }

  const XmlTree& tree_;
  std::unique_ptr<xmlDoc, FreeDoc> doc_;
  xmlNode* root_ = nullptr;
  xmlNode* context_ = nullptr;
  std::map<std::string, xmlNs*> prefixes_;
};

[[noreturn]] void RaiseBadExpression(std::string_view xpath, const std::string& why) {
  throw Error(ERR_General, errc::invalid_argument, frame::DefaultSource("XML"),
              "Cannot evaluate the XPath expression " + frame::Quoted(xpath) + (why.empty() ? "" : ": " + why));
}

// libxml2 also reports some errors (an unknown function) through its
// generic handler, which would print them; while an expression runs, this
// thread's handler drops them (the structured error has them too).
class QuietGenericErrors {
 public:
  QuietGenericErrors() : handler_(xmlGenericError), context_(xmlGenericErrorContext) {
    xmlSetGenericErrorFunc(nullptr, &Drop);
  }
  QuietGenericErrors(const QuietGenericErrors&) = delete;
  QuietGenericErrors& operator=(const QuietGenericErrors&) = delete;
  ~QuietGenericErrors() { xmlSetGenericErrorFunc(context_, handler_); }

 private:
  static void Drop(void*, const char*, ...) {}
  xmlGenericErrorFunc handler_;
  void* context_;
};

// What went wrong, from libxml2's code for the first error (its XPath
// errors carry no message): "undefined variable at 10" (the byte of the
// expression where it stopped, from 0).
void KeepFirstError(void* data, xmlError* error) {
  static constexpr const char* kWhat[] = {
      "",
      "bad number",
      "unfinished literal",
      "a literal was expected",
      "a variable name was expected",
      "undefined variable",
      "invalid predicate",
      "invalid expression",
      "missing closing brace",
      "unknown function",
      "invalid operand",
      "invalid type",
      "wrong number of arguments",
      "invalid context size",
      "invalid context position",
      "out of memory",
      "syntax error",
      "resource error",
      "sub-resource error",
      "undefined namespace prefix",
      "encoding error",
      "a character outside XML's range",
      "invalid context",
      "stack usage error",
      "forbidden variable",
      "it takes too many steps",
      "nested too deeply",
  };
  auto& message = *static_cast<std::string*>(data);
  if (!message.empty() || !error) return;
  const int what = error->code - XML_XPATH_EXPRESSION_OK;
  if (what <= 0 || what >= static_cast<int>(std::size(kWhat))) message = "error " + std::to_string(error->code);
  else message = kWhat[what];
  if (error->int1 > 0) message += " at " + std::to_string(error->int1);
}

using Result = std::unique_ptr<xmlXPathObject, FreeObject>;

// Evaluates `xpath` over the mirror of `context`'s document.
Result Evaluate(const Mirror& mirror, std::string_view xpath) {
  if (xpath.find('\0') != std::string_view::npos) RaiseBadExpression(xpath, "it holds a NUL character");
  std::unique_ptr<xmlXPathContext, FreeContext> context(xmlXPathNewContext(mirror.Doc()));
  if (!context) throw std::bad_alloc();
  std::string message;
  context->error = &KeepFirstError;
  context->userData = &message;
  context->node = mirror.Context();
  context->opLimit = kStepLimit;
  for (const auto& [prefix, ns] : mirror.Prefixes())
    if (xmlXPathRegisterNs(context.get(), X(prefix), ns->href) != 0) throw std::bad_alloc();
  const QuietGenericErrors quiet;
  std::string expression(xpath);
  std::unique_ptr<xmlXPathCompExpr, FreeCompiled> compiled(xmlXPathCtxtCompile(context.get(), X(expression)));
  if (!compiled) RaiseBadExpression(xpath, message);
  if (expression.find_first_of("[(@") == std::string::npos) {
    // libxml2 runs such a plain path ("//line") on its streaming matcher,
    // which stops 10,000 levels down; the same expression in parentheses
    // runs on the full engine.
    expression = "(" + expression + ")";
    compiled.reset(xmlXPathCtxtCompile(context.get(), X(expression)));
    if (!compiled) RaiseBadExpression(xpath, message);
  }
  Result result(xmlXPathCompiledEval(compiled.get(), context.get()));
  if (!result) RaiseBadExpression(xpath, message);
  return result;
}

}  // namespace

std::vector<XmlId> XPathSelect(const XmlTree& tree, XmlId context, std::string_view xpath) {
  const Mirror mirror(tree, context);
  xmlXPathOrderDocElems(mirror.Doc());
  const Result result = Evaluate(mirror, xpath);
  if (result->type != XPATH_NODESET) RaiseBadExpression(xpath, "it gives no node-set");
  std::vector<XmlId> elements;
  xmlNodeSet* nodes = result->nodesetval;
  if (!nodes) return elements;
  xmlXPathNodeSetSort(nodes);
  elements.reserve(static_cast<std::size_t>(nodes->nodeNr));
  for (int i = 0; i < nodes->nodeNr; ++i) {
    const xmlNode* node = nodes->nodeTab[i];
    if (node->type == XML_ELEMENT_NODE)
      elements.push_back(static_cast<XmlId>(reinterpret_cast<std::uintptr_t>(node->_private)));
  }
  return elements;
}

std::string XPathString(const XmlTree& tree, XmlId context, std::string_view xpath) {
  const Mirror mirror(tree, context);
  xmlXPathOrderDocElems(mirror.Doc());
  const Result result = Evaluate(mirror, xpath);
  const std::unique_ptr<xmlChar, FreeString> text(xmlXPathCastToString(result.get()));
  if (!text) throw std::bad_alloc();
  return reinterpret_cast<const char*>(text.get());
}

}  // namespace qm::detail

namespace qm {

std::vector<XmlElement> XmlSelect(const XmlElement& context, std::string_view xpath) {
  const detail::XmlHandle& handle = detail::XmlElementAccess::Handle(context);
  const std::vector<detail::XmlId> found = detail::XPathSelect(handle.Tree(), handle.Node(), xpath);
  std::vector<XmlElement> elements;
  elements.reserve(found.size());
  for (const detail::XmlId node : found) elements.push_back(detail::XmlElementAccess::Make(handle.Store(), node));
  return elements;
}

std::string XmlEvaluate(const XmlElement& context, std::string_view xpath) {
  const detail::XmlHandle& handle = detail::XmlElementAccess::Handle(context);
  return detail::XPathString(handle.Tree(), handle.Node(), xpath);
}

}  // namespace qm
