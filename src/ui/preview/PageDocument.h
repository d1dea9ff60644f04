#pragma once
// A QTextDocument holding one HTML page from disk, with the pictures it refers
// to resolved relative to the page: names may use "\" or "/" and may differ in
// case from the files on disk (pages written on Windows upper-case them).

#include <QString>
#include <QTextDocument>
#include <QUrl>
#include <QVariant>
#include <optional>

namespace qm::ui {

class PageDocument : public QTextDocument {
 public:
  explicit PageDocument(QObject* parent = nullptr) : QTextDocument(parent) {}

  /// Reads the page (UTF-8, or ISO-8859-1 when it is not valid UTF-8) and sets
  /// it as the document. Returns false when the file cannot be read.
  bool Load(const QString& htmlFile);

  /// The title of the page, or its file name when it has none.
  QString Title() const { return title_; }

 protected:
  QVariant loadResource(int type, const QUrl& name) override;

 private:
  QString folder_;
  QString title_;
};

/// Finds a file that a page names relative to `folder`, as the HTML converter
/// does (qm::ResolveWindowsPath: "\" and "/" both separate, a component
/// that does not exist as written is matched without regard to case).
/// Returns an empty string when no regular file matches.
QString ResolvePageFile(const QString& folder, const QString& reference);

/// A picture or style sheet that a page in `folder` refers to, read from disk
/// through ResolvePageFile: an empty QVariant for a broken link, nothing when
/// `name` is no file (the caller's own loader serves it then).
std::optional<QVariant> LoadPageResource(const QString& folder, int type, const QUrl& name);

}  // namespace qm::ui
