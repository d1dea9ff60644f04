#pragma once
// frmSlider: a number chosen on a slider or typed (Dialog.Slider). One shared
// object keeps its result between calls; the window and its controls are
// created for each call and unloaded when it closes.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "quillmark/values/Variant.h"

class QLabel;
class QLineEdit;
class QSlider;
class QWidget;

namespace qm::ui {

class FormDialog;

class frmSlider {
 public:
  /// The form object all calls of Dialog.Slider share.
  static frmSlider& Shared();
  frmSlider();
  ~frmSlider();
  frmSlider(const frmSlider&) = delete;
  frmSlider& operator=(const frmSlider&) = delete;

  double Slider(double Min, double Max, const std::string& Caption, const Variant& Default,
                const std::optional<Variant>& Midpoint, bool RestrictRange, std::int16_t TickFreq,
                std::int16_t SmallChange, const std::string& Description);

 private:
  void Load();
  void cmdOK_Click();
  void cmdCancel_Click();
  void sliInput_Change();
  void txtInput_Change();

  double result_ = 0;
  double default_ = 0;
  bool restrictRange_ = false;
  std::unique_ptr<FormDialog> form_;
  QLabel* lblDescription_ = nullptr;
  QWidget* picHolder_ = nullptr;
  QLabel* lblRange_[3] = {};
  QSlider* sliInput_ = nullptr;
  QLineEdit* txtInput_ = nullptr;
  // The controls' Tag: "PC" while one handler changes the other control.
  std::string sliTag_, txtTag_;
};

}  // namespace qm::ui
