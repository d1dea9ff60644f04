#pragma once
// libxml2 as the second reader that XML tests and the XML fuzz target compare
// with, and a text form of what it read.

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <map>
#include <memory>
#include <string>

namespace qm::test {

// libxml2 reading as a non-validating parser that fetches nothing: entities
// substituted, DTD attribute defaults applied, no namespace processing.
// No external subset and no external entity is read (per parser, through
// its SAX handlers). `encoding` forces one, as for text.
using XmlDoc = std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)>;
inline XmlDoc Libxml2Read(const std::string& bytes, const std::string& url, const char* encoding = nullptr,
                          std::string* error = nullptr) {
  std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> context(xmlNewParserCtxt(), &xmlFreeParserCtxt);
  context->sax->externalSubset = nullptr;
  // DTD warnings (validity matters) are not printed.
  context->vctxt.error = nullptr;
  context->vctxt.warning = nullptr;
  context->sax->resolveEntity = [](void*, const xmlChar*, const xmlChar*) -> xmlParserInputPtr { return nullptr; };
  XmlDoc doc(xmlCtxtReadMemory(context.get(), bytes.data(), static_cast<int>(bytes.size()), url.c_str(), encoding,
                               XML_PARSE_NOENT | XML_PARSE_DTDATTR | XML_PARSE_SAX1 | XML_PARSE_NONET |
                                   XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
             &xmlFreeDoc);
  if (error && context->lastError.message) *error = context->lastError.message;
  if (doc && !context->wellFormed) doc.reset();
  return doc;
}

// The element as text that leaves out comments, instructions, the order of
// attributes and blank text between elements of element-only content.
inline void Canonical(xmlNodePtr element, std::string& out) {
  const auto text = [](const xmlChar* chars) { return std::string(chars ? reinterpret_cast<const char*>(chars) : ""); };
  const auto isText = [](xmlNodePtr node) {
    return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE;
  };
  std::map<std::string, std::string> attributes;
  for (xmlAttrPtr a = element->properties; a; a = a->next) {
    xmlChar* value = xmlNodeListGetString(element->doc, a->children, 1);
    attributes[text(a->name)] = text(value);
    xmlFree(value);
  }
  out += "<" + text(element->name);
  for (const auto& [name, value] : attributes) out += " " + name + "=[" + value + "]";
  out += ">";
  // Blank text counts only where no element is, or where other text or a
  // reference makes the content mixed.
  bool elements = false, mixed = false;
  for (xmlNodePtr child = element->children; child; child = child->next) {
    elements = elements || child->type == XML_ELEMENT_NODE;
    mixed = mixed || child->type == XML_ENTITY_REF_NODE ||
            (isText(child) && text(child->content).find_first_not_of(" \t\r\n") != std::string::npos);
  }
  for (xmlNodePtr child = element->children; child; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) Canonical(child, out);
    else if (child->type == XML_ENTITY_REF_NODE) out += "&" + text(child->name) + ";";
    else if (isText(child) && (!elements || mixed)) out += text(child->content);
  }
  out += "</" + text(element->name) + ">";
}

inline std::string Canonical(const XmlDoc& doc) {
  std::string out;
  Canonical(xmlDocGetRootElement(doc.get()), out);
  return out;
}

}  // namespace qm::test
