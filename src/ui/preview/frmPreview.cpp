#include "ui/preview/frmPreview.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>
#include <algorithm>

#include "quillmark/frame/Frame.h"
#include "quillmark/ui/Application.h"
#include "quillmark/ui/Control.h"
#include "quillmark/ui/Layout.h"
#include "quillmark/values/Conversions.h"
#include "ui/FormDialog.h"
#include "ui/preview/HTMLPreview.h"
#include "ui/preview/WebView.h"

namespace qm::ui {

// The form's window: sizes the control on every resize.
class PreviewWindow : public FormDialog {
 public:
  PreviewWindow(frmPreview& form, double width, double height)
      : FormDialog("frmPreview", "Preview", width, height), form_(form) {}

 protected:
  void resizeEvent(QResizeEvent* event) override {
    FormDialog::resizeEvent(event);
    RunHandler([this] { form_.Form_Resize(); });
  }

 private:
  frmPreview& form_;
};

namespace {

// Where the control sits on the form, and its design size, in twips.
constexpr double kControlLeft = 60, kControlTop = 60;
constexpr double kControlWidth = 6015, kControlHeight = 4335;

}  // namespace

frmPreview& frmPreview::Instance() {
  static frmPreview form;
  return form;
}

frmPreview::~frmPreview() = default;

double frmPreview::ControlWidth(double clientWidth, double controlLeft) {
  return std::max(1.0, clientWidth - CDbl(Layout::LAYOUT_WIDTH_PAD()) - controlLeft);
}

double frmPreview::ControlHeight(double clientHeight, double controlTop) {
  return std::max(1.0, clientHeight - Layout::LAYOUT_HEIGHT_PAD() - controlTop);
}

void frmPreview::Load() {
  if (window_) return;
  EnsureApplication();
  // The design size fits the control with its pads; a preview opens larger,
  // at three quarters of the screen, when the screen allows.
  double width = kControlLeft + kControlWidth + CDbl(Layout::LAYOUT_WIDTH_PAD());
  double height = kControlTop + kControlHeight + Layout::LAYOUT_HEIGHT_PAD();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    width = std::max(width, area.width() * 0.75 * TwipsPerPixelX());
    height = std::max(height, area.height() * 0.75 * TwipsPerPixelY());
  }
  window_ = std::make_unique<PreviewWindow>(*this, width, height);
  preview_ = new HTMLPreview(window_.get());
  SetTwips(*preview_, {kControlLeft, kControlTop, kControlWidth, kControlHeight});
  preview_->Closed = [this] {
    if (window_) window_->done(0);
  };
  Form_Resize();
}

void frmPreview::Unload() {
  preview_ = nullptr;
  window_.reset();
}

void frmPreview::Form_Resize() {
  QM_FRAME_TRY {
    if (!window_ || !preview_) return;
    const TwipRect client{0, 0, window_->width() * TwipsPerPixelX(), window_->height() * TwipsPerPixelY()};
    const TwipRect control = GetTwips(*preview_);
    SetWidth(*preview_, ControlWidth(client.Width, control.Left));
    SetHeight(*preview_, ControlHeight(client.Height, control.Top));
  }
  QM_FRAME_CATCH("frmPreview", "Private Sub Form_Resize");
}

void frmPreview::ShowModally() {
  // The window goes when the call ends, however it ends.
  struct UnloadAtEnd {
    frmPreview& Form;
    ~UnloadAtEnd() { Form.Unload(); }
  } unload{*this};
  preview_->webView->setFocus();
  ShowModal(*window_);
}

void frmPreview::Use(const std::string& Filename, const std::shared_ptr<PrintSettings>& Settings,
                     std::int16_t displayButtons) {
  QM_FRAME_TRY {
    Load();
    try {
      preview_->OpenDoc(Filename, Settings);
      if (displayButtons == 1) preview_->displayPrintButtonOnly();
      else if (displayButtons == 2) preview_->displayNoButtons();
    } catch (...) {
      Unload();
      throw;
    }
    ShowModally();
  }
  QM_FRAME_CATCH("frmPreview", "Public Sub Use", Filename, Settings, displayButtons);
}

void frmPreview::DoPrint(const std::string& Filename, const std::shared_ptr<PrintSettings>& Settings) {
  QM_FRAME_TRY {
    Load();
    try {
      preview_->OpenDoc(Filename, Settings);
    } catch (...) {
      Unload();
      throw;
    }
    // Once the window is up: the print dialog, then the window closes.
    QTimer::singleShot(0, window_.get(), [this] {
      if (!preview_) return;
      if (preview_->webView->PrintWithDialog() && preview_->Printed) preview_->Printed();
      if (window_) window_->done(0);
    });
    ShowModally();
  }
  QM_FRAME_CATCH("frmPreview", "Public Sub DoPrint", Filename, Settings);
}

}  // namespace qm::ui
