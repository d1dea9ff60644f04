#include "ui/frmMsgBoxEx.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/platform/Desktop.h"
#include "quillmark/runtime/Settings.h"
#include "quillmark/ui/Application.h"
#include "quillmark/ui/Control.h"
#include "quillmark/ui/Layout.h"
#include "quillmark/values/Conversions.h"
#include "ui/FormDialog.h"

namespace qm::ui {
namespace {

constexpr double kLabelDesignWidth = 5595;

QPixmap IconPixmap(QStyle::StandardPixmap which) {
  const int size = qRound(480 / TwipsPerPixelX());
  return QApplication::style()->standardIcon(which).pixmap(size, size);
}

double Bottom(const QWidget& w) {
  const TwipRect r = GetTwips(w);
  return r.Top + r.Height;
}

// The widest button row that still fits on the screen, in twips: a caption
// longer than that is elided instead of pushing the box off the screen.
double WidestRow() {
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  return available.width() * TwipsPerPixelX() - CDbl(Layout::LAYOUT_WIDTH_PAD()) - Layout::LAYOUT_GAP() - 780;
}

}  // namespace

frmMsgBoxEx::frmMsgBoxEx(Clock clock) : clock_(std::move(clock)) {}
frmMsgBoxEx::~frmMsgBoxEx() = default;

std::string frmMsgBoxEx::DismissalKey(const std::string& Message) { return CharLeft(Message, 200); }

// The form as designed (client area 6630 × 1815).
void frmMsgBoxEx::Load() {
  EnsureApplication();
  form_ = std::make_unique<FormDialog>("frmMsgBoxEx", "Message", 6630, 1815);
  FormDialog& form = *form_;
  imgIcon_ = new QLabel(&form);  // controls are owned by the form
  imgIcon_->setObjectName(QStringLiteral("imgIcon"));
  imgIcon_->setPixmap(IconPixmap(QStyle::SP_MessageBoxInformation));
  SetTwips(*imgIcon_, {120, 180, 480, 480});
  lblMessage_ = form.AddLabel(&form, "lblMessage", "Message", 780, 240, kLabelDesignWidth, 195);
  lblMessage_->setWordWrap(true);
  lblMessage_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  picButtons_ = new QWidget(&form);
  picButtons_->setObjectName(QStringLiteral("picButtons"));
  SetTwips(*picButtons_, {120, 780, 2235, 315});
  cmdButton_ = {form.AddButton(picButtons_, "cmdButton0", "Select", 0, 0)};
  chkDontShowAgain_ = new QCheckBox(QStringLiteral("&Don't show this message in future."), &form);
  chkDontShowAgain_->setObjectName(QStringLiteral("chkDontShowAgain"));
  SetTwips(*chkDontShowAgain_, {60, 1500, 2715, 255});
  timCountdown_ = new QTimer(&form);
  timCountdown_->setObjectName(QStringLiteral("timCountdown"));
  timCountdown_->setInterval(500);
  QObject::connect(chkDontShowAgain_, &QCheckBox::clicked,
                   [this] { RunHandler([this] { chkDontShowAgain_Click(); }); });
  QObject::connect(timCountdown_, &QTimer::timeout, [this] { RunHandler([this] { timCountdown_Timer(); }); });
}

std::int32_t frmMsgBoxEx::Use(const std::string& Message, const std::string& Title, IconConstants Icon,
                              Variant& ButtonCaptions, bool DontShowAgainBoxDisplayed,
                              std::int32_t MaximumSecondsVisible, std::int32_t DefaultButton,
                              const std::string& AppName) {
  QM_FRAME_TRY {
    if (!ButtonCaptions.IsArray()) Raise(ERR_TypeMismatch);
    const std::int32_t upper = ButtonCaptions.Array().UBound(1);
    if (DefaultButton > upper)
      Raise(ERR_General, "Tried to set default button to " + std::to_string(DefaultButton) + " when maximum is " +
                             std::to_string(upper));
    if (DefaultButton < 0)
      Raise(ERR_General, "Tried to set default button to " + std::to_string(DefaultButton) + " when minimum is 0");

    dontShowAgain_ = DontShowAgainBoxDisplayed;
    maximumSeconds_ = MaximumSecondsVisible;
    defaultButton_ = DefaultButton;
    title_ = Title;
    message_ = Message;
    appName_ = AppName;

    // A box the user asked not to see again needs no window: a process
    // without a display gets the default button too.
    if (!CanShowWindows() && GetSetting(AppName, kDismissedSection, DismissalKey(Message), "No") == "Yes")
      return DefaultButton;

    Load();
    UnloadOnExit unload(form_);
    switch (Icon) {
      case ICO_Information: imgIcon_->setPixmap(IconPixmap(QStyle::SP_MessageBoxInformation)); break;
      case ICO_Exclamation: imgIcon_->setPixmap(IconPixmap(QStyle::SP_MessageBoxWarning)); break;
      case ICO_Question: imgIcon_->setPixmap(IconPixmap(QStyle::SP_MessageBoxQuestion)); break;
      case ICO_Critical: imgIcon_->setPixmap(IconPixmap(QStyle::SP_MessageBoxCritical)); break;
      default: break;  // the icon as designed
    }
    form_->setWindowTitle(QString::fromStdString(Title));
    chkDontShowAgain_->setVisible(DontShowAgainBoxDisplayed);
    SetMessage(Message);
    CreateButtons(ButtonCaptions);
    ArrangeElements();
    ResizeForm(DontShowAgainBoxDisplayed);
    start_ = clock_();
    if (MaximumSecondsVisible > 0) timCountdown_->start();

    if (GetSetting(AppName, kDismissedSection, DismissalKey(Message), "No") == "Yes") {
      result_ = DefaultButton;
    } else {
      ShowModal(*form_);
    }
    timCountdown_->stop();
    return result_;
  }
  QM_FRAME_CATCH("MsgBoxEx", "Public Function Use", Message, Title, Icon, ButtonCaptions, DontShowAgainBoxDisplayed,
                 MaximumSecondsVisible, DefaultButton, AppName);
}

// No call frame: an error here ends the procedure with the label as far as
// it was set, and the box goes on.
void frmMsgBoxEx::SetMessage(const std::string& Message) {
  try {
    lblMessage_->setText(QString::fromStdString(Message));
    // Whole pixels, and one more, so that a line measured to fit is not wrapped.
    const double width = TextWidth(*form_, Message) + TwipsPerPixelX();
    if (width < GetTwips(*lblMessage_).Width) SetWidth(*lblMessage_, width);
    FitLabelHeight(*lblMessage_);
  } catch (...) {}
}

void frmMsgBoxEx::CreateButtons(Variant& ButtonCaptions) {
  QM_FRAME_TRY {
    const std::int32_t gap = Layout::LAYOUT_GAP();
    const VariantArray& captions = ButtonCaptions.Array();
    const std::int32_t upper = captions.UBound(1);
    QPushButton& first = *cmdButton_[0];
    for (std::int32_t i = 0; i <= upper; ++i) {
      const double wanted = TextWidth(*form_, CStr(captions(i))) + 3 * gap;
      if (wanted > GetTwips(first).Width) SetWidth(first, wanted);
    }
    // Keep the row on the screen: very long captions are elided.
    const double widest = std::max(1215.0, (WidestRow() - upper * 2.0 * gap) / (upper + 1));
    const bool elide = GetTwips(first).Width > widest;
    if (elide) SetWidth(first, std::floor(widest / TwipsPerPixelX()) * TwipsPerPixelX());
    const TwipRect button = GetTwips(first);

    QWidget* previous = nullptr;
    for (std::int32_t i = 0; i <= upper; ++i) {
      if (i > 0) {
        cmdButton_.push_back(form_->AddButton(picButtons_, "cmdButton" + std::to_string(i), "", button.Left, button.Top,
                                              button.Width, button.Height));
      }
      QPushButton* b = cmdButton_[static_cast<std::size_t>(i)];
      const QString caption = QString::fromStdString(CStr(captions(i)));
      b->setVisible(true);
      if (elide) {
        const int room = b->width() - qRound(3 * gap / TwipsPerPixelX());
        b->setText(QFontMetrics(b->font()).elidedText(caption, Qt::ElideRight, room));
        b->setToolTip(caption);
      } else {
        b->setText(caption);
      }
      if (caption == QLatin1String("Cancel")) form_->SetCancelButton(b);
      if (previous) QWidget::setTabOrder(previous, b);
      previous = b;
      const auto index = static_cast<std::int16_t>(i);
      QObject::connect(b, &QPushButton::clicked,
                       [this, index] { RunHandler([this, index] { cmdButton_Click(index); }); });
    }
    for (std::int32_t i = 0; i <= upper; ++i)
      SetLeft(*cmdButton_[static_cast<std::size_t>(i)], i * (button.Width + 2.0 * gap));
    const QPushButton& last = *cmdButton_.back();
    SetTwips(*picButtons_, {GetTwips(*picButtons_).Left, GetTwips(*picButtons_).Top,
                            GetTwips(last).Left + GetTwips(last).Width, GetTwips(last).Top + GetTwips(last).Height});
    QPushButton* defaultButton = cmdButton_.at(static_cast<std::size_t>(defaultButton_));
    defaultButton->setDefault(true);
    defaultButton->setFocus();
  }
  QM_FRAME_CATCH("MsgBoxEx", "Private Sub CreateButtons", ButtonCaptions);
}

void frmMsgBoxEx::ArrangeElements() {
  QM_FRAME_TRY {
    const std::int32_t gap = Layout::LAYOUT_GAP();
    const double bottom = RoundHalfEven(std::max(Bottom(*lblMessage_), Bottom(*imgIcon_)));
    SetTop(*picButtons_, bottom + 2 * gap);
    const TwipRect row = GetTwips(*picButtons_);
    if (GetTwips(*lblMessage_).Width < row.Width) {
      SetWidth(*lblMessage_, row.Width);
      FitLabelHeight(*lblMessage_);
    }
    // A window manager cuts a caption that is wider than the window: make room
    // for the caption (with the longest countdown text) and the title bar's buttons.
    std::string caption = title_;
    if (maximumSeconds_ > 0) caption += " (" + std::to_string(maximumSeconds_) + " seconds remaining)";
    const double captionRoom = TextWidth(*form_, caption) * 1.15 +
                               3 * platform::Current().Metric(platform::SystemMetric::CaptionHeight) * TwipsPerPixelX();
    const double outside = GetTwips(*lblMessage_).Left + CDbl(Layout::LAYOUT_WIDTH_PAD()) + gap;
    if (GetTwips(*lblMessage_).Width + outside < captionRoom) {
      SetWidth(*lblMessage_, std::ceil((captionRoom - outside) / TwipsPerPixelX()) * TwipsPerPixelX());
      FitLabelHeight(*lblMessage_);
    }
    const TwipRect label = GetTwips(*lblMessage_);
    const double offset = RoundHalfEven((label.Width - row.Width) / 2);
    SetLeft(*picButtons_, label.Left + offset);
    SetTop(*chkDontShowAgain_, row.Top + row.Height + 2 * gap);
    // The check box is as wide as its text needs.
    const double textWidth = chkDontShowAgain_->sizeHint().width() * TwipsPerPixelX();
    if (textWidth > GetTwips(*chkDontShowAgain_).Width) SetWidth(*chkDontShowAgain_, textWidth);
  }
  QM_FRAME_CATCH("MsgBoxEx", "Private Sub ArrangeElements");
}

void frmMsgBoxEx::ResizeForm(bool DontShowAgainBoxDisplayed) {
  QM_FRAME_TRY {
    const std::int32_t gap = Layout::LAYOUT_GAP();
    const double widthPad = CDbl(Layout::LAYOUT_WIDTH_PAD());
    const double height = (DontShowAgainBoxDisplayed ? Bottom(*chkDontShowAgain_) : Bottom(*picButtons_)) +
                          Layout::LAYOUT_HEIGHT_PAD() + gap;
    const TwipRect label = GetTwips(*lblMessage_);
    double width = label.Left + label.Width + widthPad + gap;
    // Never cut off the check box's text.
    if (DontShowAgainBoxDisplayed) {
      const TwipRect check = GetTwips(*chkDontShowAgain_);
      width = std::max(width, check.Left + check.Width + widthPad + gap);
    }
    TwipRect outer = GetTwips(*form_);
    outer.Width = width;
    outer.Height = height;
    SetTwips(*form_, outer, true);
  }
  QM_FRAME_CATCH("MsgBoxEx", "Private Sub ResizeForm", DontShowAgainBoxDisplayed);
}

void frmMsgBoxEx::chkDontShowAgain_Click() {
  QM_FRAME_TRY {
    SaveSetting(appName_, kDismissedSection, DismissalKey(message_), chkDontShowAgain_->isChecked() ? "Yes" : "No");
  }
  QM_FRAME_CATCH("MsgBoxEx", "Private Sub chkDontShowAgain_Click");
}

void frmMsgBoxEx::cmdButton_Click(std::int16_t Index) {
  QM_FRAME_TRY {
    result_ = Index;
    form_->accept();
  }
  QM_FRAME_CATCH("MsgBoxEx", "Private Sub cmdButton_Click", Index);
}

void frmMsgBoxEx::timCountdown_Timer() {
  QM_FRAME_TRY {
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(clock_() - start_).count();
    const std::int64_t remaining = std::max<std::int64_t>(0, maximumSeconds_ - elapsed);
    if (remaining < 1) {
      timCountdown_->stop();
      cmdButton_Click(static_cast<std::int16_t>(defaultButton_));
      return;
    }
    form_->setWindowTitle(QString::fromStdString(title_ + " (" + std::to_string(remaining) +
                                                 (remaining == 1 ? " second remaining)" : " seconds remaining)")));
  }
  QM_FRAME_CATCH("MsgBoxEx", "Private Sub timCountdown_Timer");
}

}  // namespace qm::ui
