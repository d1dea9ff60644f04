#pragma once
// Dialog: the library's modal dialogs.
//
// - MessageBox: any number of buttons with the caller's captions, one of four
//   icons, an optional countdown that chooses the default button by itself,
//   and an optional "don't show again" check box remembered per application
//   in the settings store (section "Dismissed Message Boxes").
// - Slider, Choice, PasswordInputBox: ask for one value. Each uses one shared
//   form per kind, so one dialog of each kind can be open at a time.
// - SaveAsFilename(Ex), OpenFilename(Ex), SelectColor: Qt's file and colour
//   dialogs. Filters are "description|pattern|description|pattern…".
//
// All of them start Qt when the caller has not (see Application.h), and raise
// 9999 "No user interface is available: …" when there is no display.

#include <cstdint>
#include <optional>
#include <string>

#include "quillmark/Export.h"
#include "quillmark/values/Variant.h"

namespace qm::ui {

/// The icon of a message box.
enum IconConstants : std::int32_t {
  ICO_Information = 0,
  ICO_Exclamation = 1,
  ICO_Question = 2,
  ICO_Critical = 3,
};

/// The library's modal dialogs: message boxes with any buttons, a countdown
/// and "don't show again"; questions for one value; file choosers.
class QUILLMARK_EXPORT Dialog {
 public:
  /// Shows the extended message box and returns the 0-based index of the
  /// chosen button (the default button when the countdown ran out or the user
  /// asked not to see this message again; 0 when closed through the frame).
  /// ButtonCaptions holds a one-dimensional array; DefaultButton above its
  /// upper bound raises 9999 "Tried to set default button to N when maximum
  /// is M"; a negative one raises 9999 "... when minimum is 0".
  std::int32_t MessageBox(const std::string& Message, const std::string& Title, IconConstants Icon,
                          Variant& ButtonCaptions, bool DontShowAgainBoxDisplayed, std::int32_t MaximumSecondsVisible,
                          std::int32_t DefaultButton, const std::string& AppName = "Wrenfold");
  /// Forgets every "don't show again" choice of the application.
  void ClearAllDismissFor(const std::string& AppName = "Wrenfold");

  /// A number from Min to Max on a slider, or typed. Cancel returns Default.
  /// With RestrictRange, OK pulls a typed value into the range.
  double Slider(double Min, double Max, const std::string& Caption, const Variant& Default = Variant(0),
                const std::optional<Variant>& Midpoint = std::nullopt, bool RestrictRange = false,
                std::int16_t TickFreq = 1, std::int16_t SmallChange = 5, const std::string& Description = "");
  /// One entry of Choices (an array): its text on OK, Empty on Cancel.
  /// 9999 "frmList.Choice must be called with an array." for anything else.
  Variant Choice(const Variant& Choices, const std::string& DialogCaption, std::int16_t DefaultIndex = 0);
  /// A password typed into a masked field; the empty string on Cancel.
  std::string PasswordInputBox(const std::string& Text = "", const std::string& TitleBar = "");

  /// Save dialog with one filter "ExtensionDesc|*.Extension"; the chosen
  /// path, or "" when cancelled. Asks before overwriting.
  std::string SaveAsFilename(const std::string& Extension, const std::string& ExtensionDesc,
                             const std::string& DialogTitle, const std::string& DefaultFile = "",
                             const std::string& InitDirectory = "");
  /// Save dialog with the caller's filter; SelectedFilter (1-based) in and out.
  std::string SaveAsFilenameEx(const std::string& DefaultExtension, const std::string& Filter,
                               const std::string& DialogTitle, std::int32_t& SelectedFilter,
                               const std::string& DefaultFile, const std::string& InitDirectory = "");
  /// Open dialog with one filter "ExtensionDesc|*.Extension"; the chosen
  /// existing file, or "" when cancelled.
  std::string OpenFilename(const std::string& Extension, const std::string& ExtensionDesc,
                           const std::string& DialogTitle, const std::string& InitDirectory = "");
  /// Open dialog with the caller's filter ("Text|*.txt|All|*.*"); the chosen
  /// existing file, or "" when cancelled.
  std::string OpenFilenameEx(const std::string& DefaultExtension, const std::string& Filter,
                             const std::string& DialogTitle, const std::string& InitDirectory = "");
  /// A colour as 0x00BBGGRR; a cancel returns Default (0 without one).
  std::int32_t SelectColor(const std::optional<Variant>& Default = std::nullopt);
};

}  // namespace qm::ui
