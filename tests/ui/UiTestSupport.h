#pragma once
// Driving the library's modal windows from a test: a timer on the test's own
// thread waits for the next modal window to open and acts on it, while the
// call under test is blocked in the window's event loop.

#include <QApplication>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quillmark/ui/Application.h"
#include "quillmark/values/Dispatch.h"

namespace qm::test {

/// Runs `action` on the next modal window whose object name or class is
/// `kind` (any modal window when empty). Gives up after about 5 seconds,
/// closing whatever modal window is open so that the test cannot hang.
inline void OnModal(const QString& kind, std::function<void(QWidget&)> action, int triesLeft = 500) {
  QTimer::singleShot(10, [kind, action = std::move(action), triesLeft]() mutable {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal->isVisible() &&
        (kind.isEmpty() || modal->objectName() == kind || modal->inherits(kind.toLatin1().constData()))) {
      action(*modal);
      return;
    }
    if (triesLeft > 0) return OnModal(kind, std::move(action), triesLeft - 1);
    ADD_FAILURE() << "no modal window " << kind.toStdString() << " appeared";
    if (modal) modal->close();
  });
}

/// A child of `window` by object name; fails the test when missing.
template <class W = QWidget>
W* Child(QWidget& window, const char* name) {
  W* child = window.findChild<W*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << "no control " << name;
  return child;
}

/// A window that notes the button events it receives, where they land:
/// "LeftDown@x,y", "LeftUp@x,y", and "LeftDouble@x,y" for the second press of
/// a double click.
struct ClickRecorder : QWidget {
  std::vector<std::string> Events;

  void mousePressEvent(QMouseEvent* e) override { Note("Down", e); }
  void mouseReleaseEvent(QMouseEvent* e) override { Note("Up", e); }
  void mouseDoubleClickEvent(QMouseEvent* e) override { Note("Double", e); }
  void Note(const char* what, QMouseEvent* e) {
    const char* button = e->button() == Qt::LeftButton ? "Left" : e->button() == Qt::RightButton ? "Right" : "Other";
    Events.push_back(std::string(button) + what + "@" + std::to_string(e->position().toPoint().x()) + "," +
                     std::to_string(e->position().toPoint().y()));
  }
};

/// An object whose hwnd is `Id`, for Mouse::GetWindowExtent.
struct WindowHandle : Dispatch {
  explicit WindowHandle(std::int32_t id) : Id(id) {}
  Variant GetMember(std::string_view name, std::vector<Variant>& args) override {
    if (SameName(name, "hwnd")) return Id;
    return Dispatch::GetMember(name, args);
  }
  std::int32_t Id;
};

/// Starts Qt for the tests (offscreen under ctest). A watchdog closes any
/// modal window that stays open for more than 8 seconds (one the test did not
/// expect), failing the test instead of letting it hang.
class UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qm::ui::EnsureApplication();
    QObject::connect(&watchdog_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      ticks_ = modal && modal == seen_ ? ticks_ + 1 : 0;  // seconds this window has been open
      seen_ = modal;
      if (ticks_ < 8) return;
      ADD_FAILURE() << "modal window " << modal->objectName().toStdString() << " (" << modal->metaObject()->className()
                    << ") left open";
      modal->close();
    });
    watchdog_.start(1000);
  }

  QTimer watchdog_;
  QWidget* seen_ = nullptr;
  int ticks_ = 0;
};

}  // namespace qm::test
