#pragma once
// frmPassword: a password typed into a masked field (Dialog.PasswordInputBox).
// One shared object; the window is created for each call.

#include <memory>
#include <string>

class QLineEdit;

namespace qm::ui {

class FormDialog;

class frmPassword {
 public:
  static frmPassword& Shared();
  frmPassword();
  ~frmPassword();
  frmPassword(const frmPassword&) = delete;
  frmPassword& operator=(const frmPassword&) = delete;

  std::string GetPasswordInput(const std::string& Text, const std::string& TitleBar);

 private:
  void cmdOK_Click();
  void cmdCancel_Click();

  std::string result_;
  std::unique_ptr<FormDialog> form_;
  QLineEdit* txtInput_ = nullptr;
};

}  // namespace qm::ui
