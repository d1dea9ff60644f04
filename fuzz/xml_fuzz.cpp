// XML loading on arbitrary bytes, against libxml2 as a second conformant
// reader: both must accept or both refuse. For an accepted document, with or
// without a document type, what we save must load again for us to the same
// text, and must read with libxml2 as libxml2 reads the input. Known,
// explained disagreements (docs/automation.md):
//   - expansion past expat's amplification limit: we refuse, libxml2 may not;
//   - NUL bytes after the root element: libxml2 stops reading there, we
//     refuse (U+0000 is no XML character);
//   - a declared encoding: text is UTF-8 whatever it declares, while libxml2
//     refuses an encoding name it does not know;
//   - nesting deeper than libxml2's limit of 256 (without XML_PARSE_HUGE);
//   - names with colons: libxml2 checks them as qualified names even without
//     namespaces, the XML recommendation does not;
//   - "<!DOCTYPEa": libxml2 takes a document type name without the white
//     space XML requires before it, we refuse;
//   - in documents with a DTD, libxml2 turns a carriage return from a
//     character reference in entity text into a line feed, and drops
//     attribute defaults not valid for their type: the content of documents
//     with character references and entity declarations, or with attribute
//     declarations, is not compared;
//   - a document expat refuses for a name character of the fifth edition is
//     read by libxml2, which drops the prefix of an attribute name whose
//     prefix is declared nowhere: the content of documents with colons and
//     characters beyond ASCII is not compared.
// The published wrapper's own contract is checked too: LoadFromString raises
// 11000 or gives a document whose rendering loads again to the same text.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "quillmark/automation/XML.h"
#include "quillmark/automation/XmlNode.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "support/XmlCanonical.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  qm::XmlNode ours;
  const bool accepted = ours.LoadXml(text);
  std::string why;
  const qm::test::XmlDoc theirs = qm::test::Libxml2Read(text, "fuzz.xml", "UTF-8", &why);
  if (accepted != static_cast<bool>(theirs)) {
    const std::size_t doctype = text.find("<!DOCTYPE");
    const bool glued = doctype != std::string::npos && doctype + 9 < text.size() &&
                       std::string_view(" \t\r\n").find(text[doctype + 9]) == std::string_view::npos;
    const bool known = (!accepted && ours.LastErrorText().find("amplification") != std::string::npos) ||
                       (!accepted && glued) || (!accepted && text.find('\0') != std::string::npos) ||
                       (accepted && text.find("encoding") != std::string::npos) ||
                       (accepted && why.find("depth") != std::string::npos) ||
                       (accepted && text.find(':') != std::string::npos);
    if (!known) std::abort();
    return 0;
  }
  if (accepted) {
    // What is saved reads back as it was read, document type and all.
    const std::string saved = ours.GetXml();
    qm::XmlNode back;
    if (!back.LoadXml(saved) || back.GetXml() != saved) std::abort();
    const qm::test::XmlDoc again = qm::test::Libxml2Read(saved, "fuzz.xml", "UTF-8");
    if (!again) std::abort();
    const bool wide = text.find("&#") != std::string::npos || std::any_of(text.begin(), text.end(), [](char c) {
                        return static_cast<unsigned char>(c) >= 0x80;
                      });
    const bool quirks = (text.find("<!ENTITY") != std::string::npos && text.find("&#") != std::string::npos) ||
                        text.find("<!ATTLIST") != std::string::npos || (wide && text.find(':') != std::string::npos);
    if (!quirks && qm::test::Canonical(again) != qm::test::Canonical(theirs)) std::abort();
  }

  qm::XML doc;
  try {
    doc.LoadFromString(text, "Fuzz");
  } catch (const qm::Error& e) {
    if (e.Number() != qm::ERR_ASSERTION) std::abort();
    return 0;
  }
  const std::string rendered = doc.GetNextTag()->Render();
  qm::XML copy;
  copy.LoadFromString(rendered, "Fuzz");  // must not raise
  if (copy.GetNextTag()->Render() != rendered) std::abort();
  return 0;
}
