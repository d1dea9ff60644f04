#include "quillmark/ui/HTMLDisplay.h"

#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/html/PrintSettings.h"
#include "quillmark/platform/Desktop.h"
#include "ui/preview/PreviewService.h"
#include "ui/preview/frmPreview.h"

namespace qm::ui {

void HTMLDisplay::Show(const std::string& HTMLFilename, const std::shared_ptr<PrintSettings>& PrintSettings,
                       bool bPrintThenClose, std::int16_t displayButtons) {
  QM_FRAME_TRY {
    if (bPrintThenClose) frmPreview::Instance().DoPrint(HTMLFilename, PrintSettings);
    else frmPreview::Instance().Use(HTMLFilename, PrintSettings, displayButtons);
  }
  QM_FRAME_CATCH("HTMLDisplay", "Public Sub Show", HTMLFilename, PrintSettings, bPrintThenClose, displayButtons);
}

/// The Qt desktop's document preview (HTMLDoc.Show, Typographer.Show).
void ShowPreviewWindow(const platform::PreviewRequest& request) {
  std::shared_ptr<PrintSettings> settings;
  if (request.PrintSettings) {
    settings = std::dynamic_pointer_cast<PrintSettings>(request.PrintSettings);
    if (!settings) Raise(ERR_TypeMismatch);  // not a PrintSettings object
  }
  HTMLDisplay().Show(request.HtmlFile, settings, request.PrintOnly, static_cast<std::int16_t>(request.DisplayButtons));
}

}  // namespace qm::ui
