#pragma once
// The process's showing top-level windows across all user-interface
// threads, in the order they were shown: what a watcher on another thread
// may ask about. Thread-safe; not signal-safe (it locks).
#include "platform/ui/types.h"

namespace ui {

// The first showing top-level window without an owner (an application
// window, not a dialog that belongs to another window); 0 when none shows.
HWND FindApplicationWindow();

namespace detail {
// Kept by Form as it is shown, hidden and destroyed.
void NoteTopLevelShown(HWND hwnd, bool owned);
void NoteTopLevelHidden(HWND hwnd);
} // namespace detail

} // namespace ui
