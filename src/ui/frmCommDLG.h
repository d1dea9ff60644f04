#pragma once
// The common dialog the file and colour methods of Dialog fill in and show:
// a QFileDialog or QColorDialog (Qt's own widgets, so that they look and
// behave the same on every desktop). A fresh object serves each call.

#include <QStringList>
#include <cstdint>
#include <string>

#include "quillmark/errors/ErrorNumbers.h"

namespace qm::ui {

/// Turns "Text files|*.txt|All files|*.*" into Qt's name filters
/// ("Text files (*.txt)", "All files (*)"). Patterns separated by ";" are
/// kept as alternatives; "*.*" matches every name.
QStringList TranslateFilter(const std::string& filter);

/// Colours as the library passes them (0x00BBGGRR) to and from Qt's.
std::int32_t ColorToLong(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

class CommonDialog {
 public:
  static constexpr std::int32_t cdlCancel = ERR_CancelSelected;
  static constexpr std::int32_t cdlOFNOverwritePrompt = 2;

  std::string FileName;
  std::string DialogTitle;
  std::string Filter;
  std::string DefaultExt;
  std::string InitDir;
  std::int32_t Flags = 0;
  bool CancelError = false;
  std::int16_t FilterIndex = 1;
  std::int32_t Color = 0;

  /// Show the dialog modally; a cancel raises 32755 when CancelError is set.
  void ShowOpen();
  void ShowSave();
  void ShowColor();

 private:
  void ShowFile(bool save);
};

}  // namespace qm::ui
