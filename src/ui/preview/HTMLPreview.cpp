#include "ui/preview/HTMLPreview.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QStyle>
#include <QToolButton>
#include <filesystem>

#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/html/HTML2MHT.h"
#include "quillmark/html/PrintSettings.h"
#include "quillmark/platform/Desktop.h"
#include "quillmark/ui/Control.h"
#include "quillmark/ui/Dialog.h"
#include "quillmark/ui/Mouse.h"
#include "quillmark/utility/Utility.h"
#include "quillmark/values/Conversions.h"
#include "ui/FormDialog.h"
#include "ui/preview/WebView.h"
#include "ui/preview/WordProcessor.h"

namespace qm::ui {
namespace {

constexpr std::int32_t vbExclamation = 48;

// Design-time geometry, in twips.
constexpr double kToolBarHeight = 675;
constexpr double kToolBarDesignWidth = 6285;
constexpr double kButtonHeight = 615;
constexpr double kViewLeft = 0, kViewTop = 720;
constexpr double kViewDesignWidth = 5355, kViewDesignHeight = 3195;
constexpr double kCloseWidth = 795;

void ShowMessage(const std::string& text) { platform::Current().MessageBox(text, vbExclamation, ""); }

std::string DescriptionOf(const std::exception& e) {
  if (const auto* error = dynamic_cast<const Error*>(&e)) return error->Description();
  return e.what();
}

// The busy pointer for the lifetime of the object.
class Hourglass {
 public:
  Hourglass() { platform::Current().SetMousePointer(platform::MousePointer::Hourglass); }
  ~Hourglass() { platform::Current().SetMousePointer(platform::MousePointer::Default); }
  Hourglass(const Hourglass&) = delete;
  Hourglass& operator=(const Hourglass&) = delete;
};

QIcon ToolIcon(const char* theme, QStyle::StandardPixmap fallback) {
  return QIcon::fromTheme(QString::fromLatin1(theme), QApplication::style()->standardIcon(fallback));
}

}  // namespace

HTMLPreview::HTMLPreview(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("HTMLPreview"));
  picTools = new QWidget(this);
  picTools->setObjectName(QStringLiteral("picTools"));
  SetTwips(*picTools, {0, 0, kToolBarDesignWidth, kToolBarHeight});

  // The buttons were designed for an 8 point caption font; the desktop's
  // larger default would elide "Save As".
  QFont captions = picTools->font();
  captions.setPointSizeF(std::min(captions.pointSizeF() > 0 ? captions.pointSizeF() : 8.0, 8.0));
  picTools->setFont(captions);
  cmdPrint = AddButton("cmdPrint", "&Print", ToolIcon("document-print", QStyle::SP_FileDialogDetailedView), 0, 675);
  cmdSaveAs = AddButton("cmdSaveAs", "&Save As", ToolIcon("document-save-as", QStyle::SP_DialogSaveButton), 660, 735);
  cmdEmail = AddButton("cmdEmail", "&Email", ToolIcon("mail-send", QStyle::SP_ArrowForward), 1380, 735);
  cmdWord = AddButton("cmdWord", "To &Word", ToolIcon("x-office-document", QStyle::SP_FileIcon), 2100, 795);
  cmdPageSetup = AddButton("cmdPageSetup", "Page Setup...",
                           ToolIcon("document-page-setup", QStyle::SP_FileDialogInfoView), 2880, 795);
  cmdClose = AddButton("cmdClose", "Close", ToolIcon("window-close", QStyle::SP_DialogCloseButton), 0, kCloseWidth);

  webView = new WebView(this);
  webView->setObjectName(QStringLiteral("webView"));
  SetTwips(*webView, {kViewLeft, kViewTop, kViewDesignWidth, kViewDesignHeight});

  // Each button runs its action as an event handler: an error that escapes
  // is shown to the user, and the window stays usable.
  QObject::connect(cmdPrint, &QToolButton::clicked, this, [this] { RunHandler([this] { PrintDoc(); }); });
  QObject::connect(cmdSaveAs, &QToolButton::clicked, this, [this] { RunHandler([this] { SaveAs(); }); });
  QObject::connect(cmdEmail, &QToolButton::clicked, this, [this] { RunHandler([this] { Email(); }); });
  QObject::connect(cmdWord, &QToolButton::clicked, this, [this] { RunHandler([this] { OpenInWord(); }); });
  QObject::connect(cmdPageSetup, &QToolButton::clicked, this, [this] { RunHandler([this] { PageSetup(); }); });
  QObject::connect(cmdClose, &QToolButton::clicked, this, [this] {
    if (Closed) Closed();
  });

