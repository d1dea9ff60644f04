#include "quillmark/html/PrintSettings.h"

#include "quillmark/frame/Frame.h"

namespace qm {

void PrintSettings::SetHeader(const std::string& Header) {
  QM_FRAME_TRY {
    header_ = Header;
    headerSet_ = true;
  }
  QM_FRAME_CATCH("PrintSettings", "Public Sub SetHeader", Header);
}

void PrintSettings::SetFooter(const std::string& Footer) {
  QM_FRAME_TRY {
    footer_ = Footer;
    footerSet_ = true;
  }
  QM_FRAME_CATCH("PrintSettings", "Public Sub SetFooter", Footer);
}

void PrintSettings::SetOrientation(PageOrientationConstants Orientation) {
  QM_FRAME_TRY {
    orientation_ = Orientation;
    orientationSet_ = true;
  }
  QM_FRAME_CATCH("PrintSettings", "Public Sub SetOrientation", Orientation);
}

void PrintSettings::SetMargins(double Top, double Left, double Right, double Bottom) {
  QM_FRAME_TRY {
    top_ = Top;
    left_ = Left;
    right_ = Right;
    bottom_ = Bottom;
    marginsSet_ = true;
  }
  QM_FRAME_CATCH("PrintSettings", "Public Sub SetMargins", Top, Left, Right, Bottom);
}

// The getters cannot fail; their frames are kept for the uniform trail.
double PrintSettings::BottomMargin() const {
  QM_FRAME_TRY { return bottom_; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get BottomMargin");
}
double PrintSettings::TopMargin() const {
  QM_FRAME_TRY { return top_; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get TopMargin");
}
double PrintSettings::LeftMargin() const {
  QM_FRAME_TRY { return left_; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get LeftMargin");
}
double PrintSettings::RightMargin() const {
  QM_FRAME_TRY { return right_; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get RightMargin");
}
PageOrientationConstants PrintSettings::Orientation() const {
  QM_FRAME_TRY { return orientation_; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get Orientation");
}
const std::string& PrintSettings::Header() const {
  QM_FRAME_TRY { return header_; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get Header");
}
const std::string& PrintSettings::Footer() const {
  QM_FRAME_TRY { return footer_; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get Footer");
}
bool PrintSettings::HeaderSet() const {
  QM_FRAME_TRY { return headerSet_; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get HeaderSet");
}
bool PrintSettings::FooterSet() const {
  QM_FRAME_TRY { return footerSet_; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get FooterSet");
}
bool PrintSettings::MarginsSet() const {
  QM_FRAME_TRY { return marginsSet_; }
  QM_FRAME_CATCH("PrintSettings", "Public Property Get MarginsSet");
}
bool PrintSettings::OrientationSet() const {
  QM_FRAME_TRY { return orientationSet_; }
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
