#pragma once
// The mail system behind the preview's Email action: the desktop's mail
// composer, reached through xdg-email. It offers what the action asks of the
// mail controls: a session that signs on (finds the mail program), and a
// message with a note text and file attachments that is handed to the mail
// program's compose window. Each attachment is copied into a private
// temporary folder under its display name (for example "Document.rpt"), so
// that the mail program attaches it under that name.

#include <cstdint>
#include <string>
#include <vector>

namespace qm::ui {

class MailSession {
 public:
  /// Options of the logon; the composer needs neither.
  bool DownloadMail = true;
  bool LogonUI = true;

  /// 0 while not signed on.
  std::int64_t SessionID() const { return sessionId_; }
  /// Finds xdg-email on the PATH; raises 9999 "No mail program is available
  /// (xdg-email was not found)" when there is none.
  void SignOn();

  const std::string& Program() const { return program_; }

 private:
  std::int64_t sessionId_ = 0;
  std::string program_;
};

struct MailAttachment {
  std::int32_t Position = 0;
  std::int32_t Type = 0;  // 0 data file
  std::string PathName;
  std::string Name;
};

class MailMessage {
 public:
  /// Hands the signed-on session to the message; raises 9999 for a session
  /// that is not signed on.
  void SetSession(const MailSession& session);
  /// Starts a new, empty message.
  void Compose();
  std::string NoteText;

  std::int32_t AttachmentCount() const { return static_cast<std::int32_t>(attachments_.size()); }
  /// Selects the attachment that the following setters change; the index
  /// one past the end adds a new attachment.
  void SetAttachmentIndex(std::int32_t index);
  MailAttachment& Attachment();

  /// Opens the mail program's compose window with the message, without
  /// waiting for it. Raises 9999 when the program cannot be started or an
  /// attachment cannot be copied.
  void Send(bool showDialog);

 private:
  std::string program_;
  bool composing_ = false;
  std::vector<MailAttachment> attachments_;
  std::size_t index_ = 0;
};

}  // namespace qm::ui
