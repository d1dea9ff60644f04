#pragma once
// libxml2 as the second reader that XML tests and the XML fuzz target compare
// with, and a text form of what it read.

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

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
  out += "<";
  out += reinterpret_cast<const char*>(element->name);
  std::map<std::string, std::string> attributes;
  for (xmlAttrPtr a = element->properties; a; a = a->next) {
    xmlChar* value = xmlNodeListGetString(element->doc, a->children, 1);
    attributes[reinterpret_cast<const char*>(a->name)] = value ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
  }
  for (const auto& [name, value] : attributes) out += " " + name + "=[" + value + "]";
  out += ">";
  struct Item {
    xmlNodePtr Element = nullptr;
    std::string Text;
    bool Reference = false;
  };
  std::vector<Item> items;
  bool elements = false, text = false;
  for (xmlNodePtr child = element->children; child; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) {
      items.push_back({child, {}, false});
      elements = true;
    } else if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
      const std::string piece = child->content ? reinterpret_cast<const char*>(child->content) : "";
      if (items.empty() || items.back().Element || items.back().Reference) items.push_back({});
      items.back().Text += piece;
    } else if (child->type == XML_ENTITY_REF_NODE) {
      items.push_back({nullptr, std::string("&") + reinterpret_cast<const char*>(child->name) + ";", true});
      text = true;
    }
  }
  for (const Item& item : items)
    if (!item.Element && !item.Reference && item.Text.find_first_not_of(" \t\r\n") != std::string::npos) text = true;
  for (const Item& item : items) {
    if (item.Element) Canonical(item.Element, out);
    else if (item.Reference || !elements || text) out += item.Text;
  }
  out += "</";
  out += reinterpret_cast<const char*>(element->name);
  out += ">";
}

inline std::string Canonical(const XmlDoc& doc) {
  std::string out;
  Canonical(xmlDocGetRootElement(doc.get()), out);
  return out;
}

}  // namespace qm::test
