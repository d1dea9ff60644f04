#pragma once
// frmError: the error reporter. HandleError shows one caught error: its
// description, and on request the call trail of its source (one line per
// "|"-separated piece); it writes both to "Error Log Quillmark Libraries.log"
// in the temporary folder (the last report only), and lets the user ignore
// the same error for as long as the process runs.
//
//   catch (const qm::Error& e) {
//     qm::ui::frmError::Default().HandleError(e.Source(), e.Description());
//   }

#include <memory>
#include <string>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/runtime/Dictionary.h"

namespace qm::ui {

class FormDialog;

/// The error reporter: shows a caught error with its call trail, logs it to the
/// temporary folder and lets the user ignore it for the rest of the process.
class QUILLMARK_EXPORT frmError {
 public:
  /// The shared window object: the errors ignored through it stay ignored
  /// until the process ends.
  static frmError& Default();

  frmError();
  ~frmError();
  frmError(const frmError&) = delete;
  frmError& operator=(const frmError&) = delete;

  /// Shows the error modally, unless a report is already open (reports do
  /// not nest) or the user chose Ignore All for this description and trail.
  /// Without a display the log is written and 9999 is raised.
  void HandleError(const std::string& Source, const std::string& Description);

  /// The error log file: TEMP, then "Error Log Quillmark Libraries.log".
  static std::string LogFile();

 private:
  bool IsFormLoaded() const;
  void Show();
  void cmdOK_Click();
  void cmdDetails_Click();
  void cmdIgnoreAll_Click();

  // The errors ignored, the report shown and its window, defined in the
  // library's sources.
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm::ui
