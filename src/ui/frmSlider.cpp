#include "ui/frmSlider.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include "quillmark/frame/Frame.h"
#include "quillmark/platform/Desktop.h"
#include "quillmark/ui/Application.h"
#include "quillmark/ui/Control.h"
#include "quillmark/values/Conversions.h"
#include "ui/FormDialog.h"

namespace qm::ui {
namespace {

constexpr std::int32_t vbExclamation = 48;

// Clears a Tag when the change it marks is over, even when it fails.
struct TagScope {
  std::string& Tag;
  explicit TagScope(std::string& tag) : Tag(tag) { Tag = "PC"; }
  ~TagScope() { Tag.clear(); }
};

}  // namespace

frmSlider& frmSlider::Shared() {
  static frmSlider form;
  return form;
}

frmSlider::frmSlider() = default;
frmSlider::~frmSlider() = default;

// The form as designed (client area 3195 × 1890).
void frmSlider::Load() {
  EnsureApplication();
  form_ = std::make_unique<FormDialog>("frmSlider", "Input", 3195, 1890);
  FormDialog& form = *form_;
  lblDescription_ = form.AddLabel(&form, "lblDescription", "Description", 60, 60, 3015, 195);
  lblDescription_->setWordWrap(true);
  picHolder_ = new QWidget(&form);  // controls are owned by the form
  picHolder_->setObjectName(QStringLiteral("picHolder"));
  SetTwips(*picHolder_, {60, 480, 3075, 1335});
  const double rangeLeft[3] = {60, 1320, 2640};
  const Qt::Alignment rangeAlign[3] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight};
  for (int i = 0; i < 3; ++i) {
    lblRange_[i] = form.AddLabel(picHolder_, "lblRange" + std::to_string(i), "0", rangeLeft[i], 0, 375, 255);
    lblRange_[i]->setAlignment(rangeAlign[i] | Qt::AlignTop);
  }
  sliInput_ = new QSlider(Qt::Horizontal, picHolder_);
  sliInput_->setObjectName(QStringLiteral("sliInput"));
  sliInput_->setRange(0, 10);
  sliInput_->setTickPosition(QSlider::TicksBelow);
  SetTwips(*sliInput_, {0, 240, 3135, 255});
  txtInput_ = new QLineEdit(picHolder_);
  txtInput_->setObjectName(QStringLiteral("txtInput"));
  SetTwips(*txtInput_, {60, 660, 1755, 315});
  auto* cmdOK = form.AddButton(picHolder_, "cmdOK", "&OK", 1860, 660);
  auto* cmdCancel = form.AddButton(picHolder_, "cmdCancel", "Cancel", 1860, 1020);
  cmdOK->setDefault(true);
  form.SetCancelButton(cmdCancel);
  QObject::connect(cmdOK, &QPushButton::clicked, [this] { RunHandler([this] { cmdOK_Click(); }); });
  QObject::connect(cmdCancel, &QPushButton::clicked, [this] { RunHandler([this] { cmdCancel_Click(); }); });
  QObject::connect(sliInput_, &QSlider::valueChanged, [this] { RunHandler([this] { sliInput_Change(); }); });
  QObject::connect(txtInput_, &QLineEdit::textChanged, [this] { RunHandler([this] { txtInput_Change(); }); });
}

double frmSlider::Slider(double Min, double Max, const std::string& Caption, const Variant& Default,
                         const std::optional<Variant>& Midpoint, bool RestrictRange, std::int16_t TickFreq,
                         std::int16_t SmallChange, const std::string& Description) {
  QM_FRAME_TRY {
    default_ = CDbl(Default);
    const Variant midpoint = Midpoint ? *Midpoint : Variant((Min + Max) / 2);
    restrictRange_ = RestrictRange;
    Load();
    UnloadOnExit unload(form_);
    lblRange_[0]->setText(QString::fromStdString(FormatGeneral(Min)));
    lblRange_[2]->setText(QString::fromStdString(FormatGeneral(Max)));
    lblRange_[1]->setText(QString::fromStdString(CStr(midpoint)));
    sliInput_->setMaximum(CLng(Max));
    sliInput_->setMinimum(CLng(Min));

    lblDescription_->setText(QString::fromStdString(Description));
    FitLabelHeight(*lblDescription_);
    const TwipRect description = GetTwips(*lblDescription_);
    SetTop(*picHolder_, description.Top + description.Height);
    const TwipRect holder = GetTwips(*picHolder_);
    SetHeight(*form_, holder.Top + holder.Height + 570);
    form_->setWindowTitle(QString::fromStdString(Caption));

    sliInput_->setValue(CLng(Default));
    sliInput_->setTickInterval(TickFreq);
    sliInput_->setSingleStep(SmallChange);
    sliInput_->setPageStep(TickFreq == 1 ? CLng((Max - Min) / 10) : TickFreq);
    txtInput_->setText(QString::fromStdString(FormatGeneral(default_)));
    ShowModal(*form_);
    return result_;
  }
  QM_FRAME_CATCH("Slider", "Public Function Slider", Min, Max, Caption, Default, Midpoint, RestrictRange, TickFreq,
                 SmallChange, Description);
}

void frmSlider::sliInput_Change() {
  QM_FRAME_TRY {
    if (sliTag_ == "PC") return;
    TagScope mark(txtTag_);
    txtInput_->setText(QString::number(sliInput_->value()));
  }
  QM_FRAME_CATCH("Slider", "Private Sub sliInput_Change");
}

void frmSlider::txtInput_Change() {
  QM_FRAME_TRY {
    if (txtTag_ == "PC") return;
    const Variant text(txtInput_->text().toStdString());
    if (!text.IsNumeric()) return;
    const double value = CDbl(text);
    if (sliInput_->minimum() <= value && value <= sliInput_->maximum()) {
      TagScope mark(sliTag_);
      sliInput_->setValue(CLng(Variant(value)));
    }
  }
  QM_FRAME_CATCH("Slider", "Private Sub txtInput_Change");
}

void frmSlider::cmdOK_Click() {
  QM_FRAME_TRY {
    const Variant text(txtInput_->text().toStdString());
    if (!text.IsNumeric()) {
      platform::Current().MessageBox("Enter a valid number.", vbExclamation, "");
      return;
    }
    if (restrictRange_) {
      if (sliInput_->minimum() > CDbl(text)) txtInput_->setText(QString::number(sliInput_->minimum()));
      if (sliInput_->maximum() < CDbl(Variant(txtInput_->text().toStdString())))
        txtInput_->setText(QString::number(sliInput_->maximum()));
    }
    result_ = CDbl(Variant(txtInput_->text().toStdString()));
    form_->accept();
  }
  QM_FRAME_CATCH("Slider", "Private Sub cmdOK_Click");
}

void frmSlider::cmdCancel_Click() {
  QM_FRAME_TRY {
    result_ = default_;
    form_->accept();
  }
  QM_FRAME_CATCH("Slider", "Private Sub cmdCancel_Click");
}

}  // namespace qm::ui
