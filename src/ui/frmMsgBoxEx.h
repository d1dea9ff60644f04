#pragma once
// frmMsgBoxEx: the extended message box behind Dialog.MessageBox. A new
// object serves each call. The clock is a parameter so that the countdown can
// be checked without waiting for it.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quillmark/ui/Dialog.h"
#include "quillmark/values/Variant.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;
class QWidget;

namespace qm::ui {

class FormDialog;

class frmMsgBoxEx {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  explicit frmMsgBoxEx(Clock clock = [] { return std::chrono::steady_clock::now(); });
  ~frmMsgBoxEx();
  frmMsgBoxEx(const frmMsgBoxEx&) = delete;
  frmMsgBoxEx& operator=(const frmMsgBoxEx&) = delete;

  /// The whole box: see Dialog::MessageBox.
  std::int32_t Use(const std::string& Message, const std::string& Title, IconConstants Icon, Variant& ButtonCaptions,
                   bool DontShowAgainBoxDisplayed, std::int32_t MaximumSecondsVisible, std::int32_t DefaultButton,
                   const std::string& AppName = "Wrenfold");

  /// The settings section of the dismissals.
  static constexpr const char* kDismissedSection = "Dismissed Message Boxes";
  /// The settings key of a message: its first 200 characters.
  static std::string DismissalKey(const std::string& Message);

 private:
  void Load();
  void SetMessage(const std::string& Message);
  void CreateButtons(Variant& ButtonCaptions);
  void ArrangeElements();
  void ResizeForm(bool DontShowAgainBoxDisplayed);
  void chkDontShowAgain_Click();
  void cmdButton_Click(std::int16_t Index);
  void timCountdown_Timer();

  Clock clock_;
  // Per-box state.
  bool dontShowAgain_ = false;
  std::int32_t defaultButton_ = 0;
  std::int32_t maximumSeconds_ = 0;
  std::int32_t result_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::string title_, message_, appName_;
  // The form and its controls (owned by the form).
  std::unique_ptr<FormDialog> form_;
  QLabel* imgIcon_ = nullptr;
  QLabel* lblMessage_ = nullptr;
  QWidget* picButtons_ = nullptr;
  std::vector<QPushButton*> cmdButton_;
  QCheckBox* chkDontShowAgain_ = nullptr;
  QTimer* timCountdown_ = nullptr;
};

}  // namespace qm::ui
