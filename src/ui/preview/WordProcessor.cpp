#include "ui/preview/WordProcessor.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QUrl>
#include <filesystem>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/utility/AtomicFileWriter.h"
#include "quillmark/values/Conversions.h"
#include "ui/QtText.h"
#include "ui/preview/PageDocument.h"

namespace qm::ui {
namespace {

constexpr const char* kSource = "LibreOffice Writer";
constexpr int kConversionTimeoutMs = 120'000;

// Page text is handled byte for byte: each byte is one ISO-8859-1 character.
QString Bytes(const std::string& text) { return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())); }
std::string Text(const QString& bytes) { return bytes.toLatin1().toStdString(); }

// Points in the locale-independent form CSS wants ("72", "10.5").
std::string Points(double value) { return qm::Trim(qm::WriteInvariantNumber(value)) + "pt"; }

bool IsValidUtf8(const QByteArray& bytes) {
  auto decode = QStringDecoder(QStringDecoder::Utf8);
  (void)QString(decode(bytes));
  return !decode.hasError();
}

}  // namespace

bool InlineShape::HasLink() const {
  return !QString::fromStdString(source_).trimmed().startsWith(QLatin1String("data:"), Qt::CaseInsensitive);
}

void InlineShape::SavePictureWithDocument() {
  if (!HasLink()) return;
  QString reference = Bytes(source_).trimmed();
  const QUrl url(reference);
  if (url.isLocalFile()) reference = url.toLocalFile();
  else if (!url.scheme().isEmpty() && url.scheme().size() > 1) return;  // not a file: stays a link
  storedFile_ = ResolvePageFile(Q(folder_), reference).toStdString();
}

std::string WordPageSetup::PageRule() const {
  std::string rule;
  if (Orientation) rule += *Orientation == 1 ? " size: landscape;" : " size: portrait;";
  if (TopMargin) rule += " margin-top: " + Points(*TopMargin) + ";";
  if (BottomMargin) rule += " margin-bottom: " + Points(*BottomMargin) + ";";
  if (RightMargin) rule += " margin-right: " + Points(*RightMargin) + ";";
  if (LeftMargin) rule += " margin-left: " + Points(*LeftMargin) + ";";
  return rule.empty() ? std::string() : "@page {" + rule + " }";
}

