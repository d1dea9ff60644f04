#include "quillmark/automation/XML.h"

#include <memory>
#include <utility>

#include "automation/XmlStore.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/frame/QMGLobal.h"

namespace qm {
namespace {

constexpr const char* kModule = "XML";
constexpr const char* kFileRootTag = "XmlRoot";

}  // namespace

XML::XML() {
  QM_FRAME_TRY { node_ = std::make_shared<XmlNode>(); }
  QM_FRAME_CATCH(kModule, "Private Sub Class_Initialize");
}

XML::XML(Wrap, XmlNodePtr Node, std::int32_t Position) : node_(std::move(Node)), position_(Position) {}

bool XML::Comment() const {
  QM_FRAME_TRY { return false; }
  QM_FRAME_CATCH(kModule, "Public Property Get Comment");
}

bool XML::Directive() const {
  QM_FRAME_TRY { return false; }
  QM_FRAME_CATCH(kModule, "Public Property Get Directive");
}

std::string XML::Name() const {
  QM_FRAME_TRY { return node_->Tag(); }
  QM_FRAME_CATCH(kModule, "Public Property Get Name");
}

std::string XML::Value(const std::string& sDefault) const {
  QM_FRAME_TRY {
    std::string content = node_->Content();
    return content.empty() ? sDefault : content;
  }
  QM_FRAME_CATCH(kModule, "Public Property Get Value", sDefault);
}

void XML::LetValue(const std::string& NewValue, const std::string& sDefault) {
  QM_FRAME_TRY { node_->SetContent(NewValue); }
  QM_FRAME_CATCH(kModule, "Public Property Let Value", sDefault, NewValue);
}

std::string XML::ChildValue(const std::string& sChildName, const std::string& sDefault) const {
  QM_FRAME_TRY {
    std::string content = node_->GetChildContent(sChildName);
    return content.empty() ? sDefault : content;
  }
  QM_FRAME_CATCH(kModule, "Public Property Get ChildValue", sChildName, sDefault);
}

bool XML::HasChildren() const {
  QM_FRAME_TRY { return node_->NumChildren() >= 1; }
  QM_FRAME_CATCH(kModule, "Public Property Get HasChildren");
}

std::int32_t XML::ChildCount(const std::string& sName) const {
  QM_FRAME_TRY { return sName.empty() ? node_->NumChildren() : node_->NumChildrenHavingTag(sName); }
  QM_FRAME_CATCH(kModule, "Public Property Get ChildCount", sName);
}

// Departs from the call-frame convention: every failure becomes the result
// false, and no error leaves.
bool XML::SaveFile(const std::string& sFilename) {
  try {
    XmlNodePtr source = node_;
    if (node_->Tag() == kFileRootTag) {
      if (node_->NumChildren() == 0) return false;
      source = node_->GetChild(0);
    }
    auto copy = std::make_shared<XmlNode>();
    QMGLobal::Assert(copy->LoadXml(source->GetXml()), "Couldn't copy");
    copy->SetEncoding("utf-8");
    // The component's own answer does not change the result; a file system
    // that fails while the file is written is an error, and gives false.
    if (!copy->SaveXml(sFilename) && copy->SaveFailedWriting()) return false;
    return true;
  } catch (...) {
    return false;
  }
}

bool XML::LoadFile(const std::string& sFilename) {
  QM_FRAME_TRY {
    // Read by the typed layer's reader into a tree of its own, whose root
    // then moves under this element.
    detail::XmlFileRead read = detail::ReadXmlFile(sFilename);
    if (read.Empty) return false;
    node_->SetTag(kFileRootTag);
    if (!read.Read.Root) return false;
    // A node of its own, the only handle on the root, so the smaller side
    // moves rather than the document being copied.
    const XmlNodePtr loaded = AsXmlNode(detail::XmlElementAccess::Make(std::move(read.Store), read.Read.Root));
    node_->AddChildTree(*loaded);
    return true;
  }
  QM_FRAME_CATCH(kModule, "Public Function LoadFile", sFilename);
}

std::string XML::Render() const {
  QM_FRAME_TRY { return node_->GetXml(); }
  QM_FRAME_CATCH(kModule, "Public Function Render");
}

std::shared_ptr<XML> XML::GetNextTag(const std::string& sTagName, std::int32_t StartPosition) const {
  QM_FRAME_TRY {
    const std::int32_t count = sTagName.empty() ? node_->NumChildren() : node_->NumChildrenHavingTag(sTagName);
    if (StartPosition >= count) return nullptr;
    XmlNodePtr child =
        sTagName.empty() ? node_->GetChild(StartPosition) : node_->GetNthChildWithTag(sTagName, StartPosition);
    if (!child) return nullptr;  // a negative position finds no child
    return std::make_shared<XML>(Wrap{}, std::move(child), StartPosition);
  }
  QM_FRAME_CATCH(kModule, "Public Function GetNextTag", sTagName, StartPosition);
}

std::int32_t XML::NextPosition() const {
  QM_FRAME_TRY { return position_ + 1; }
  QM_FRAME_CATCH(kModule, "Public Property Get NextPosition");
}

XmlNodePtr XML::ChilkatXML() const {
  QM_FRAME_TRY { return node_; }
  QM_FRAME_CATCH(kModule, "Public Property Get ChilkatXML");
}

void XML::Create(const std::string& sTagName, const std::string& sTagValue) {
  QM_FRAME_TRY {
    node_ = std::make_shared<XmlNode>();
    SetData(sTagName, sTagValue);
  }
  QM_FRAME_CATCH(kModule, "Public Sub Create", sTagName, sTagValue);
}

void XML::SetData(const std::string& sTagName, const std::string& sTagValue) {
  QM_FRAME_TRY {
    node_->SetTag(sTagName);
    node_->SetContent(sTagValue);
  }
  QM_FRAME_CATCH(kModule, "Public Sub SetData", sTagName, sTagValue);
}

void XML::AddAtribute(const std::string& AttributeName, const std::string& Value) {
  QM_FRAME_TRY { node_->AddAttribute(AttributeName, Value); }
  QM_FRAME_CATCH(kModule, "Public Sub AddAtribute", AttributeName, Value);
}

std::string XML::GetAttribute(const std::string& AttributeName) const {
  QM_FRAME_TRY { return node_->GetAttrValue(AttributeName); }
  QM_FRAME_CATCH(kModule, "Public Function GetAttribute", AttributeName);
}

void XML::AddChildXML(const XML& Child) {
  QM_FRAME_TRY {
    XML parsed;
    parsed.LoadFromString(Child.Render(), Child.Name());
    std::shared_ptr<XML> copy = parsed.GetNextTag(Child.Name(), 0);
    QMGLobal::Assert(copy != nullptr, "Couldn't copy");
    node_->AddChildTree(*copy->ChilkatXML());
  }
  QM_FRAME_CATCH(kModule, "Public Sub AddChildXML", Child);
}

void XML::AddChildData(const std::string& sTagName, const std::string& sTagValue) {
  QM_FRAME_TRY { node_->NewChild(sTagName, sTagValue); }
  QM_FRAME_CATCH(kModule, "Public Sub AddChildData", sTagName, sTagValue);
}

void XML::LoadFromString(const std::string& sData, const std::string& sName) {
  QM_FRAME_TRY {
    detail::XmlFileRead read = detail::ReadXmlText(sData);
    QMGLobal::Assert(read.Read.Root != detail::kNoXml, read.Read.Error);
    node_->RemoveAllChildren();
    node_->SetTag(sName);
    const XmlNodePtr parsed = AsXmlNode(detail::XmlElementAccess::Make(std::move(read.Store), read.Read.Root));
    node_->AddChildTree(*parsed);
  }
  QM_FRAME_CATCH(kModule, "Public Sub LoadFromString", sData, sName);
}

void XML::SetChilkatXML(XmlNodePtr Node) {
  QM_FRAME_TRY {
    if (!Node) Raise(ERR_ObjectNotSet);
    node_ = std::move(Node);
  }
  QM_FRAME_CATCH(kModule, "Friend Sub SetChilkatXML", Node);
}

void XML::SetCurrentPosition(std::int32_t Position) {
  QM_FRAME_TRY { position_ = Position; }
  QM_FRAME_CATCH(kModule, "Friend Sub SetCurrentPosition", Position);
}

}  // namespace qm
