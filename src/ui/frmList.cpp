#include "ui/frmList.h"

#include <QListWidget>
#include <QPushButton>

#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/ui/Application.h"
#include "quillmark/ui/Control.h"
#include "quillmark/values/Conversions.h"
#include "ui/FormDialog.h"

namespace qm::ui {
namespace {}  // namespace

frmList& frmList::Shared() {
  static frmList form;
  return form;
}

frmList::frmList() = default;
frmList::~frmList() = default;

// The form as designed (client area 4590 × 2175).
void frmList::Load() {
  EnsureApplication();
  form_ = std::make_unique<FormDialog>("frmList", "Select", 4590, 2175);
  FormDialog& form = *form_;
  lstChoices_ = new QListWidget(&form);  // owned by the form
  lstChoices_->setObjectName(QStringLiteral("lstChoices"));
  SetTwips(*lstChoices_, {60, 60, 3195, 2010});
  auto* cmdOK = form.AddButton(&form, "cmdOK", "OK", 3300, 1380);
  auto* cmdCancel = form.AddButton(&form, "cmdCancel", "Cancel", 3300, 1740);
  cmdOK->setDefault(true);
  form.SetCancelButton(cmdCancel);
  QObject::connect(cmdOK, &QPushButton::clicked, [this] { RunHandler([this] { cmdOK_Click(); }); });
  QObject::connect(cmdCancel, &QPushButton::clicked, [this] { RunHandler([this] { cmdCancel_Click(); }); });
  QObject::connect(lstChoices_, &QListWidget::itemDoubleClicked, [this] { RunHandler([this] { cmdOK_Click(); }); });
}

Variant frmList::Choice(const Variant& Choices, const std::string& DialogCaption, std::int16_t DefaultIndex) {
  QM_FRAME_TRY {
    result_ = Variant();
    if (!Choices.IsArray()) Raise(ERR_General, "frmList.Choice must be called with an array.");
    const VariantArray& choices = Choices.Array();
    // The entries are counted in 16 bits.
    if (choices.LBound(1) < INT16_MIN || choices.UBound(1) >= INT16_MAX) Raise(ERR_Overflow);
    Load();
    UnloadOnExit unload(form_);
    lstChoices_->clear();
    for (std::int32_t i = choices.LBound(1); i <= choices.UBound(1); ++i)
      lstChoices_->addItem(QString::fromStdString(CStr(choices(i))));
    form_->setWindowTitle(QString::fromStdString(DialogCaption));
    if (DefaultIndex < -1 || DefaultIndex >= lstChoices_->count()) Raise(ERR_InvalidPropertyValue);
    lstChoices_->setCurrentRow(DefaultIndex);
    ShowModal(*form_);
    return result_;
  }
  QM_FRAME_CATCH("List", "Public Function Choice", Choices, DialogCaption, DefaultIndex);
}

void frmList::cmdOK_Click() {
  QM_FRAME_TRY {
    const QListWidgetItem* selected = lstChoices_->currentRow() >= 0 ? lstChoices_->currentItem() : nullptr;
    result_ = selected && selected->isSelected() ? selected->text().toStdString() : std::string();
    form_->accept();
  }
  QM_FRAME_CATCH("List", "Private Sub cmdOK_Click");
}

void frmList::cmdCancel_Click() {
  QM_FRAME_TRY {
    result_ = Variant();
    form_->accept();
  }
  QM_FRAME_CATCH("List", "Private Sub cmdCancel_Click");
}

}  // namespace qm::ui
