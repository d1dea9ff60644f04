#pragma once
// qm::platform::Desktop: the services the library needs from a desktop.
//
// Core installs a headless desktop: where a window would be needed it raises
// "No user interface is available: link quillmark::ui and run with a display";
// message boxes go to standard error. Linking quillmark::ui installs the Qt
// desktop without any call.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm {
class Object;
}

namespace qm::platform {

/// Number of the error the headless desktop raises.
inline constexpr std::int32_t ERR_NoUserInterface = ERR_General;
/// Description of the headless desktop's error.
inline constexpr const char* kNoUserInterfaceText =
    "No user interface is available: link quillmark::ui and run with a display";

/// Pointer shapes, numbered as the run-time's MousePointer values.
enum class MousePointer { Default = 0, Arrow = 1, Hourglass = 11 };

/// The system metrics the layout helpers use, in pixels.
enum class SystemMetric {
  CaptionHeight,  // height of a window's caption bar
  BorderWidth,    // width of a sizable window's frame
  BorderHeight,
  MenuHeight,
  ScreenWidth,
  ScreenHeight,
};

/// Button presses and releases that SendMouseButton synthesises.
enum class MouseButtonEvent { LeftDown, LeftUp, RightDown, RightUp, MiddleDown, MiddleUp };

/// A rectangle on the screen in pixels; Right and Bottom lie just outside it.
struct QUILLMARK_EXPORT ScreenRect {
  std::int32_t Left = 0;    ///< The left edge, from the screen's left.
  std::int32_t Top = 0;     ///< The top edge, from the screen's top.
  std::int32_t Right = 0;   ///< The first column right of the rectangle.
  std::int32_t Bottom = 0;  ///< The first row below the rectangle.
};

/// What the document preview needs to show an HTML file.
struct QUILLMARK_EXPORT PreviewRequest {
  std::string HtmlFile;                   ///< The path of the page to show.
  std::string Caption;                    ///< The preview window's caption.
  std::int32_t DisplayButtons = 0;        ///< Which buttons the preview offers (flags of the preview's options).
  bool PrintOnly = false;                 ///< Print and close without showing the window.
  std::shared_ptr<Object> PrintSettings;  ///< The PrintSettings object to print with, or null for the defaults.
};

/// What the library needs from the windowing system: the preview, message
/// boxes, the mouse, window placement and measures. The core installs a
/// headless desktop whose calls raise ERR_NoUserInterface; the ui library
/// installs one over Qt when it is loaded.
class QUILLMARK_EXPORT Desktop {
 public:
  virtual ~Desktop() = default;

  /// True when windows can be shown.
  virtual bool HasUserInterface() const = 0;

  /// Shows the document preview of an HTML file, modally.
  virtual void ShowPreview(const PreviewRequest& request) = 0;
  /// Starts printing an HTML file without waiting for it.
  virtual void PrintDetached(const std::string& htmlFile) = 0;

  /// A plain message box; returns the run-time's button code (1 = OK ...).
  /// `buttons` carries the run-time's MsgBox style flags.
  virtual std::int32_t MessageBox(const std::string& prompt, std::int32_t buttons, const std::string& title) = 0;

  /// Shows the given pointer shape over every window of the application.
  virtual void SetMousePointer(MousePointer pointer) = 0;
  /// The pointer shape shown now, so that a busy phase can put it back.
  virtual MousePointer GetMousePointer() const { return MousePointer::Default; }
  ///@{
  /// Twips (1/1440 inch) per screen pixel across and down: 15 at 96 dpi.
  virtual double TwipsPerPixelX() const = 0;
  virtual double TwipsPerPixelY() const = 0;
  ///@}
  /// A measure of the window system, in pixels.
  virtual std::int32_t Metric(SystemMetric metric) const = 0;

  /// Processes pending window events once.
  virtual void DoEvents() = 0;

  ///@{
  /// Cursor position and button input, in screen pixels; the headless
  /// desktop raises ERR_NoUserInterface.
  virtual void SetCursorPos(std::int32_t x, std::int32_t y) = 0;
  virtual void GetCursorPos(std::int32_t& x, std::int32_t& y) = 0;
  virtual void SendMouseButton(MouseButtonEvent event) = 0;
  ///@}

  ///@{
  /// Window rectangles (the desktop's is its work area) and z-order, by
  /// native window handle; the headless desktop raises ERR_NoUserInterface.
  virtual ScreenRect GetWindowRect(std::int64_t hwnd) = 0;
  virtual ScreenRect GetDesktopRect() = 0;
  virtual void SetTopMost(std::int64_t hwnd, bool topMost) = 0;
  ///@}
  /// Brings a window to the top of the z-order and activates it. The default
  /// has no windows and raises the headless desktop's error.
  virtual void BringToTop(std::int64_t hwnd);

  /// Width in pixels of `text` in the current font of a device context.
  /// The default estimates 7 pixels per character, the average width of an
  /// 8-point sans-serif font at 96 dpi.
  virtual std::int32_t TextWidth(std::int64_t deviceContext, const std::string& text);
};

/// The desktop in use: the installed one, else the headless one.
QUILLMARK_EXPORT Desktop& Current();

/// Installs a desktop (the ui library does this when it is loaded);
/// nullptr goes back to the headless one.
QUILLMARK_EXPORT void Install(std::unique_ptr<Desktop> desktop);

/// The headless desktop, which Current() gives while none is installed: a
/// desktop without a display can answer its measures from it (a 96 dpi screen
/// of 1024 by 768 pixels).
QUILLMARK_EXPORT Desktop& Headless();

/// Raises the headless desktop's error.
[[noreturn]] QUILLMARK_EXPORT void RaiseNoUserInterface();

}  // namespace qm::platform
