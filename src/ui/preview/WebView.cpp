#include "ui/preview/WebView.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QPrintDialog>
#include <QPrinter>

#include "ui/preview/PageDocument.h"

namespace qm::ui {

WebView::WebView(QWidget* parent) : QTextBrowser(parent) {
  setOpenLinks(true);
  setOpenExternalLinks(false);
  setFocusPolicy(Qt::StrongFocus);
}

void WebView::Navigate(const QString& url) {
  QUrl target(url, QUrl::TolerantMode);
  if (target.isRelative()) target = QUrl::fromLocalFile(QFileInfo(url).absoluteFilePath());
  setSource(target, QTextDocument::HtmlResource);
}

QVariant WebView::loadResource(int type, const QUrl& name) {
  // Pictures and style sheets of a page on disk resolve relative to the page,
  // without regard to case and with "\" as a separator.
  const QUrl page = source();
  if (page.isLocalFile())
    if (auto resource = LoadPageResource(QFileInfo(page.toLocalFile()).absolutePath(), type, name)) return *resource;
  return QTextBrowser::loadResource(type, name);
}

bool WebView::PrintWithDialog() {
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(documentTitle().isEmpty() ? QFileInfo(source().toLocalFile()).fileName() : documentTitle());
  QPrintDialog dialog(&printer, this);
  dialog.setWindowTitle(QStringLiteral("Print"));
  if (dialog.exec() != QDialog::Accepted) return false;
  PrintTo(printer);
  return true;
}

void WebView::PrintTo(QPrinter& printer) const { document()->print(&printer); }

void WebView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Print) ||
      (event->key() == Qt::Key_P && (event->modifiers() & Qt::ControlModifier))) {
    event->accept();
    PrintWithDialog();
    return;
  }
  QTextBrowser::keyPressEvent(event);
}

}  // namespace qm::ui