WordDocument::WordDocument(const std::string& FileName) {
  QFile file(Q(FileName));
  if (!QFileInfo(file).isFile()) RaiseFrom(ERR_FileNotFound, kSource, DescribeError(ERR_FileNotFound, FileName));
  if (!file.open(QIODevice::ReadOnly))
    RaiseFrom(ERR_PathFileAccess, kSource, DescribeError(ERR_PathFileAccess, FileName));
  text_ = file.readAll().toStdString();

  const std::string folder = QFileInfo(file).absolutePath().toStdString();
  static const QRegularExpression image(QStringLiteral("<img\\b[^>]*>"), QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression source(QStringLiteral("\\bsrc\\s*=\\s*(\"[^\"]*\"|'[^']*'|[^\\s>]+)"),
                                         QRegularExpression::CaseInsensitiveOption);
  const QString page = Bytes(text_);
  for (auto it = image.globalMatch(page); it.hasNext();) {
    const auto match = it.next();
    InlineShape shape;
    shape.start_ = static_cast<std::size_t>(match.capturedStart());
    shape.length_ = static_cast<std::size_t>(match.capturedLength());
    shape.folder_ = folder;
    const auto src = source.match(match.captured());
    if (src.hasMatch()) {
      QString value = src.captured(1);
      shape.sourceStart_ = shape.start_ + static_cast<std::size_t>(src.capturedStart(1));
      shape.sourceLength_ = static_cast<std::size_t>(value.size());
      if (value.startsWith(QLatin1Char('"')) || value.startsWith(QLatin1Char('\'')))
        value = value.mid(1, value.size() - 2);
      shape.source_ = Text(value);
    }
    shapes_.push_back(std::move(shape));
  }
}

InlineShape& WordDocument::InlineShapeItem(std::int32_t Index) {
  if (Index < 1 || Index > InlineShapeCount()) Raise(ERR_SubscriptOutOfRange);
  return shapes_[static_cast<std::size_t>(Index - 1)];
}

std::string WordDocument::TextForWriter() const {
  // Pictures, from the back so that earlier positions stay valid.
  std::string text = text_;
  for (std::size_t i = shapes_.size(); i-- > 0;) {
    const InlineShape& shape = shapes_[i];
    if (shape.deleted_) {
      text.erase(shape.start_, shape.length_);
    } else if (!shape.storedFile_.empty() && shape.sourceLength_ > 0) {
      QFile picture(Q(shape.storedFile_));
      if (!picture.open(QIODevice::ReadOnly))
        RaiseFrom(ERR_PathFileAccess, kSource, DescribeError(ERR_PathFileAccess, shape.storedFile_));
      const QString mime = QMimeDatabase().mimeTypeForFile(picture.fileName()).name();
      const std::string data =
          "\"data:" + mime.toStdString() + ";base64," + picture.readAll().toBase64().toStdString() + "\"";
      text.replace(shape.sourceStart_, shape.sourceLength_, data);
    }
  }

  // The page setup and the character set go at the end of the head.
  std::string head;
  const std::string rule = PageSetup.PageRule();
  if (!rule.empty()) head += "<STYLE>" + rule + "</STYLE>\r\n";
  static const QRegularExpression charset(QStringLiteral("<meta\\b[^>]*charset"),
                                          QRegularExpression::CaseInsensitiveOption);
  if (!Bytes(text).contains(charset) && IsValidUtf8(QByteArray::fromStdString(text)))
    head += "<META http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n";
  if (head.empty()) return text;
  const QString page = Bytes(text);
  static const QRegularExpression headEnd(QStringLiteral("</head\\s*>"), QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression bodyStart(QStringLiteral("<body\\b"), QRegularExpression::CaseInsensitiveOption);
  if (const auto end = headEnd.match(page); end.hasMatch()) {
    text.insert(static_cast<std::size_t>(end.capturedStart()), head);
  } else if (const auto body = bodyStart.match(page); body.hasMatch()) {
    text.insert(static_cast<std::size_t>(body.capturedStart()), "<HEAD>" + head + "</HEAD>");
  } else {
    text.insert(0, "<HEAD>" + head + "</HEAD>");
  }
  return text;
}

void WordDocument::SaveAs(const std::string& FileName, const std::string& soffice) const {
  // A private folder for the page, Writer's profile (so that a running office
  // or a parallel export is not disturbed) and the converted file.
  QTemporaryDir work(Q(TempFolder()) + QStringLiteral("/~qmword-XXXXXX"));
  if (!work.isValid())
    RaiseFrom(ERR_PathFileAccess, kSource,
              DescribeError(ERR_PathFileAccess, "cannot create a folder in " + TempFolder()));
  const QString page = work.filePath(QStringLiteral("document.html"));
  {
    QFile file(page);
    const std::string text = TextForWriter();
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()))
      RaiseFrom(ERR_PathFileAccess, kSource, DescribeError(ERR_PathFileAccess, page.toStdString()));
  }

  QProcess office;
  office.setProgram(Q(soffice));
  office.setArguments({QStringLiteral("-env:UserInstallation=") +
                           QUrl::fromLocalFile(work.filePath(QStringLiteral("profile"))).toString(),
                       QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--nologo"),
                       QStringLiteral("--nolockcheck"), QStringLiteral("--infilter=HTML (StarWriter)"),
                       QStringLiteral("--convert-to"), QStringLiteral("doc:MS Word 97"), QStringLiteral("--outdir"),
                       work.filePath(QStringLiteral("out")), page});
  office.setProcessChannelMode(QProcess::MergedChannels);
  office.start(QIODevice::ReadOnly);
  if (!office.waitForStarted())
    throw Error(ERR_General, errc::unavailable, kSource,
                "LibreOffice could not be started: " + office.errorString().toStdString());
  if (!office.waitForFinished(kConversionTimeoutMs)) {
    office.kill();
    office.waitForFinished();
    throw Error(ERR_General, errc::unavailable, kSource,
                "LibreOffice did not finish the conversion within 120 seconds");
  }
  const QString converted = work.filePath(QStringLiteral("out/document.doc"));
  if (!QFileInfo(converted).isFile()) {
    const QString output = QString::fromLocal8Bit(office.readAll()).trimmed();
    throw Error(ERR_General, errc::io_error, kSource,
                "LibreOffice could not convert the document" +
                    (output.isEmpty() ? std::string() : ": " + output.toStdString()));
  }
  try {
    CopyFileAtomically(converted.toStdString(), FileName);
  } catch (const Error&) {
    RaiseFrom(ERR_PathFileAccess, kSource, DescribeError(ERR_PathFileAccess, FileName));
  }
}

bool WordProcessor::LacksWriter(const std::string& soffice) {
  // soffice is usually a link into the installation's program folder
  // (/usr/bin/soffice -> /usr/lib/libreoffice/program/soffice).
  std::error_code ec;
  const std::filesystem::path real = std::filesystem::canonical(soffice, ec);
  if (ec) return false;
  const std::filesystem::path program = real.parent_path();
  const bool installation =
      std::filesystem::exists(program / "fundamentalrc", ec) || std::filesystem::exists(program / "bootstraprc", ec);
  return installation && !std::filesystem::exists(program / "libswlo.so", ec);
}

std::unique_ptr<WordProcessor> WordProcessor::Start() {
  for (const char* name : {"soffice", "libreoffice"}) {
    const QString program = QStandardPaths::findExecutable(QString::fromLatin1(name));
    if (program.isEmpty()) continue;
    // LibreOffice with Calc alone has an soffice too, which then fails every
    // conversion with "source file could not be loaded".
    if (LacksWriter(program.toStdString()))
      throw Error(ERR_General, errc::unavailable, kSource,
                  "LibreOffice is installed without Writer, which converts to Word (Debian: libreoffice-writer)");
    return std::unique_ptr<WordProcessor>(new WordProcessor(program.toStdString()));
  }
  throw Error(ERR_General, errc::unavailable, kSource, "LibreOffice Writer (soffice) is not installed");
}

std::unique_ptr<WordDocument> WordProcessor::Open(const std::string& FileName) const {
  return std::make_unique<WordDocument>(FileName);
}

void WordProcessor::SaveAs(const WordDocument& document, const std::string& FileName) {
  document.SaveAs(FileName, soffice_);
  saved_ = FileName;
}

void WordProcessor::Activate() const {
  if (!Visible || saved_.empty()) return;
  const QString platform = QGuiApplication::platformName();
  const bool display = !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
  if (!display || platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) return;
  QProcess::startDetached(QStringLiteral("xdg-open"), {Q(saved_)});
}

}  // namespace qm::ui
