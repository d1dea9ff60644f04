#pragma once
// HTMLPreview: the preview control. A tool bar (picTools) with the buttons
// Print, Save As, Email, To Word, Page Setup (hidden) and Close, and below it
// the browser view (webView). Every action works on DocumentFile:
//   PrintDoc    focuses the view, clicks into it and sends Ctrl+P, which opens
//               the print dialog; raises Printed
//   SaveAs      packs the page into a web archive (MHT) under a chosen name
//   Email       packs it into TEMP/~tomail.mht and opens the mail program's
//               compose window with it attached as "Document.rpt"
//   OpenInWord  saves it in Word's .doc format through LibreOffice Writer,
//               with the orientation and margins of DocumentSettings
// Positions and sizes are in twips, as the form was designed.

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ui/preview/MailComposer.h"

class QToolButton;

namespace qm {
class PrintSettings;
}

namespace qm::ui {

class WebView;

class HTMLPreview : public QWidget {
 public:
  explicit HTMLPreview(QWidget* parent = nullptr);

  /// Only Print and Close stay.
  void displayPrintButtonOnly();
  /// Only Close stays.
  void displayNoButtons();
  /// Shows a page; the settings go with it to the Word export. A missing file
  /// raises 53.
  void OpenDoc(const std::string& Filename, const std::shared_ptr<PrintSettings>& PrintSettings);
  void PrintDoc();
  void SaveAs();
  /// Does nothing.
  void PrintPreview();
  /// Does nothing.
  void PageSetup();
  void Email();
  void OpenInWord();

  /// Events: after a print was started, and when Close was pressed.
  std::function<void()> Printed;
  std::function<void()> Closed;

  std::string DocumentFile;
  std::shared_ptr<PrintSettings> DocumentSettings;

  // The controls.
  QWidget* picTools = nullptr;
  QToolButton* cmdPrint = nullptr;
  QToolButton* cmdSaveAs = nullptr;
  QToolButton* cmdEmail = nullptr;
  QToolButton* cmdWord = nullptr;
  QToolButton* cmdPageSetup = nullptr;
  QToolButton* cmdClose = nullptr;
  WebView* webView = nullptr;
  MailSession MAPISession;
  MailMessage MAPIMessages;

  /// The mail attachment: TEMP + "/~tomail.mht".
  static std::string MailFile();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void UserControl_Initialize();
  void UserControl_Resize();
  QToolButton* AddButton(const char* name, const char* caption, const QIcon& icon, double left, double width);
};

}  // namespace qm::ui
