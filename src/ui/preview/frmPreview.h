#pragma once
// frmPreview: the modal window (caption "Preview") that hosts the preview
// control and sizes it to itself. One shared instance, created on first use;
// its window exists while it is shown and is unloaded when the control's
// Close button is pressed (or the window is closed through its frame).

#include <cstdint>
#include <memory>
#include <string>

namespace qm {
class PrintSettings;
}

namespace qm::ui {

class FormDialog;
class HTMLPreview;

class frmPreview {
 public:
  /// The shared form.
  static frmPreview& Instance();

  /// Shows a page modally; displayButtons 1 keeps only Print and Close, 2
  /// only Close. Returns when the window has been closed.
  void Use(const std::string& Filename, const std::shared_ptr<PrintSettings>& Settings, std::int16_t displayButtons);
  /// Shows the page as Use does with all buttons, opens the print dialog at
  /// once, and closes the window when the dialog is done.
  void DoPrint(const std::string& Filename, const std::shared_ptr<PrintSettings>& Settings);

  /// While the form is loaded: its window and its control; null otherwise.
  FormDialog* Window() const { return window_.get(); }
  HTMLPreview* Preview() const { return preview_; }

  /// The control's size for a client area of the given size, in twips: the
  /// area less the layout pads and the control's position, at least 1.
  static double ControlWidth(double clientWidth, double controlLeft);
  static double ControlHeight(double clientHeight, double controlTop);

  ~frmPreview();

 private:
  frmPreview() = default;
  void Load();
  void Unload();
  void ShowModally();
  void Form_Resize();

  std::unique_ptr<FormDialog> window_;
  HTMLPreview* preview_ = nullptr;
  friend class PreviewWindow;
};

}  // namespace qm::ui
