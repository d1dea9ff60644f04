#include "quillmark/ui/Dialog.h"

#include "quillmark/errors/Error.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/runtime/Settings.h"
#include "quillmark/values/Conversions.h"
#include "ui/frmCommDLG.h"
#include "ui/frmList.h"
#include "ui/frmMsgBoxEx.h"
#include "ui/frmPassword.h"
#include "ui/frmSlider.h"

namespace qm::ui {
namespace {

// OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_EXPLORER | OFN_LONGNAMES
constexpr std::int32_t kFileFlags = 2621446;
constexpr std::int32_t cdlCCFullOpen = 2, cdlCCRGBInit = 1;

// The file dialogs have no call frame of their own: a cancel (32755) or an
// error without a description gives the empty string, anything else leaves
// unchanged.
template <class Steps>
std::string FileDialog(Steps&& steps) {
  try {
    return steps();
  } catch (const Error& e) {
    if (e.Number() == CommonDialog::cdlCancel || e.Description().empty()) return {};
    throw;
  }
}

// What the four file dialogs set alike; a cancel raises (CancelError).
CommonDialog FileDialogSetUp(const std::string& title, const std::string& extension, const std::string& filter,
                             const std::string& defaultFile, const std::string& initDirectory) {
  CommonDialog dlg;
  if (!initDirectory.empty()) dlg.InitDir = initDirectory;
  dlg.FileName = defaultFile;
  dlg.DialogTitle = title;
  dlg.DefaultExt = "." + extension;
  dlg.Filter = filter;
  dlg.Flags = kFileFlags;
  dlg.CancelError = true;
  return dlg;
}

}  // namespace

std::int32_t Dialog::MessageBox(const std::string& Message, const std::string& Title, IconConstants Icon,
                                Variant& ButtonCaptions, bool DontShowAgainBoxDisplayed,
                                std::int32_t MaximumSecondsVisible, std::int32_t DefaultButton,
                                const std::string& AppName) {
  QM_FRAME_TRY {
    frmMsgBoxEx box;
    return box.Use(Message, Title, Icon, ButtonCaptions, DontShowAgainBoxDisplayed, MaximumSecondsVisible,
                   DefaultButton, AppName);
  }
  QM_FRAME_CATCH("Dialog", "Public Function MessageBox", Message, Title, Icon, ButtonCaptions,
                 DontShowAgainBoxDisplayed, MaximumSecondsVisible, DefaultButton, AppName);
}

void Dialog::ClearAllDismissFor(const std::string& AppName) {
  QM_FRAME_TRY {
    // Writing first makes sure the section exists to be deleted.
    SaveSetting(AppName, frmMsgBoxEx::kDismissedSection, "none", "none");
    DeleteSetting(AppName, frmMsgBoxEx::kDismissedSection);
  }
  QM_FRAME_CATCH("Dialog", "Public Sub ClearAllDismissFor", AppName);
}

double Dialog::Slider(double Min, double Max, const std::string& Caption, const Variant& Default,
                      const std::optional<Variant>& Midpoint, bool RestrictRange, std::int16_t TickFreq,
                      std::int16_t SmallChange, const std::string& Description) {
  QM_FRAME_TRY {
    return frmSlider::Shared().Slider(Min, Max, Caption, Default, Midpoint, RestrictRange, TickFreq, SmallChange,
                                      Description);
  }
  QM_FRAME_CATCH("Dialog", "Public Function Slider", Min, Max, Caption, Default, Midpoint, RestrictRange, TickFreq,
                 SmallChange, Description);
}

Variant Dialog::Choice(const Variant& Choices, const std::string& DialogCaption, std::int16_t DefaultIndex) {
  QM_FRAME_TRY { return frmList::Shared().Choice(Choices, DialogCaption, DefaultIndex); }
  QM_FRAME_CATCH("Dialog", "Public Function Choice", Choices, DialogCaption, DefaultIndex);
}

std::string Dialog::PasswordInputBox(const std::string& Text, const std::string& TitleBar) {
  QM_FRAME_TRY { return frmPassword::Shared().GetPasswordInput(Text, TitleBar); }
  QM_FRAME_CATCH("Dialog", "Public Function PasswordInputBox", Text, TitleBar);
}

std::string Dialog::SaveAsFilename(const std::string& Extension, const std::string& ExtensionDesc,
                                   const std::string& DialogTitle, const std::string& DefaultFile,
                                   const std::string& InitDirectory) {
  return FileDialog([&] {
    CommonDialog dlg =
        FileDialogSetUp(DialogTitle, Extension, ExtensionDesc + "|*." + Extension, DefaultFile, InitDirectory);
    dlg.ShowSave();
    return dlg.FileName;
  });
}

std::string Dialog::SaveAsFilenameEx(const std::string& DefaultExtension, const std::string& Filter,
                                     const std::string& DialogTitle, std::int32_t& SelectedFilter,
                                     const std::string& DefaultFile, const std::string& InitDirectory) {
  return FileDialog([&] {
    CommonDialog dlg = FileDialogSetUp(DialogTitle, DefaultExtension, Filter, DefaultFile, InitDirectory);
    dlg.FilterIndex = static_cast<std::int16_t>(SelectedFilter & 0xFFFF);
    try {
      dlg.ShowSave();
    } catch (...) {
      SelectedFilter = dlg.FilterIndex;  // kept also when the user cancels
      throw;
    }
    SelectedFilter = dlg.FilterIndex;
    return dlg.FileName;
  });
}

std::string Dialog::OpenFilename(const std::string& Extension, const std::string& ExtensionDesc,
                                 const std::string& DialogTitle, const std::string& InitDirectory) {
  return FileDialog([&] {
    CommonDialog dlg = FileDialogSetUp(DialogTitle, Extension, ExtensionDesc + "|*." + Extension, {}, InitDirectory);
    dlg.ShowOpen();
    return dlg.FileName;
  });
}

std::string Dialog::OpenFilenameEx(const std::string& DefaultExtension, const std::string& Filter,
                                   const std::string& DialogTitle, const std::string& InitDirectory) {
  return FileDialog([&] {
    CommonDialog dlg = FileDialogSetUp(DialogTitle, DefaultExtension, Filter, {}, InitDirectory);
    dlg.ShowOpen();
    return dlg.FileName;
  });
}

std::int32_t Dialog::SelectColor(const std::optional<Variant>& Default) {
  QM_FRAME_TRY {
    CommonDialog dlg;
    if (!Default) {
      dlg.Flags = cdlCCFullOpen;
    } else {
      dlg.Flags = cdlCCFullOpen | cdlCCRGBInit;
      dlg.Color = CLng(*Default);
    }
    dlg.ShowColor();  // a cancel leaves the colour as set
    return dlg.Color;
  }
  QM_FRAME_CATCH("Dialog", "Public Function SelectColor", Default);
}

}  // namespace qm::ui
