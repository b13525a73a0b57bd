#pragma once
// The process's showing top-level windows across all user-interface
// threads, in the order they were shown: what a watcher on another thread
// may ask about. Thread-safe; not signal-safe (it locks).
#include <cstdint>
#include <vector>

#include "platform/ui/types.h"

namespace ui {

// Where a top-level window of any thread of the process is.
struct WindowPlacement {
    std::uint64_t native = 0; // its X window id; 0 headless
    TRect bounds{};           // client area on the screen
};
// Asks the window's thread, waiting at most timeoutMs (a busy or hung
// thread does not answer); false when it did not answer in time.
bool QueryWindowPlacement(HWND hwnd, unsigned timeoutMs, WindowPlacement& placement);

// The first showing top-level window without an owner (an application
// window, not a dialog that belongs to another window); 0 when none shows.
HWND FindApplicationWindow();
// Every showing top-level window of the process, in the order shown.
std::vector<HWND> ShownTopLevels();
// The top-level window of the process that was activated last (shown,
// focused by the user or brought forward); 0 when it is gone or none was.
HWND ForegroundWindow();

namespace detail {
// A form's answer to WM_QUERYPLACEMENT (wParam: the question's number).
bool AnswerPlacementQuestion(WPARAM question, const WindowPlacement& placement);
// Kept by Form as it is shown, hidden and destroyed.
void NoteTopLevelShown(HWND hwnd, bool owned);
void NoteTopLevelHidden(HWND hwnd);
void NoteTopLevelActivated(HWND hwnd);
} // namespace detail

} // namespace ui
