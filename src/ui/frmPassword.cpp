#include "ui/frmPassword.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "quillmark/frame/Frame.h"
#include "quillmark/ui/Application.h"
#include "quillmark/ui/Control.h"
#include "ui/FormDialog.h"

namespace qm::ui {

frmPassword& frmPassword::Shared() {
  static frmPassword form;
  return form;
}

frmPassword::frmPassword() = default;
frmPassword::~frmPassword() = default;

std::string frmPassword::GetPasswordInput(const std::string& Text, const std::string& TitleBar) {
  QM_FRAME_TRY {
    EnsureApplication();
    // The form as designed (client area 3540 × 1140).
    form_ = std::make_unique<FormDialog>("frmPassword", "Input Dialog", 3540, 1140);
    UnloadOnExit unload(form_);
    FormDialog& form = *form_;
    form.AddLabel(&form, "lblText", Text, 60, 60, 5655, 315);
    txtInput_ = new QLineEdit(&form);  // owned by the form
    txtInput_->setObjectName(QStringLiteral("txtInput"));
    txtInput_->setEchoMode(QLineEdit::Password);
    txtInput_->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"
    SetTwips(*txtInput_, {60, 300, 3435, 315});
    auto* cmdOK = form.AddButton(&form, "cmdOK", "OK", 1020, 720);
    auto* cmdCancel = form.AddButton(&form, "cmdCancel", "Cancel", 2280, 720);
    cmdOK->setDefault(true);
    form.SetCancelButton(cmdCancel);
    QObject::connect(cmdOK, &QPushButton::clicked, [this] { RunHandler([this] { cmdOK_Click(); }); });
    QObject::connect(cmdCancel, &QPushButton::clicked, [this] { RunHandler([this] { cmdCancel_Click(); }); });
    form.setWindowTitle(QString::fromStdString(TitleBar.empty() ? std::string("Password Entry") : TitleBar));
    txtInput_->setFocus();
    ShowModal(form);
    return result_;
  }
  QM_FRAME_CATCH("Password", "Public Function GetPasswordInput", Text, TitleBar);
}

void frmPassword::cmdOK_Click() {
  QM_FRAME_TRY {
    result_ = txtInput_->text().toStdString();
    form_->accept();
  }
  QM_FRAME_CATCH("Password", "Private Sub cmdOK_Click");
}

void frmPassword::cmdCancel_Click() {
  QM_FRAME_TRY {
    result_.clear();
    form_->accept();
  }
  QM_FRAME_CATCH("Password", "Private Sub cmdCancel_Click");
}

}  // namespace qm::ui