  UserControl_Initialize();
}

QToolButton* HTMLPreview::AddButton(const char* name, const char* caption, const QIcon& icon, double left,
                                    double width) {
  auto* button = new QToolButton(picTools);
  button->setObjectName(QString::fromLatin1(name));
  button->setText(QString::fromUtf8(caption));
  button->setIcon(icon);
  button->setFont(picTools->font());
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setAutoRaise(true);
  SetTwips(*button, {left, 0, width, kButtonHeight});
  return button;
}

void HTMLPreview::UserControl_Initialize() {
  cmdEmail->setEnabled(true);
  cmdWord->setEnabled(true);
  cmdPageSetup->setEnabled(false);
  cmdPageSetup->setVisible(false);
}

void HTMLPreview::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  RunHandler([this] { UserControl_Resize(); });
}

void HTMLPreview::UserControl_Resize() {
  QM_FRAME_TRY {
    const TwipRect inner = GetTwips(*this);
    // The tool bar is aligned to the top: it spans the control.
    SetWidth(*picTools, inner.Width);
    const TwipRect view = GetTwips(*webView);
    SetHeight(*webView, std::max(1.0, RoundHalfEven(inner.Height - view.Top)));
    SetWidth(*webView, std::max(1.0, RoundHalfEven(inner.Width - view.Left)));
    const double closeLeft =
        GetTwips(*picTools).Width - GetTwips(*cmdClose).Width - 4 * platform::Current().TwipsPerPixelX();
    SetLeft(*cmdClose, std::max(1.0, RoundHalfEven(closeLeft)));
  }
  QM_FRAME_CATCH("HTMLPreview", "Private Sub UserControl_Resize");
}

void HTMLPreview::displayPrintButtonOnly() {
  QM_FRAME_TRY {
    for (QToolButton* button : {cmdEmail, cmdWord, cmdPageSetup, cmdSaveAs}) {
      button->setEnabled(false);
      button->setVisible(false);
    }
    cmdPrint->setEnabled(true);
    cmdPrint->setVisible(true);
  }
  QM_FRAME_CATCH("HTMLPreview", "Public Sub displayPrintButtonOnly");
}

void HTMLPreview::displayNoButtons() {
  QM_FRAME_TRY {
    for (QToolButton* button : {cmdEmail, cmdWord, cmdPageSetup, cmdSaveAs, cmdPrint}) {
      button->setEnabled(false);
      button->setVisible(false);
    }
  }
  QM_FRAME_CATCH("HTMLPreview", "Public Sub displayNoButtons");
}

void HTMLPreview::OpenDoc(const std::string& Filename, const std::shared_ptr<PrintSettings>& PrintSettings) {
  QM_FRAME_TRY {
    // A page that is not there would show an empty view: say so instead.
    if (!std::filesystem::is_regular_file(Filename)) Raise(ERR_FileNotFound);
    // The full name: the view's URL and the later actions must not depend on
    // the current folder.
    DocumentFile = std::filesystem::absolute(Filename).lexically_normal().string();
    DocumentSettings = PrintSettings;
    Hourglass busy;
    webView->Navigate(QString::fromStdString(CStr(Utility().FilenameToURL(DocumentFile))));
  }
  QM_FRAME_CATCH("HTMLPreview", "Public Sub OpenDoc", Filename, PrintSettings);
}

void HTMLPreview::PrintDoc() {
  QM_FRAME_TRY {
    webView->setFocus(Qt::OtherFocusReason);
    QWidget* focused = QApplication::focusWidget();
    if (!focused) focused = webView;
    Mouse mouse;
    const auto rect = mouse.GetWindowExtent(std::make_shared<Control>(focused));
    const std::int32_t x = mouse.GetX(), y = mouse.GetY();
    mouse.Move(CLng(Variant((rect->Left + rect->Right) / 2.0)), CLng(Variant((rect->Top + rect->Bottom) / 2.0)));
    mouse.Click();
    mouse.Move(x, y);
    // "^p" to the focused window, not awaited: the view handles it once the
    // event loop runs again.
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : focused;
    QApplication::postEvent(target,
                            new QKeyEvent(QEvent::KeyPress, Qt::Key_P, Qt::ControlModifier, QStringLiteral("\x10")));
    QApplication::postEvent(target,
                            new QKeyEvent(QEvent::KeyRelease, Qt::Key_P, Qt::ControlModifier, QStringLiteral("\x10")));
    if (Printed) Printed();
  }
  QM_FRAME_CATCH("HTMLPreview", "Public Sub PrintDoc");
}

