#include "ui/preview/PageDocument.h"

#include <filesystem>
#include <system_error>

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QUrl>

#include "quillmark/runtime/ResolvePath.h"

namespace qm::ui {

QString ResolvePageFile(const QString& folder, const QString& reference) {
  const auto path = ResolveWindowsPath(reference.toStdString(), folder.toStdString());
  std::error_code ec;
  return path && std::filesystem::is_regular_file(*path, ec) ? QString::fromStdString(path->string()) : QString();
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
