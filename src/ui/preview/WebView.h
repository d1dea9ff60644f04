#pragma once
// The preview's browser view: a QTextBrowser that shows a page with its
// pictures and tables (resolved as PageDocument resolves them), takes the
// keyboard focus, and prints the page through a QPrintDialog on Ctrl+P.

#include <QTextBrowser>

class QPrinter;

namespace qm::ui {

class WebView : public QTextBrowser {
 public:
  explicit WebView(QWidget* parent = nullptr);

  /// Shows the page at a URL; the page is not awaited beyond Qt's own loading.
  void Navigate(const QString& url);

  /// Opens the print dialog and prints the page when the user confirms.
  /// Returns true when it was printed.
  bool PrintWithDialog();

  /// Prints the page on a printer that is already set up.
  void PrintTo(QPrinter& printer) const;

  /// Pictures and style sheets of the page, from disk.
  QVariant loadResource(int type, const QUrl& name) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace qm::ui
