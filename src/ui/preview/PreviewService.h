#pragma once
// What the Qt desktop offers through qm::platform::Desktop for documents:
//   ShowPreview   -> ShowPreviewWindow (HTMLDisplay.Show with the request)
//   PrintDetached -> qm::ui::PrintDetached (quillmark-print, not awaited)

#include "quillmark/platform/Desktop.h"
#include "quillmark/ui/PrintHelper.h"

namespace qm::ui {

/// Opens the preview of the request's page (modal); a PrintSettings that is
/// not one raises 13.
void ShowPreviewWindow(const platform::PreviewRequest& request);

}  // namespace qm::ui
