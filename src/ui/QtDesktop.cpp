#include "ui/QtDesktop.h"
#include "ui/preview/PreviewService.h"

#include <QApplication>
#include <QCursor>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/ui/Application.h"
#include "ui/QtText.h"
#include "ui/WindowInput.h"
#include "ui/X11Input.h"

namespace qm::ui {
namespace {

std::string PlatformName() { return QGuiApplication::platformName().toStdString(); }

[[noreturn]] void RaiseCannot(const std::string& what) {
  Raise(ERR_General, what + " on the " + PlatformName() + " platform");
}

QScreen* Screen() {
  EnsureApplication();
  return QGuiApplication::primaryScreen();
}

// The run-time's MsgBox style flags.
struct MsgBoxButtons {
  std::int32_t Code;  // the value returned when the button is pressed
  QMessageBox::StandardButton Button;
};

std::vector<MsgBoxButtons> ButtonsOf(std::int32_t style) {
  using B = QMessageBox;
  switch (style & 7) {
    case 1: return {{1, B::Ok}, {2, B::Cancel}};
    case 2: return {{3, B::Abort}, {4, B::Retry}, {5, B::Ignore}};
    case 3: return {{6, B::Yes}, {7, B::No}, {2, B::Cancel}};
    case 4: return {{6, B::Yes}, {7, B::No}};
    case 5: return {{4, B::Retry}, {2, B::Cancel}};
    default: return {{1, B::Ok}};
  }
}

QMessageBox::Icon IconOf(std::int32_t style) {
  switch (style & 0x70) {
    case 16: return QMessageBox::Critical;
    case 32: return QMessageBox::Question;
    case 48: return QMessageBox::Warning;
    case 64: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

}  // namespace

QtDesktop::QtDesktop() = default;
QtDesktop::~QtDesktop() = default;

bool QtDesktop::HasUserInterface() const { return CanShowWindows(); }

void QtDesktop::ShowPreview(const platform::PreviewRequest& request) { ShowPreviewWindow(request); }
void QtDesktop::PrintDetached(const std::string& htmlFile) { ::qm::ui::PrintDetached(htmlFile); }

std::int32_t QtDesktop::MessageBox(const std::string& prompt, std::int32_t buttons, const std::string& title) {
  EnsureApplication();
  QMessageBox box(IconOf(buttons), Q(title.empty() ? std::string("Quillmark Library") : title), Q(prompt),
                  QMessageBox::NoButton, QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  const auto choices = ButtonsOf(buttons);
  std::vector<std::pair<QAbstractButton*, std::int32_t>> codes;
  for (const auto& choice : choices) codes.emplace_back(box.addButton(choice.Button), choice.Code);
  const std::size_t defaultIndex = static_cast<std::size_t>((buttons >> 8) & 3);
  if (defaultIndex < codes.size()) box.setDefaultButton(static_cast<QPushButton*>(codes[defaultIndex].first));
  box.exec();
  for (const auto& [button, code] : codes)
    if (box.clickedButton() == button) return code;
  // Closed without a button: the run-time answers Cancel where there is one.
  for (const auto& choice : choices)
    if (choice.Code == 2) return 2;
  return choices.front().Code;
}

void QtDesktop::SetMousePointer(platform::MousePointer pointer) {
  if (!QCoreApplication::instance()) return;  // no window, no pointer to change
  while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
  switch (pointer) {
    case platform::MousePointer::Default: break;
    case platform::MousePointer::Arrow: QGuiApplication::setOverrideCursor(Qt::ArrowCursor); break;
    case platform::MousePointer::Hourglass: QGuiApplication::setOverrideCursor(Qt::WaitCursor); break;
  }
}

double QtDesktop::TwipsPerPixelX() const {
  if (!CanShowWindows()) return platform::Headless().TwipsPerPixelX();
  return 1440.0 / Screen()->logicalDotsPerInchX();
}

double QtDesktop::TwipsPerPixelY() const {
  if (!CanShowWindows()) return platform::Headless().TwipsPerPixelY();
  return 1440.0 / Screen()->logicalDotsPerInchY();
}

std::int32_t QtDesktop::Metric(platform::SystemMetric metric) const {
  using platform::SystemMetric;
  if (!CanShowWindows()) return platform::Headless().Metric(metric);
  QScreen* screen = Screen();
  QStyle* style = QApplication::style();
  switch (metric) {
    case SystemMetric::CaptionHeight: return style->pixelMetric(QStyle::PM_TitleBarHeight);
    case SystemMetric::BorderWidth:
    case SystemMetric::BorderHeight: return style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
    case SystemMetric::MenuHeight: {
      QMenuBar bar;
      bar.addAction(QStringLiteral("File"));
      return bar.sizeHint().height();
    }
    case SystemMetric::ScreenWidth: return screen->geometry().width();
    case SystemMetric::ScreenHeight: return screen->geometry().height();
  }
  return 0;
}

void QtDesktop::DoEvents() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

X11Input* QtDesktop::X11() {
  EnsureApplication();
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
  if (!x11Tried_) {
    x11Tried_ = true;
    x11_ = X11Input::Open();
  }
  if (!x11_) Raise(ERR_General, errc::unavailable, "Cannot connect to the X server for mouse input");
  return x11_.get();
}

void QtDesktop::SetCursorPos(std::int32_t x, std::int32_t y) {
  if (X11Input* x11 = X11()) return x11->MoveCursor(x, y);
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) return QCursor::setPos(x, y);
  RaiseCannot("The mouse cursor cannot be moved");
}

void QtDesktop::GetCursorPos(std::int32_t& x, std::int32_t& y) {
  if (X11Input* x11 = X11()) return x11->CursorPos(x, y);
  // Elsewhere Qt knows where the cursor was last seen over its windows.
  const QPoint position = QCursor::pos();
  x = position.x();
  y = position.y();
}

void QtDesktop::SendMouseButton(platform::MouseButtonEvent event) {
  X11Input* x11 = X11();
  if (!x11) {
    if (!windowInput_) windowInput_ = std::make_unique<WindowInput>();
    if (!windowInput_->Send(event))
      Raise(ERR_General, "Mouse button events reach only this program's windows on the " + PlatformName() +
                             " platform, and none is under the pointer");
    return;
  }
  if (!x11->HasXTest())
    Raise(ERR_General, errc::unavailable, "Mouse button events need the X server's XTest extension, which is missing");
  using platform::MouseButtonEvent;
  switch (event) {
    case MouseButtonEvent::LeftDown: return x11->Button(1, true);
    case MouseButtonEvent::LeftUp: return x11->Button(1, false);
    case MouseButtonEvent::MiddleDown: return x11->Button(2, true);
    case MouseButtonEvent::MiddleUp: return x11->Button(2, false);
    case MouseButtonEvent::RightDown: return x11->Button(3, true);
    case MouseButtonEvent::RightUp: return x11->Button(3, false);
  }
}

platform::ScreenRect QtDesktop::GetWindowRect(std::int64_t hwnd) {
  EnsureApplication();
  if (QWidget* widget = QWidget::find(static_cast<WId>(hwnd))) {
    const QRect r =
        widget->isWindow() ? widget->frameGeometry() : QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
  }
  platform::ScreenRect rect;
  if (X11Input* x11 = X11(); x11 && hwnd > 0 && x11->WindowRect(hwnd, rect)) return rect;
  Raise(ERR_General, "GetWindowExtent failed");
}

platform::ScreenRect QtDesktop::GetDesktopRect() {
  const QRect r = Screen()->virtualGeometry();
  return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

void QtDesktop::SetTopMost(std::int64_t hwnd, bool topMost) {
  EnsureApplication();
  if (QWidget* widget = QWidget::find(static_cast<WId>(hwnd)); widget && widget->isWindow()) {
    const bool visible = widget->isVisible();
    widget->setWindowFlag(Qt::WindowStaysOnTopHint, topMost);
    if (visible) widget->show();  // changing the flags hides the window
    return;
  }
  if (X11Input* x11 = X11(); x11 && hwnd > 0 && x11->KeepAbove(hwnd, topMost)) return;
  Raise(ERR_General, "SetTopMost failed for window " + std::to_string(hwnd));
}

}  // namespace qm::ui
