#include "ui/X11Input.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace qm::ui {
namespace {

// Requests about windows that no longer exist must not end the process:
// Xlib's default handler exits. Errors are noted and the request reports failure.
int gLastXError = 0;
int NoteXError(Display*, XErrorEvent* event) {
  gLastXError = event->error_code;
  return 0;
}

}  // namespace

struct X11Input::Connection {
  Display* Dpy = nullptr;
  bool XTest = false;
  ~Connection() {
    if (Dpy) XCloseDisplay(Dpy);
  }
};

std::unique_ptr<X11Input> X11Input::Open() {
  auto connection = std::make_unique<Connection>();
  connection->Dpy = XOpenDisplay(nullptr);
  if (!connection->Dpy) return nullptr;
  int event = 0, error = 0, major = 0, minor = 0;
  connection->XTest = XTestQueryExtension(connection->Dpy, &event, &error, &major, &minor) == True;
  return std::make_unique<X11Input>(std::move(connection));
}

X11Input::X11Input(std::unique_ptr<Connection> connection) : connection_(std::move(connection)) {}
X11Input::~X11Input() = default;

bool X11Input::HasXTest() const { return connection_->XTest; }

void X11Input::MoveCursor(std::int32_t x, std::int32_t y) {
  Display* dpy = connection_->Dpy;
  XWarpPointer(dpy, None, DefaultRootWindow(dpy), 0, 0, 0, 0, x, y);
  XSync(dpy, False);
}

void X11Input::CursorPos(std::int32_t& x, std::int32_t& y) {
  Display* dpy = connection_->Dpy;
  Window root = 0, child = 0;
  int rootX = 0, rootY = 0, winX = 0, winY = 0;
  unsigned mask = 0;
  XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &rootX, &rootY, &winX, &winY, &mask);
  x = rootX;
  y = rootY;
}

void X11Input::Button(unsigned button, bool press) {
  Display* dpy = connection_->Dpy;
  XTestFakeButtonEvent(dpy, button, press ? True : False, CurrentTime);
  XSync(dpy, False);
}

bool X11Input::WindowRect(std::int64_t window, platform::ScreenRect& rect) {
  Display* dpy = connection_->Dpy;
  const Window root = DefaultRootWindow(dpy);
  auto* previous = XSetErrorHandler(NoteXError);
  gLastXError = 0;
  // A top-level window sits inside its window manager's frame: measure the
  // ancestor that is a direct child of the root.
  Window target = static_cast<Window>(window);
  for (;;) {
    Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(dpy, target, &rootReturn, &parent, &children, &count)) break;
    if (children) XFree(children);
    if (parent == root || parent == 0) break;
    target = parent;
  }
  XWindowAttributes attributes{};
  bool ok = gLastXError == 0 && XGetWindowAttributes(dpy, target, &attributes) != 0;
  int x = 0, y = 0;
  Window child = 0;
  if (ok) ok = XTranslateCoordinates(dpy, target, root, 0, 0, &x, &y, &child) != 0;
  XSync(dpy, False);
  ok = ok && gLastXError == 0;
  XSetErrorHandler(previous);
  if (!ok) return false;
  // The border lies outside the window's origin.
  x -= attributes.border_width;
  y -= attributes.border_width;
  rect.Left = x;
  rect.Top = y;
  rect.Right = x + attributes.width + 2 * attributes.border_width;
  rect.Bottom = y + attributes.height + 2 * attributes.border_width;
  return true;
}

bool X11Input::KeepAbove(std::int64_t window, bool above) {
  Display* dpy = connection_->Dpy;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = static_cast<Window>(window);
  event.xclient.message_type = XInternAtom(dpy, "_NET_WM_STATE", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = above ? 1 : 0;  // _NET_WM_STATE_ADD / _REMOVE
  event.xclient.data.l[1] = static_cast<long>(XInternAtom(dpy, "_NET_WM_STATE_ABOVE", False));
  event.xclient.data.l[3] = 1;  // a normal application
  const Status sent =
      XSendEvent(dpy, DefaultRootWindow(dpy), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XSync(dpy, False);
  return sent != 0;
}

}  // namespace qm::ui
