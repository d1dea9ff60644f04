#include "quillmark/ui/frmError.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <cstdlib>
#include <filesystem>

#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/frame/Trail.h"
#include "quillmark/platform/Desktop.h"
#include "quillmark/ui/Application.h"
#include "quillmark/ui/Control.h"
#include "quillmark/ui/Layout.h"
#include "quillmark/utility/AtomicFileWriter.h"
#include "quillmark/values/Conversions.h"
#include "ui/FormDialog.h"

namespace qm::ui {
namespace {

// Controls, in twips (client area 4635 × 2715).
constexpr double kDetailsTop = 780, kButtonHeight = 315;
constexpr double kListTop = 1200, kListHeight = 1425;
// Margin kept below the last visible control.
constexpr double kMargin = 60;

}  // namespace

frmError& frmError::Default() {
  static frmError window;
  return window;
}

struct frmError::Impl {
  std::unique_ptr<Dictionary> ignoredErrors;
  std::string errorKey;
  std::string description;
  std::vector<std::string> trail;
  FormDialog* window = nullptr;  // the loaded window, while one is shown
};

frmError::frmError() : impl_(std::make_unique<Impl>()) {}
frmError::~frmError() = default;

std::string frmError::LogFile() {
  std::string folder = TempFolder();
  if (folder.back() != '/') folder += '/';
  return folder + "Error Log " + std::string(kProductName) + ".log";
}

bool frmError::IsFormLoaded() const { return impl_->window != nullptr; }

// No element of its own: the reporter is where trails end.
void frmError::HandleError(const std::string& Source, const std::string& Description) {
  if (IsFormLoaded()) return;  // a report is open: reports do not nest
  platform::Current().SetMousePointer(platform::MousePointer::Default);
  impl_->errorKey = Description + Source;
  if (impl_->ignoredErrors && impl_->ignoredErrors->Exists(impl_->errorKey)) return;
  impl_->description = Description;
  impl_->trail = Trail(Source);

  std::string trailLines = Source;
  for (std::size_t at = 0; (at = trailLines.find('|', at)) != std::string::npos; at += 2)
    trailLines.replace(at, 1, "\r\n");
  try {
    WriteFileAtomically(LogFile(), "Error " + Description + " at " + FormatGeneralDate(Now()) + "\r\n" +
                                       "Call Stack : \r\n" + trailLines + "\r\n");
  } catch (const Error&) {
    Raise(ERR_PathFileAccess);
  }

  Show();
}

void frmError::Show() {
  EnsureApplication();
  FormDialog window("frmError", "Error", 4635, 2715);
  auto* lblError = window.AddLabel(&window, "lblError", impl_->description, 120, 120, 3135, 195);
  auto* cmdOK = window.AddButton(&window, "cmdOK", "&OK", 3360, 60);
  auto* cmdIgnoreAll = window.AddButton(&window, "cmdIgnoreAll", "&Ignore All", 3360, 420);
  auto* cmdDetails = window.AddButton(&window, "cmdDetails", "&Details >>", 3360, kDetailsTop);
  auto* lstStackDump = new QListWidget(&window);  // owned by the window
  lstStackDump->setObjectName(QStringLiteral("lstStackDump"));
  SetTwips(*lstStackDump, {60, kListTop, 4515, kListHeight});
  for (const auto& piece : impl_->trail) lstStackDump->addItem(QString::fromStdString(piece));

  // A long description wraps, down to the list's top at most.
  FitLabelHeight(*lblError);
  const TwipRect label = GetTwips(*lblError);
  if (label.Top + label.Height > kListTop - kMargin) SetHeight(*lblError, kListTop - kMargin - label.Top);

  cmdOK->setDefault(true);
  window.SetCancelButton(cmdOK);
  QObject::connect(cmdOK, &QPushButton::clicked, [this] { RunHandler([this] { cmdOK_Click(); }); });
  QObject::connect(cmdIgnoreAll, &QPushButton::clicked, [this] { RunHandler([this] { cmdIgnoreAll_Click(); }); });
  QObject::connect(cmdDetails, &QPushButton::clicked, [this] { RunHandler([this] { cmdDetails_Click(); }); });

  // Collapsed: the list lies below the bottom edge.
  const double bottom = std::max(kDetailsTop + kButtonHeight, GetTwips(*lblError).Top + GetTwips(*lblError).Height);
  SetHeight(window, bottom + Layout::LAYOUT_HEIGHT_PAD() + kMargin);

  impl_->window = &window;
  struct Unload {
    FormDialog*& Window;
    ~Unload() { Window = nullptr; }
  } unload{impl_->window};
  ShowModal(window);
}

void frmError::cmdOK_Click() {
  QM_FRAME_TRY {
    if (impl_->window) impl_->window->accept();
  }
  QM_FRAME_CATCH("Error", "Private Sub cmdOK_Click");
}

void frmError::cmdDetails_Click() {
  QM_FRAME_TRY {
    if (!impl_->window) return;
    impl_->window->findChild<QPushButton*>(QStringLiteral("cmdDetails"))->setEnabled(false);
    SetHeight(*impl_->window, kListTop + kListHeight + Layout::LAYOUT_HEIGHT_PAD() + kMargin);
  }
  QM_FRAME_CATCH("Error", "Private Sub cmdDetails_Click");
}

void frmError::cmdIgnoreAll_Click() {
  QM_FRAME_TRY {
    if (!impl_->ignoredErrors) impl_->ignoredErrors = std::make_unique<Dictionary>();
    if (!impl_->ignoredErrors->Exists(impl_->errorKey)) impl_->ignoredErrors->Add(impl_->errorKey, impl_->errorKey);
    if (impl_->window) impl_->window->accept();
  }
  QM_FRAME_CATCH("Error", "Private Sub cmdIgnoreAll_Click");
}

}  // namespace qm::ui
