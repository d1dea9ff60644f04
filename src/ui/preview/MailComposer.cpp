#include "ui/preview/MailComposer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/LibMain.h"
#include "ui/QtText.h"

namespace qm::ui {
namespace {

constexpr const char* kSource = "Mail";

}  // namespace

void MailSession::SignOn() {
  const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-email"));
  if (program.isEmpty())
    throw Error(ERR_General, errc::unavailable, kSource, "No mail program is available (xdg-email was not found)");
  program_ = program.toStdString();
  sessionId_ = 1;
}

void MailMessage::SetSession(const MailSession& session) {
  if (session.SessionID() == 0) RaiseFrom(ERR_General, kSource, "The mail session is not signed on");
  program_ = session.Program();
}

void MailMessage::Compose() {
  if (program_.empty()) RaiseFrom(ERR_General, kSource, "The mail session is not signed on");
  composing_ = true;
  NoteText.clear();
  attachments_.clear();
  index_ = 0;
}

void MailMessage::SetAttachmentIndex(std::int32_t index) {
  if (!composing_) RaiseFrom(ERR_General, kSource, "No message is being composed");
  if (index < 0 || index > AttachmentCount())
    throw Error(ERR_General, errc::out_of_range, kSource, "Invalid attachment index");
  if (index == AttachmentCount()) attachments_.emplace_back();
  index_ = static_cast<std::size_t>(index);
}

MailAttachment& MailMessage::Attachment() {
  if (!composing_ || index_ >= attachments_.size()) RaiseFrom(ERR_General, kSource, "No attachment is selected");
  return attachments_[index_];
}

void MailMessage::Send(bool) {
  if (!composing_) RaiseFrom(ERR_General, kSource, "No message is being composed");
  QStringList arguments;
  if (!NoteText.empty()) arguments << QStringLiteral("--body") << Q(NoteText);
  if (!attachments_.empty()) {
    // The folder is left behind: the mail program reads the files after we return.
    QTemporaryDir folder(Q(TempFolder()) + QStringLiteral("/~qmmail-XXXXXX"));
    if (!folder.isValid())
      throw Error(ERR_General, errc::io_error, kSource, "Cannot create a folder for the attachments");
    folder.setAutoRemove(false);
    for (const auto& attachment : attachments_) {
      const QString name = QFileInfo(Q(attachment.Name.empty() ? attachment.PathName : attachment.Name)).fileName();
      const QString copy = folder.filePath(name);
      QFile::remove(copy);
      if (!QFile::copy(Q(attachment.PathName), copy))
        throw Error(ERR_General, errc::not_found, kSource, "Cannot attach " + attachment.PathName);
      arguments << QStringLiteral("--attach") << copy;
    }
  }
  composing_ = false;
  if (!QProcess::startDetached(Q(program_), arguments))
    throw Error(ERR_General, errc::unavailable, kSource, "The mail program could not be started");
}

}  // namespace qm::ui
