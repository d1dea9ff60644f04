#pragma once
// qm::XML: a small, forgiving interface to one element of an XML tree.
//
//   auto doc = std::make_shared<qm::XML>();
//   if (doc->LoadFile("orders.xml")) {                 // doc is "XmlRoot", the file's root its child
//     auto orders = doc->GetNextTag();                  // the file's root element
//     for (auto order = orders->GetNextTag("order"); order;
//          order = orders->GetNextTag("order", order->NextPosition()))
//       total += qm::Val(order->ChildValue("amount", "0"));
//   }
//
// Navigation hands out new XML objects that stand for the same elements as
// their parent's tree, so a change through one is seen through the other.
// Reading a missing value gives the caller's default. Loading wraps the
// document's root in a synthetic level ("XmlRoot" for files, the caller's tag
// for strings) that saving removes again. Files are written in UTF-8.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/automation/XmlNode.h"
#include "quillmark/values/Object.h"

namespace qm {

/// A small, forgiving interface to one element of an XML tree: loading,
/// walking children by tag, reading and writing values; see the file's notes.
class QUILLMARK_EXPORT XML : public Object {
 public:
  /// A wrapper around a new, empty element.
  XML();

 private:
  struct Wrap {};

 public:
  /// A wrapper around an existing element (used by navigation).
  XML(Wrap, XmlNodePtr Node, std::int32_t Position);

  std::string ClassName() const override { return "XML"; }

  /// Always false.
  bool Comment() const;
  /// Always false.
  bool Directive() const;
  /// The element's tag.
  std::string Name() const;
  /// The element's text, or sDefault when it has none.
  std::string Value(const std::string& sDefault = {}) const;
  /// Sets the element's text (the `Value` property's assignment; sDefault has
  /// no effect).
  void LetValue(const std::string& NewValue, const std::string& sDefault = {});
  /// The text of the first child named sChildName, or sDefault when that is
  /// empty or there is no such child.
  std::string ChildValue(const std::string& sChildName, const std::string& sDefault = {}) const;
  /// True when the element has at least one child element.
  bool HasChildren() const;
  /// The number of children, or of children named sName when it is not empty.
  std::int32_t ChildCount(const std::string& sName = {}) const;

  /// Writes the element (for "XmlRoot", its first child) to sFilename in
  /// UTF-8. False when there is nothing to save or anything fails; never
  /// raises.
  bool SaveFile(const std::string& sFilename);
  /// Tags this element "XmlRoot" and appends the file's root element as a new
  /// last child. The file is read as a conformant XML parser reads it, in the
  /// encoding its byte-order mark or declaration names; nothing it refers to
  /// is fetched. False for an empty file or one that is not well-formed; a
  /// missing file raises 53.
  bool LoadFile(const std::string& sFilename);
  /// The element and its subtree as XML text.
  std::string Render() const;

  /// The StartPosition-th child (named sTagName when it is not empty), or
  /// nullptr when there are no more. Continue with the result's NextPosition.
  std::shared_ptr<XML> GetNextTag(const std::string& sTagName = {}, std::int32_t StartPosition = 0) const;
  /// The position after this element among the children it was counted with.
  std::int32_t NextPosition() const;
  /// The component element this wrapper stands for.
  XmlNodePtr ChilkatXML() const;

  /// Replaces the element by a new one with that tag and text.
  void Create(const std::string& sTagName, const std::string& sTagValue = {});
  /// Sets the tag, then the text.
  void SetData(const std::string& sTagName, const std::string& sTagValue = {});
  /// Adds the attribute (a second one of the same name replaces the value).
  void AddAtribute(const std::string& AttributeName, const std::string& Value = {});
  /// The attribute's value; "" when there is none.
  std::string GetAttribute(const std::string& AttributeName) const;
  /// Appends a deep copy of Child's element: later changes to either side
  /// leave the other alone.
  void AddChildXML(const XML& Child);
  /// Appends a new child with that tag and text.
  void AddChildData(const std::string& sTagName, const std::string& sTagValue = {});
  /// Parses sData (UTF-8, whatever it declares); the element then has the
  /// tag sName and the parsed root as its only child. Text that is not
  /// well-formed raises 11000 with "line L, column C: reason" and leaves the
  /// element unchanged.
  void LoadFromString(const std::string& sData, const std::string& sName);

 private:
  // Replace the wrapped element, set the position (members of the library's
  // own use).
  void SetChilkatXML(XmlNodePtr Node);
  void SetCurrentPosition(std::int32_t Position);

  XmlNodePtr node_;
  std::int32_t position_ = 0;
};

/// A shared reference to an XML element.
using XMLPtr = std::shared_ptr<XML>;

}  // namespace qm
