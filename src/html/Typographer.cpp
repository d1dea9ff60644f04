#include "quillmark/html/Typographer.h"

#include <memory>
#include <string>
#include <vector>

#include "frame/PrivateState.h"
#include "html/DocumentFiles.h"
#include "io/System.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/platform/Desktop.h"
#include "quillmark/values/Conversions.h"
#include "runtime/WindowsPath.h"

namespace qm {
namespace {

constexpr const char* kPrintFile = "~tmp2932.html";
constexpr std::int32_t vbInformation = 64;

// "~typo*.bmp", matched without regard to case as the Windows world does.
bool IsLeftoverPicture(const std::string& name) {
  return name.size() >= 9 && EqualsIgnoringCase(name.substr(0, 5), "~TYPO") &&
         EqualsIgnoringCase(name.substr(name.size() - 4), ".BMP");
}

}  // namespace

struct Typographer::Impl {
  std::optional<std::vector<std::string>> images{};  // absent until Initialise
  std::string currentStyle{};
  bool rowOpen = false;
};

Typographer::Impl& Typographer::State() { return frame::WritableState(impl_); }

const Typographer::Impl& Typographer::State() const { return frame::ReadableState(impl_); }

Typographer::Typographer(const Typographer& other)
    : Object(other), sHTML(other.sHTML), impl_(frame::CopiedState(other.impl_)) {}
Typographer& Typographer::operator=(const Typographer& other) {
  if (this != &other) {
    impl_ = frame::CopiedState(other.impl_);
    sHTML = other.sHTML;
  }
  return *this;
}
Typographer::Typographer(Typographer&&) noexcept = default;
Typographer& Typographer::operator=(Typographer&&) noexcept = default;
Typographer::~Typographer() = default;

Typographer::Typographer() : impl_(std::make_unique<Impl>()) {
  QM_FRAME_TRY {
    const std::string temp = TempFolder();
    std::vector<std::string> leftovers;
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(io::sys::OpenDir(temp.c_str()), &io::sys::CloseDir);
    while (const dirent* entry = folder ? io::sys::ReadDir(folder.get()) : nullptr)
      if (IsLeftoverPicture(entry->d_name)) leftovers.push_back(html::JoinPath(temp, entry->d_name));
    for (const std::string& leftover : leftovers) io::sys::Unlink(leftover.c_str());
    io::sys::Unlink(html::JoinPath(temp, kPrintFile).c_str());
  }
  QM_FRAME_CATCH("Typographer", "Private Sub Class_Initialize");
}

void Typographer::LineBreak() {
  QM_FRAME_TRY { AddText("<P></P>"); }
  QM_FRAME_CATCH("Typographer", "Public Sub LineBreak");
}

void Typographer::Initialise(const std::string& sTitle, const std::string& HeadHTML) {
  QM_FRAME_TRY {
    sHTML = "<HTML>\r\n<HEAD>\r\n<TITLE>" + sTitle + "</TITLE>\r\n<STYLE>  H6 { page-break-before: always }</STYLE>" +
            HeadHTML + "\r\n</HEAD>";
    State().images.emplace();
  }
  QM_FRAME_CATCH("Typographer", "Public Sub Initialise", sTitle, HeadHTML);
}

void Typographer::BodyBegin() {
  QM_FRAME_TRY { AddText("<BODY>\r\n"); }
  QM_FRAME_CATCH("Typographer", "Public Sub BodyBegin");
}

void Typographer::Output(const Variant& vText) {
  QM_FRAME_TRY { AddText(CStr(vText)); }
  QM_FRAME_CATCH("Typographer", "Public Sub Output", vText);
}

void Typographer::OutputLine(const Variant& vText) {
  QM_FRAME_TRY { AddText((vText.IsNull() ? std::string() : CStr(vText)) + "<BR>\r\n"); }
  QM_FRAME_CATCH("Typographer", "Public Sub OutputLine", vText);
}

void Typographer::BodyEnd() {
  QM_FRAME_TRY { AddText("</BODY>\r\n"); }
  QM_FRAME_CATCH("Typographer", "Public Sub BodyEnd");
}

void Typographer::Terminate() {
  QM_FRAME_TRY { AddText("</HTML>\r\n"); }
  QM_FRAME_CATCH("Typographer", "Public Sub Terminate");
}

void Typographer::FontBold() {
  QM_FRAME_TRY { AddText("<B>"); }
  QM_FRAME_CATCH("Typographer", "Public Sub FontBold");
}

void Typographer::FontBoldEnd() {
  QM_FRAME_TRY { AddText("</B>"); }
  QM_FRAME_CATCH("Typographer", "Public Sub FontBoldEnd");
}

void Typographer::Small() {
  QM_FRAME_TRY { AddText("<SMALL>"); }
  QM_FRAME_CATCH("Typographer", "Public Sub Small");
}

void Typographer::SmallEnd() {
  QM_FRAME_TRY { AddText("</SMALL>"); }
  QM_FRAME_CATCH("Typographer", "Public Sub SmallEnd");
}

void Typographer::PageBreak() {
  QM_FRAME_TRY { AddText("<H6></H6>"); }
  QM_FRAME_CATCH("Typographer", "Public Sub PageBreak");
}

// Departs from the call-frame convention: errors of saving and showing reach
// the caller as they are, and the scratch folder then stays.
void Typographer::Show() {
  const std::string folder = html::MakePreviewFolder();
  const std::string file = html::JoinPath(folder, kPrintFile);
  SaveAs(file);
  platform::PreviewRequest request;
  request.HtmlFile = file;
  request.Caption = "Preview";
  platform::Current().ShowPreview(request);
  html::RemoveFolder(folder);
}

// Departs from the call-frame convention: nothing is raised, a failure is
// shown in a message box instead.
void Typographer::PrintOut() {
  try {
    const std::string file = html::JoinPath(TempFolder(), kPrintFile);
    ToFile(file);
    platform::Current().PrintDetached(file);
  } catch (const Error& e) {
    platform::Current().MessageBox("Quillmark Library (PrintOut) : " + e.Description(), vbInformation, "");
  } catch (const std::exception& e) {
    platform::Current().MessageBox(std::string("Quillmark Library (PrintOut) : ") + e.what(), vbInformation, "");
  }
}

void Typographer::Para(AlignmentConstants Alignment) {
  QM_FRAME_TRY {
    switch (Alignment) {
      case vbLeftJustify: AddText("<p>"); break;
      case vbRightJustify: AddText("<p align=right style='text-align:right'>"); break;
      case vbCenter: AddText("<p align=center style='text-align:center'>"); break;
      default: break;
    }
  }
  QM_FRAME_CATCH("Typographer", "Public Sub Para", Alignment);
}

void Typographer::StyleBegin(tyStyles iStyle) {
  QM_FRAME_TRY {
    if (!State().currentStyle.empty()) StyleEnd();
    if (iStyle >= tyHeading1 && iStyle <= tyHeading4) State().currentStyle = "H" + std::to_string(iStyle);
    AddText("<" + State().currentStyle + ">");
  }
  QM_FRAME_CATCH("Typographer", "Public Sub StyleBegin", iStyle);
}

void Typographer::StyleEnd() {
  QM_FRAME_TRY {
    AddText("</" + State().currentStyle + ">");
    State().currentStyle.clear();
  }
  QM_FRAME_CATCH("Typographer", "Public Sub StyleEnd");
}

void Typographer::SaveAs(const std::string& sFilename) {
  QM_FRAME_TRY {
    html::CopyPictures(Images(), sFilename);
    ToFile(sFilename);
  }
  QM_FRAME_CATCH("Typographer", "Public Sub SaveAs", sFilename);
}

void Typographer::TableBegin(const std::optional<Variant>& BorderWidth, const std::optional<Variant>& Padding,
                             const std::optional<Variant>& Percent, const std::string& Tag) {
  QM_FRAME_TRY {
    auto given = [](const std::optional<Variant>& v) { return v.has_value() && v->IsNumeric(); };
    std::string fragment = "<TABLE ";
    if (given(BorderWidth)) fragment += " border=" + CStr(*BorderWidth);
    if (given(Padding)) fragment += " cellPadding=" + CStr(*Padding);
    if (given(Percent)) fragment += " width=\"" + CStr(*Percent) + "%\"";
    AddText(fragment + " " + Tag + ">");
  }
  QM_FRAME_CATCH("Typographer", "Public Sub TableBegin", BorderWidth, Padding, Percent, Tag);
}

void Typographer::TableEnd() {
  QM_FRAME_TRY {
    if (State().rowOpen) TableRowEnd();
    AddText("</TABLE>");
  }
  QM_FRAME_CATCH("Typographer", "Public Sub TableEnd");
}

void Typographer::TableRowBegin() {
  QM_FRAME_TRY {
    if (State().rowOpen) TableRowEnd();
    AddText("<TR>");
    State().rowOpen = true;
  }
  QM_FRAME_CATCH("Typographer", "Public Sub TableRowBegin");
}

void Typographer::TableElement(const std::string& sText, const std::optional<AlignmentConstants>& Align,
                               const std::optional<Variant>& vWidth) {
  QM_FRAME_TRY {
    if (!State().rowOpen) TableRowBegin();
    AddText("<TD valign=top ");
    switch (Align.value_or(vbLeftJustify)) {
      case vbLeftJustify: AddText(" align=left "); break;
      case vbRightJustify: AddText(" align=right "); break;
      case vbCenter: AddText(" align=center "); break;
      default: break;
    }
    if (vWidth) AddText(" Width=" + CStr(*vWidth) + "% ");
    AddText(">");
    AddText(sText);
    AddText("</TD>");
  }
  QM_FRAME_CATCH("Typographer", "Public Sub TableElement", sText, Align, vWidth);
}

void Typographer::TableElementEx(const std::string& sText, const std::string& Tag) {
  QM_FRAME_TRY {
    if (!State().rowOpen) TableRowBegin();
    AddText("<TD valign=top " + Tag + ">");
    AddText(sText);
    AddText("</TD>");
  }
  QM_FRAME_CATCH("Typographer", "Public Sub TableElementEx", sText, Tag);
}

void Typographer::ImageFile(const std::string& sFilename, std::int16_t iBorderWidth, std::optional<std::int32_t> Width,
                            std::optional<std::int32_t> Height) {
  QM_FRAME_TRY {
    Images().push_back(sFilename);
    std::string fragment =
        "<IMG alt=\"\" src=\"" + detail::FileNamePart(sFilename) + "\" border=" + std::to_string(iBorderWidth);
    const std::int32_t width = Width.value_or(0), height = Height.value_or(0);
    if (width != 0 && height != 0) fragment += " width=" + std::to_string(width) + " height= " + std::to_string(height);
    AddText(fragment + ">");
  }
  QM_FRAME_CATCH("Typographer", "Public Sub ImageFile", sFilename, iBorderWidth, Width, Height);
}

void Typographer::TableRowEnd() {
  QM_FRAME_TRY {
    AddText("</TR>");
    State().rowOpen = false;
  }
  QM_FRAME_CATCH("Typographer", "Public Sub TableRowEnd");
}

void Typographer::AddText(const std::string& Text) {
  QM_FRAME_TRY {
    sHTML += Text;
    sHTML += "\r\n";
  }
  QM_FRAME_CATCH("Typographer", "Private Sub AddText", Text);
}

void Typographer::ToFile(const std::string& sFilename) {
  QM_FRAME_TRY {
    if (!sFilename.empty()) html::WriteDocument(sFilename, sHTML);
  }
  QM_FRAME_CATCH("Typographer", "Private Sub ToFile", sFilename);
}

std::vector<std::string>& Typographer::Images() {
  if (!State().images) Raise(ERR_ObjectNotSet);
  return *State().images;
}

}  // namespace qm
