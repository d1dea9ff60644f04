#include "quillmark/ui/Mouse.h"

#include "quillmark/frame/Frame.h"
#include "quillmark/platform/Desktop.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Dispatch.h"

namespace qm::ui {
namespace {

using platform::MouseButtonEvent;

void Send(MouseButtonEvent event) { platform::Current().SendMouseButton(event); }

}  // namespace

void Mouse::Move(std::int32_t x, std::int32_t y) {
  QM_FRAME_TRY { platform::Current().SetCursorPos(x, y); }
  QM_FRAME_CATCH("Mouse", "Public Sub Move", x, y);
}

void Mouse::Click() {
  QM_FRAME_TRY {
    LeftDown();
    LeftUp();
  }
  QM_FRAME_CATCH("Mouse", "Public Sub Click");
}

void Mouse::RightClick() {
  QM_FRAME_TRY {
    RightDown();
    RightUp();
  }
  QM_FRAME_CATCH("Mouse", "Public Sub RightClick");
}

void Mouse::LeftDown() {
  QM_FRAME_TRY { Send(MouseButtonEvent::LeftDown); }
  QM_FRAME_CATCH("Mouse", "Public Sub LeftDown");
}

void Mouse::LeftUp() {
  QM_FRAME_TRY { Send(MouseButtonEvent::LeftUp); }
  QM_FRAME_CATCH("Mouse", "Public Sub LeftUp");
}

void Mouse::RightDown() {
  QM_FRAME_TRY { Send(MouseButtonEvent::RightDown); }
  QM_FRAME_CATCH("Mouse", "Public Sub RightDown");
}

void Mouse::RightUp() {
  QM_FRAME_TRY { Send(MouseButtonEvent::RightUp); }
  QM_FRAME_CATCH("Mouse", "Public Sub RightUp");
}

void Mouse::DoubleClick() {
  QM_FRAME_TRY {
    Click();
    Click();
  }
  QM_FRAME_CATCH("Mouse", "Public Sub DoubleClick");
}

std::int32_t Mouse::GetX() {
  QM_FRAME_TRY {
    std::int32_t x = 0, y = 0;
    platform::Current().GetCursorPos(x, y);
    return x;
  }
  QM_FRAME_CATCH("Mouse", "Public Function GetX");
}

std::int32_t Mouse::GetY() {
  QM_FRAME_TRY {
    std::int32_t x = 0, y = 0;
    platform::Current().GetCursorPos(x, y);
    return y;
  }
  QM_FRAME_CATCH("Mouse", "Public Function GetY");
}

std::shared_ptr<RectLong> Mouse::GetWindowExtent(const ObjectPtr& Object) {
  QM_FRAME_TRY {
    const std::int32_t hwnd = CLng(AsDispatch(Object).Get("hwnd"));
    const platform::ScreenRect rect = platform::Current().GetWindowRect(hwnd);
    auto extent = std::make_shared<RectLong>();
    extent->Bottom = rect.Bottom;
    extent->Top = rect.Top;
    extent->Left = rect.Left;
    extent->Right = rect.Right;
    return extent;
  }
  QM_FRAME_CATCH("Mouse", "Public Function GetWindowExtent", Object);
}

}  // namespace qm::ui
