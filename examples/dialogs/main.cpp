// Shows each dialog of the library in turn and prints what it returned.
//
//   qm-example-dialogs            one after the other, for a person to try
//   qm-example-dialogs --grab DIR  saves a PNG of each dialog into DIR and
//                                 closes it (scripts/screens runs this with
//                                 QT_QPA_PLATFORM=offscreen)

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <iostream>
#include <string>

#include "quillmark/errors/Error.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/ui/Application.h"
#include "quillmark/ui/Dialog.h"
#include "quillmark/ui/frmError.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Variant.h"

namespace {

std::string gGrabFolder;

// The window's picture under a plain title bar showing its caption (the
// offscreen platform draws no window decorations).
QImage WithTitleBar(QWidget& window) {
  const QPixmap client = window.grab();
  const int bar = 26;
  QImage image(client.width() + 2, client.height() + bar + 1, QImage::Format_RGB32);
  image.fill(QColor(0x4a, 0x4f, 0x57));
  QPainter painter(&image);
  QFont font = window.font();
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(QRect(10, 0, image.width() - 20, bar), Qt::AlignVCenter | Qt::AlignLeft, window.windowTitle());
  painter.drawPixmap(1, bar, client);
  return image;
}

// With --grab: once the dialog `name` is open, saves its picture and closes it.
void Grab(const std::string& name, const std::function<void(QWidget&)>& prepare = {}, int delay = 300) {
  if (gGrabFolder.empty()) return;
  QTimer::singleShot(delay, [name, prepare] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    if (prepare) prepare(*modal);
    QApplication::processEvents();
    WithTitleBar(*modal).save(QString::fromStdString(gGrabFolder + "/" + name + ".png"));
    std::cout << "wrote " << gGrabFolder << "/" << name << ".png\n";
    modal->close();
  });
}

void Failing(const std::string& file) {
  QM_FRAME_TRY { qm::Raise(53, "File not found"); }
  QM_FRAME_CATCH("QMStream", "Public Sub ReadCollectionSimple", file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--grab") gGrabFolder = argv[2];
  try {
    qm::ui::EnsureApplication();
    qm::ui::Dialog dialog;

    qm::Variant buttons = qm::VariantArray::FromVector({"Yes", "No", "Cancel"});
    Grab("messagebox");
    std::cout << "MessageBox: "
              << dialog.MessageBox("The report has changed since it was last saved. Save the changes before closing?",
                                   "Save changes?", qm::ui::ICO_Question, buttons, true, 0, 0, "Quillmark example")
              << '\n';

    qm::Variant one = qm::VariantArray::FromVector({"OK"});
    Grab("messagebox-countdown", {}, 700);  // after the first tick
    std::cout << "MessageBox with countdown: "
              << dialog.MessageBox("The export finished.", "Export", qm::ui::ICO_Information, one, false, 10, 0)
              << '\n';

    qm::Variant warn = qm::VariantArray::FromVector({"Retry", "Cancel"});
    Grab("messagebox-critical");
    std::cout << "MessageBox, critical: "
              << dialog.MessageBox("The archive could not be written.", "Zip", qm::ui::ICO_Critical, warn, false, 0, 0)
              << '\n';

    Grab("slider");
    std::cout << "Slider: "
              << dialog.Slider(0, 100, "Volume", 30, std::nullopt, true, 10, 5, "How loud should the preview be?")
              << '\n';

    Grab("choice");
    std::cout << "Choice: "
              << qm::CStr(
                     dialog.Choice(qm::VariantArray::FromVector({"Portrait", "Landscape", "Square"}), "Orientation", 1))
              << '\n';

    Grab("password", [](QWidget& w) {
      if (auto* edit = w.findChild<QWidget*>(QStringLiteral("txtInput"))) edit->setProperty("text", "secret");
    });
    std::cout << "PasswordInputBox: " << dialog.PasswordInputBox("Enter the archive password:") << '\n';

    // With --grab, the save dialog opens on a folder of sample files.
    std::string folder;
    if (!gGrabFolder.empty()) {
      folder = QDir::tempPath().toStdString() + "/Reports";
      QDir().mkpath(QString::fromStdString(folder));
      for (const char* file : {"January.mht", "February.mht", "Notes.txt"}) {
        QFile sample(QString::fromStdString(folder + "/" + file));
        sample.open(QIODevice::WriteOnly);
        sample.write("sample");
      }
    }
    Grab("save");
    std::cout << "SaveAsFilename: " << dialog.SaveAsFilename("mht", "Web archives", "Save report as", "Report", folder)
              << '\n';

    Grab("color");
    std::cout << "SelectColor: " << dialog.SelectColor(qm::Variant(0x3366CC)) << '\n';

    Grab("error", [](QWidget& w) {
      if (auto* details = w.findChild<QWidget*>(QStringLiteral("cmdDetails")))
        QMetaObject::invokeMethod(details, "click");
    });
    try {
      Failing("orders.txt");
    } catch (const qm::Error& e) {
      qm::ui::frmError::Default().HandleError(e.Source(), e.Description());
    }
  } catch (const qm::Error& e) {
    std::cerr << "error " << e.Number() << ": " << e.Description() << '\n';
    return 1;
  }
  return 0;
}
