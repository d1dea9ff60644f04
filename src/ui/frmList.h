#pragma once
// frmList: one entry chosen from a list (Dialog.Choice). One shared object;
// the window is created for each call.

#include <cstdint>
#include <memory>
#include <string>

#include "quillmark/values/Variant.h"

class QListWidget;

namespace qm::ui {

class FormDialog;

class frmList {
 public:
  static frmList& Shared();
  frmList();
  ~frmList();
  frmList(const frmList&) = delete;
  frmList& operator=(const frmList&) = delete;

  Variant Choice(const Variant& Choices, const std::string& DialogCaption, std::int16_t DefaultIndex);

 private:
  void Load();
  void cmdOK_Click();
  void cmdCancel_Click();

  Variant result_;
  std::unique_ptr<FormDialog> form_;
  QListWidget* lstChoices_ = nullptr;
};

}  // namespace qm::ui
