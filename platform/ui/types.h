#pragma once
// The toolkit's basic vocabulary: window handles, messages and their
// parameters, virtual-key codes and geometry. The model is Win32's: every
// window belongs to the thread that made it, and everything that happens to
// a window arrives as a message through that thread's queue.
#include <cstdint>

#include "platform/gdi/geometry.h"

namespace ui {

using HWND = std::uint64_t; // 0: no window; handles are never reused
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using UINT = unsigned;

using gdi::TPoint;
using gdi::TRect;
using gdi::TSize;

struct Msg {
    HWND hwnd = 0;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::uint64_t time = 0; // milliseconds of the monotonic clock when it was queued
};

// Messages. The numbers are Win32's so that code written against that model
// reads the same; only those the toolkit produces or handles are listed.
enum : UINT {
    WM_NULL = 0x0000,
    WM_CREATE = 0x0001,
    WM_DESTROY = 0x0002,
    WM_MOVE = 0x0003,
    WM_SIZE = 0x0005,
    WM_ACTIVATE = 0x0006,
    WM_SETFOCUS = 0x0007,
    WM_KILLFOCUS = 0x0008,
    WM_ENABLE = 0x000A,
    WM_SETTEXT = 0x000C,
    WM_PAINT = 0x000F,
    WM_CLOSE = 0x0010,
    WM_QUIT = 0x0012,
    WM_SHOWWINDOW = 0x0018,
    WM_DRAWITEM = 0x002B, // owner draw: lParam points to a DrawItemParams
    WM_NOTIFY = 0x004E,   // child-to-parent notification: lParam points to a NotifyHeader
    WM_KEYFIRST = 0x0100,
    WM_KEYDOWN = 0x0100,
    WM_KEYUP = 0x0101,
    WM_CHAR = 0x0102, // wParam: the Unicode code point
    WM_KEYLAST = 0x0109,
    WM_COMMAND = 0x0111, // wParam: notification code << 16 | control id; lParam: control HWND
    WM_SYSCOMMAND = 0x0112, // wParam: SC_RESTORE brings a form back and to the front
    WM_TIMER = 0x0113,   // wParam: timer id
    WM_MOUSEFIRST = 0x0200,
    WM_MOUSEMOVE = 0x0200,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_LBUTTONDBLCLK = 0x0203,
    WM_RBUTTONDOWN = 0x0204,
    WM_RBUTTONUP = 0x0205,
    WM_MOUSEWHEEL = 0x020A, // wParam: signed wheel steps (positive: away from the user)
    WM_MOUSELAST = 0x020E,
    WM_USER = 0x0400,
    // A form's native handle and bounds for a window of another thread
    // (QueryWindowPlacement in app_windows.h); answers 1.
    WM_QUERYPLACEMENT = 0x0401,
    WM_APP = 0x8000,
};
enum : WPARAM { SC_RESTORE = 0xF120 };

// Mouse messages: lParam = MakePoint(x, y) in the receiving window's client
// coordinates. Key messages: wParam = virtual key, lParam = modifier flags.
constexpr LPARAM MakePoint(int x, int y)
{
    return static_cast<LPARAM>((static_cast<std::uint32_t>(y) << 16) | (static_cast<std::uint32_t>(x) & 0xFFFFu));
}
constexpr TPoint PointFromLParam(LPARAM l)
{
    return TPoint{static_cast<std::int16_t>(l & 0xFFFF), static_cast<std::int16_t>((l >> 16) & 0xFFFF)};
}
constexpr WPARAM MakeWParam(unsigned low, unsigned high)
{
    return (static_cast<WPARAM>(high & 0xFFFF) << 16) | (low & 0xFFFF);
}

enum KeyModifier : unsigned { kmShift = 1u << 0, kmCtrl = 1u << 1, kmAlt = 1u << 2 };

// Button notifications carried in WM_COMMAND's high word.
enum : unsigned { BN_CLICKED = 0, EN_CHANGE = 0x0300, LBN_SELCHANGE = 1, LBN_DBLCLK = 2 };

enum VirtualKey : unsigned {
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,
    VK_ESCAPE = 0x1B,
    VK_SPACE = 0x20,
    VK_PRIOR = 0x21,
    VK_NEXT = 0x22,
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_INSERT = 0x2D,
    VK_DELETE = 0x2E,
    VK_F1 = 0x70,
    // Letters are their upper-case ASCII codes, 'A'..'Z'; digits '0'..'9'.
};

// PeekMessage flags.
enum : UINT { PM_NOREMOVE = 0x0, PM_REMOVE = 0x1 };

constexpr bool IsInputMessage(UINT m)
{
    return (m >= WM_KEYFIRST && m <= WM_KEYLAST) || (m >= WM_MOUSEFIRST && m <= WM_MOUSELAST);
}

} // namespace ui
