// qm-example-preview PAGE.html [--screenshot PNG]
//
// Shows a page in the document preview. With --screenshot the preview opens
// at 1000 x 700 pixels, a picture of the window is written to PNG once the
// page is drawn, and the window closes (this works offscreen too).

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <iostream>
#include <string>

#include "quillmark/errors/Error.h"
#include "quillmark/ui/HTMLDisplay.h"

namespace {

// The preview's window while the form is loaded: the top-level window
// captioned "Preview"; null before it is made.
QWidget* PreviewWindow() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->windowTitle() == QStringLiteral("Preview")) return window;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && !(argc == 4 && std::string(argv[2]) == "--screenshot")) {
    std::cerr << "usage: qm-example-preview PAGE.html [--screenshot PNG]\n";
    return 2;
  }
  try {
    if (argc == 4) {
      const QString picture = QString::fromLocal8Bit(argv[3]);
      QTimer::singleShot(0, [picture] {
        QWidget* window = PreviewWindow();
        if (!window) return;
        window->resize(1000, 700);
        QTimer::singleShot(500, window, [window, picture] {
          if (!window->grab().save(picture)) std::cerr << "cannot write " << picture.toStdString() << '\n';
          window->close();
        });
      });
    }
    qm::ui::HTMLDisplay().Show(argv[1], nullptr);
  } catch (const qm::Error& e) {
    std::cerr << "error " << e.Number() << ": " << e.Description() << "\n  " << e.Source() << '\n';
    return 1;
  }
  return 0;
}