void HTMLPreview::SaveAs() {
  QM_FRAME_TRY {
    const std::string name = Dialog().SaveAsFilename("mht", "Web Archives", "Save Document", "", "");
    if (!name.empty()) {
      Hourglass busy;
      std::string subject;
      mdlHTML2MHT::ConvertHTMLToMHT(DocumentFile, name, subject);
    }
  }
  QM_FRAME_CATCH("HTMLPreview", "Public Sub SaveAs");
}

void HTMLPreview::PrintPreview() {
  QM_FRAME_TRY {}
  QM_FRAME_CATCH("HTMLPreview", "Public Sub PrintPreview");
}

void HTMLPreview::PageSetup() {
  QM_FRAME_TRY {}
  QM_FRAME_CATCH("HTMLPreview", "Public Sub PageSetup");
}

std::string HTMLPreview::MailFile() { return (std::filesystem::path(Utility::TempFolder()) / "~tomail.mht").string(); }

void HTMLPreview::Email() {
  QM_FRAME_TRY {
    const std::string archive = MailFile();
    try {
      std::string subject;
      mdlHTML2MHT::ConvertHTMLToMHT(DocumentFile, archive, subject);
    } catch (const std::exception& e) {
      ShowMessage("Could not send mail: " + DescriptionOf(e));
      return;
    }
    try {
      MAPISession.DownloadMail = false;
      MAPISession.LogonUI = false;
      if (MAPISession.SessionID() == 0) MAPISession.SignOn();
    } catch (const std::exception&) {
      ShowMessage(
          "Microsoft Outlook could not be started. Confirm that it has been correctly installed on your computer.");
      return;
    }
    MAPIMessages.SetSession(MAPISession);
    MAPIMessages.Compose();
    MAPIMessages.NoteText = " ";
    MAPIMessages.SetAttachmentIndex(MAPIMessages.AttachmentCount());
    MailAttachment& attachment = MAPIMessages.Attachment();
    attachment.Position = MAPIMessages.AttachmentCount() - 1;
    attachment.Type = 0;
    attachment.PathName = archive;
    attachment.Name = "Document.rpt";
    try {
      MAPIMessages.Send(true);
    } catch (const std::exception&) {
      // The user may cancel the mail; nothing to report.
    }
  }
  QM_FRAME_CATCH("HTMLPreview", "Public Sub Email");
}

void HTMLPreview::OpenInWord() {
  QM_FRAME_TRY {
    const std::string name = Dialog().SaveAsFilename("doc", "Word Documents", "Save in Microsoft Word Format", "", "");
    if (name.empty()) return;

    std::unique_ptr<WordProcessor> word;
    try {
      word = WordProcessor::Start();
      word->Visible = true;
    } catch (const std::exception& e) {
      ShowMessage("Microsoft Word could not be started. Check that it has been installed correctly. (" +
                  DescriptionOf(e) + ")");
      return;
    }

    try {
      platform::Current().SetMousePointer(platform::MousePointer::Hourglass);
      auto document = word->Open(DocumentFile);
      for (std::int32_t i = 1; i <= document->InlineShapeCount(); ++i) {
        InlineShape& shape = document->InlineShapeItem(i);
        if (shape.HasLink()) {
          shape.SavePictureWithDocument();
        } else {
          try {
            shape.Delete();
          } catch (const std::exception&) {
            // A picture that cannot be deleted stays.
          }
        }
      }
      if (DocumentSettings) {
        if (DocumentSettings->OrientationSet())
          document->PageSetup.Orientation = DocumentSettings->Orientation() == ORI_Landscape ? 1 : 0;
        if (DocumentSettings->MarginsSet()) {
          document->PageSetup.TopMargin = DocumentSettings->TopMargin();
          document->PageSetup.BottomMargin = DocumentSettings->BottomMargin();
          document->PageSetup.RightMargin = DocumentSettings->RightMargin();
          document->PageSetup.LeftMargin = DocumentSettings->LeftMargin();
        }
      }
      platform::Current().SetMousePointer(platform::MousePointer::Default);
      word->SaveAs(*document, name);
      word->Activate();
    } catch (const std::exception& e) {
      platform::Current().SetMousePointer(platform::MousePointer::Default);
      ShowMessage("Error exporting to Word: " + DescriptionOf(e));
    }
  }
  QM_FRAME_CATCH("HTMLPreview", "Public Sub OpenInWord");
}

}  // namespace qm::ui
