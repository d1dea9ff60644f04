#include "quillmark/html/PrintSettings.h"

#include "frame/PrivateState.h"
#include "quillmark/frame/Frame.h"

namespace qm {

struct PrintSettings::Impl {
  std::string header{};
  std::string footer{};
  PageOrientationConstants orientation = PageOrientationConstants{0};
  double top = 0;
  double bottom = 0;
  double left = 0;
  double right = 0;
  bool headerSet = false;
  bool footerSet = false;
  bool orientationSet = false;
  bool marginsSet = false;
};

PrintSettings::Impl& PrintSettings::State() { return frame::WritableState(impl_); }

const PrintSettings::Impl& PrintSettings::State() const { return frame::ReadableState(impl_); }

PrintSettings::PrintSettings(const PrintSettings& other)
    : Object(other), DispatchTable<PrintSettings>(other), impl_(frame::CopiedState(other.impl_)) {}
PrintSettings& PrintSettings::operator=(const PrintSettings& other) {
  if (this != &other) impl_ = frame::CopiedState(other.impl_);
  return *this;
}
PrintSettings::PrintSettings(PrintSettings&&) noexcept = default;
PrintSettings& PrintSettings::operator=(PrintSettings&&) noexcept = default;
PrintSettings::~PrintSettings() = default;
PrintSettings::PrintSettings() : impl_(std::make_unique<Impl>()) {}

void PrintSettings::SetHeader(const std::string& Header) {
  QM_FRAME_TRY {
    State().header = Header;
    State().headerSet = true;
  }
  QM_FRAME_CATCH("PrintSettings", "Public Sub SetHeader", Header);
}

void PrintSettings::SetFooter(const std::string& Footer) {
  QM_FRAME_TRY {
    State().footer = Footer;
    State().footerSet = true;
  }
  QM_FRAME_CATCH("PrintSettings", "Public Sub SetFooter", Footer);
}

void PrintSettings::SetOrientation(PageOrientationConstants Orientation) {
  QM_FRAME_TRY {
    State().orientation = Orientation;
    State().orientationSet = true;
  }
  QM_FRAME_CATCH("PrintSettings", "Public Sub SetOrientation", Orientation);
}

void PrintSettings::SetMargins(double Top, double Left, double Right, double Bottom) {
  QM_FRAME_TRY {
    State().top = Top;
    State().left = Left;
    State().right = Right;
    State().bottom = Bottom;
    State().marginsSet = true;
  }
  QM_FRAME_CATCH("PrintSettings", "Public Sub SetMargins", Top, Left, Right, Bottom);
}

// The getters cannot fail; their frames are kept for the uniform trail.
double PrintSettings::BottomMargin() const {
  QM_FRAME_TRY { return State().bottom; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get BottomMargin");
}
double PrintSettings::TopMargin() const {
  QM_FRAME_TRY { return State().top; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get TopMargin");
}
double PrintSettings::LeftMargin() const {
  QM_FRAME_TRY { return State().left; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get LeftMargin");
}
double PrintSettings::RightMargin() const {
  QM_FRAME_TRY { return State().right; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get RightMargin");
}
PageOrientationConstants PrintSettings::Orientation() const {
  QM_FRAME_TRY { return State().orientation; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get Orientation");
}
const std::string& PrintSettings::Header() const {
  QM_FRAME_TRY { return State().header; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get Header");
}
const std::string& PrintSettings::Footer() const {
  QM_FRAME_TRY { return State().footer; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get Footer");
}
bool PrintSettings::HeaderSet() const {
  QM_FRAME_TRY { return State().headerSet; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get HeaderSet");
}
bool PrintSettings::FooterSet() const {
  QM_FRAME_TRY { return State().footerSet; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get FooterSet");
}
bool PrintSettings::MarginsSet() const {
  QM_FRAME_TRY { return State().marginsSet; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get MarginsSet");
}
bool PrintSettings::OrientationSet() const {
  QM_FRAME_TRY { return State().orientationSet; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get OrientationSet");
}

void PrintSettings::Describe(Members& m) {
  using Args = std::vector<Variant>;
  auto arg = [](Args& a, std::size_t i) -> const Variant& {
    if (i >= a.size()) Raise(ERR_InvalidProcedureCall);
    return a[i];
  };
  m.Class("PrintSettings")
      .Method("SetHeader",
              [arg](PrintSettings& s, Args& a) {
                s.SetHeader(CStr(arg(a, 0)));
                return Variant();
              })
      .Method("SetFooter",
              [arg](PrintSettings& s, Args& a) {
                s.SetFooter(CStr(arg(a, 0)));
                return Variant();
              })
      .Method("SetOrientation",
              [arg](PrintSettings& s, Args& a) {
                s.SetOrientation(PageOrientationConstants{CLng(arg(a, 0))});
                return Variant();
              })
      .Method("SetMargins",
              [arg](PrintSettings& s, Args& a) {
                s.SetMargins(CDbl(arg(a, 0)), CDbl(arg(a, 1)), CDbl(arg(a, 2)), CDbl(arg(a, 3)));
                return Variant();
              })
      .ReadOnly("BottomMargin", &PrintSettings::BottomMargin)
      .ReadOnly("TopMargin", &PrintSettings::TopMargin)
      .ReadOnly("LeftMargin", &PrintSettings::LeftMargin)
      .ReadOnly("RightMargin", &PrintSettings::RightMargin)
      .ReadOnly("Orientation", &PrintSettings::OrientationNumber)
      .ReadOnly("Header", &PrintSettings::Header)
      .ReadOnly("Footer", &PrintSettings::Footer)
      .ReadOnly("HeaderSet", &PrintSettings::HeaderSet)
      .ReadOnly("FooterSet", &PrintSettings::FooterSet)
      .ReadOnly("MarginsSet", &PrintSettings::MarginsSet)
      .ReadOnly("OrientationSet", &PrintSettings::OrientationSet);
}

}  // namespace qm
