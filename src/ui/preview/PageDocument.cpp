#include "ui/preview/PageDocument.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QUrl>

#include "quillmark/runtime/Text.h"

namespace qm::ui {

QString ResolvePageFile(const QString& folder, const QString& reference) {
  if (reference.isEmpty()) return {};
  QString text = reference;
  text.replace(QLatin1Char('\\'), QLatin1Char('/'));
  QString path = text.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QDir(folder).absolutePath();
  const auto parts = text.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  for (const QString& part : parts) {
    if (part == QLatin1String(".")) continue;
    if (part == QLatin1String("..")) {
      path = QFileInfo(path).absolutePath();
      continue;
    }
    const QString exact = QDir(path).filePath(part);
    if (QFileInfo::exists(exact)) {
      path = exact;
      continue;
    }
    // Not there as written: take an entry whose name differs only in case.
    const auto entries = QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    const std::string wanted = part.toStdString();
    auto match = std::find_if(entries.begin(), entries.end(), [&](const QString& entry) {
      return EqualsIgnoringCase(entry.toStdString(), wanted);
    });
    if (match == entries.end()) return {};
    path = QDir(path).filePath(*match);
  }
  return QFileInfo(path).isFile() ? path : QString();
}

bool PageDocument::Load(const QString& htmlFile) {
  QFile file(htmlFile);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = file.readAll();
  auto decode = QStringDecoder(QStringDecoder::Utf8);
  QString html = decode(bytes);
  if (decode.hasError()) html = QString::fromLatin1(bytes);

  const QFileInfo info(htmlFile);
  folder_ = info.absolutePath();
  setBaseUrl(QUrl::fromLocalFile(folder_ + QLatin1Char('/')));
  setMetaInformation(QTextDocument::DocumentUrl, QUrl::fromLocalFile(info.absoluteFilePath()).toString());
  setHtml(html);
  title_ = metaInformation(QTextDocument::DocumentTitle).trimmed();
  if (title_.isEmpty()) title_ = info.fileName();
  return true;
}

std::optional<QVariant> LoadPageResource(const QString& folder, int type, const QUrl& name) {
  if (type != QTextDocument::ImageResource && type != QTextDocument::StyleSheetResource) return std::nullopt;
  if (!name.isLocalFile() && !name.scheme().isEmpty()) return std::nullopt;
  const QString reference = name.isLocalFile() ? name.toLocalFile() : name.path(QUrl::FullyDecoded);
  const QString path = ResolvePageFile(folder, reference);
  QFile file(path);
  if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return QVariant();  // a broken link shows as missing
  const QByteArray bytes = file.readAll();
  if (type == QTextDocument::StyleSheetResource) return QString::fromUtf8(bytes);
  return bytes;
}

QVariant PageDocument::loadResource(int type, const QUrl& name) {
  if (auto resource = LoadPageResource(folder_, type, name)) return *resource;
  return QTextDocument::loadResource(type, name);
}

}  // namespace qm::ui
