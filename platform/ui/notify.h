#pragma once
// Parameters of the child-to-parent messages that owner-drawn and complex
// controls send: WM_DRAWITEM (lParam points to a DrawItemParams) and
// WM_NOTIFY (lParam points to a NotifyHeader, or a larger record that starts
// with one). Both are sent with Perform on the parent, on its own thread, and
// the pointers are valid only during the call.
#include <cstdint>

#include "platform/gdi/canvas.h"
#include "platform/ui/types.h"

namespace ui {

enum OwnerDrawState : unsigned { ODS_SELECTED = 0x0001, ODS_DISABLED = 0x0004, ODS_FOCUS = 0x0010 };

struct DrawItemParams {
    int ctlId = 0;                 // the control's Id
    HWND hwndItem = 0;             // the control
    int itemId = -1;               // the item's index
    unsigned itemState = 0;        // OwnerDrawState bits
    gdi::Canvas* canvas = nullptr; // the control's canvas (control coordinates)
    TRect rcItem;                  // the item's rectangle on that canvas
    std::uintptr_t itemData = 0;
};

struct NotifyHeader {
    HWND hwndFrom = 0;
    int idFrom = 0;
    int code = 0;
};

// Common notification codes (negative, as the original platform's).
enum : int { NM_CLICK = -2, NM_DBLCLK = -3, NM_RETURN = -4 };

} // namespace ui
