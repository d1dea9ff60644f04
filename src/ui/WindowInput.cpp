#include "ui/WindowInput.h"

#include <QCursor>
#include <QGuiApplication>
#include <QWindow>

// QtGui's entry for a mouse event from the window system, delivered at once
// (exported by QtGui for Qt's own test library, which declares it the same way).
Q_GUI_EXPORT void qt_handleMouseEvent(QWindow* window, const QPointF& local, const QPointF& global,
                                      Qt::MouseButtons state, Qt::MouseButton button, QEvent::Type type,
                                      Qt::KeyboardModifiers mods, int timestamp);

namespace qm::ui {
namespace {

using platform::MouseButtonEvent;

Qt::MouseButton ButtonOf(MouseButtonEvent event) {
  switch (event) {
    case MouseButtonEvent::LeftDown:
    case MouseButtonEvent::LeftUp: return Qt::LeftButton;
    case MouseButtonEvent::MiddleDown:
    case MouseButtonEvent::MiddleUp: return Qt::MiddleButton;
    case MouseButtonEvent::RightDown:
    case MouseButtonEvent::RightUp: return Qt::RightButton;
  }
  return Qt::NoButton;
}

bool IsPress(MouseButtonEvent event) {
  return event == MouseButtonEvent::LeftDown || event == MouseButtonEvent::MiddleDown ||
         event == MouseButtonEvent::RightDown;
}

}  // namespace

WindowInput::WindowInput() { clock_.start(); }

bool WindowInput::Send(MouseButtonEvent event) {
  const QPoint global = QCursor::pos();
  QWindow* window = QGuiApplication::topLevelAt(global);
  if (!window || !window->isVisible()) return false;
  const Qt::MouseButton button = ButtonOf(event);
  const bool press = IsPress(event);
  held_.setFlag(button, press);
  qt_handleMouseEvent(window, window->mapFromGlobal(QPointF(global)), QPointF(global), held_, button,
                      press ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease,
                      QGuiApplication::keyboardModifiers(), static_cast<int>(clock_.elapsed()));
  return true;
}

}  // namespace qm::ui
