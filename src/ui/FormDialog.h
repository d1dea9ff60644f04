#pragma once
// FormDialog: the modal window every form of the library shows, with the
// keyboard behaviour of the forms: Enter presses the default button, Escape
// presses the cancel button (and does nothing when there is none), and
// closing through the window frame just closes (no button handler runs).

#include <QDialog>
#include <QPointer>
#include <memory>
#include <string>

class QAbstractButton;
class QLabel;
class QPushButton;

namespace qm::ui {

class FormDialog : public QDialog {
 public:
  /// A form with design-time caption and client size in twips; its parent is
  /// the active window, so it is shown over the caller's window.
  FormDialog(const std::string& name, const std::string& caption, double clientWidth, double clientHeight);

  void SetCancelButton(QAbstractButton* button) { cancel_ = button; }

  /// A button at a twips position, with the 1215 × 315 size the forms use
  /// unless told otherwise.
  QPushButton* AddButton(QWidget* parent, const std::string& name, const std::string& caption, double left, double top,
                         double width = 1215, double height = 315);
  /// A plain-text label.
  QLabel* AddLabel(QWidget* parent, const std::string& name, const std::string& caption, double left, double top,
                   double width, double height);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QPointer<QAbstractButton> cancel_;
};

/// Grows or shrinks a word-wrapping label's height to fit its text at its
/// current width (at least one line), as an automatically sized label does.
void FitLabelHeight(QLabel& label);

/// Runs the form modally and returns when it has closed.
void ShowModal(FormDialog& form);

}  // namespace qm::ui

#include <functional>

namespace qm::ui {

/// Runs an event handler of a form. An error that escapes it has no caller to
/// go to: it is shown in a message box (number, description and trail), as the
/// run-time does for errors in event procedures, and the form stays usable.
void RunHandler(const std::function<void()>& handler);

}  // namespace qm::ui

namespace qm::ui {

/// Unloads a form (deletes its window and controls) when the call that
/// loaded it ends, normally or by an error.
class UnloadOnExit {
 public:
  explicit UnloadOnExit(std::unique_ptr<FormDialog>& form) : form_(form) {}
  ~UnloadOnExit() { form_.reset(); }
  UnloadOnExit(const UnloadOnExit&) = delete;
  UnloadOnExit& operator=(const UnloadOnExit&) = delete;

 private:
  std::unique_ptr<FormDialog>& form_;
};

}  // namespace qm::ui
