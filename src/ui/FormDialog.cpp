#include "ui/FormDialog.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <cmath>

#include "quillmark/errors/Error.h"
#include "quillmark/ui/Control.h"
#include "quillmark/ui/Layout.h"
#include "quillmark/values/Conversions.h"

namespace qm::ui {

FormDialog::FormDialog(const std::string& name, const std::string& caption, double clientWidth, double clientHeight)
    : QDialog(QApplication::activeWindow()) {
  setObjectName(QString::fromStdString(name));
  setWindowTitle(QString::fromStdString(caption));
  // A fixed dialog: no resize grip, no context help button.
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setSizeGripEnabled(false);
  SetTwips(*this, {0, 0, clientWidth + CDbl(Layout::LAYOUT_WIDTH_PAD()), clientHeight + Layout::LAYOUT_HEIGHT_PAD()},
           true);
}

QPushButton* FormDialog::AddButton(QWidget* parent, const std::string& name, const std::string& caption, double left,
                                   double top, double width, double height) {
  auto* button = new QPushButton(QString::fromStdString(caption), parent);  // owned by its parent
  button->setObjectName(QString::fromStdString(name));
  SetTwips(*button, {left, top, width, height});
  return button;
}

QLabel* FormDialog::AddLabel(QWidget* parent, const std::string& name, const std::string& caption, double left,
                             double top, double width, double height) {
  auto* label = new QLabel(parent);  // owned by its parent
  label->setObjectName(QString::fromStdString(name));
  label->setTextFormat(Qt::PlainText);
  label->setText(QString::fromStdString(caption));
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  SetTwips(*label, {left, top, width, height});
  return label;
}

void FormDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (cancel_ && cancel_->isEnabled() && cancel_->isVisible()) cancel_->click();
    return;  // without a cancel button Escape does nothing
  }
  QDialog::keyPressEvent(event);
}

void FitLabelHeight(QLabel& label) {
  label.setWordWrap(true);
  const int widthPixels = label.width();
  const int line = QFontMetrics(label.font()).height();
  const int fitted = label.text().isEmpty() ? line : std::max(line, label.heightForWidth(widthPixels));
  SetHeight(label, fitted * TwipsPerPixelY());
}

void ShowModal(FormDialog& form) {
  form.setModal(true);
  form.exec();
}

}  // namespace qm::ui

namespace qm::ui {

void RunHandler(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const Error& e) {
    QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Quillmark Library"),
                          QStringLiteral("Run-time error %1:\n\n%2\n\n%3")
                              .arg(e.Number())
                              .arg(QString::fromStdString(e.Description()), QString::fromStdString(e.Source())));
  } catch (const std::exception& e) {
    QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Quillmark Library"),
                          QString::fromUtf8(e.what()));
  }
}

}  // namespace qm::ui
