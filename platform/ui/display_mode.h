#pragma once
// The primary screen's size and pixel depth, as the crash report shows them.
// Opens a display connection of its own for the question, so it does not
// touch the calling thread's connection. Not signal-safe.
namespace ui {

struct TDisplayMode {
    int Width = 0;
    int Height = 0;
    int BitsPerPixel = 0; // of the screen's pixels in memory (32 for depth 24)
};

// False when no screen can be reached. The headless backend answers with
// its own desktop.
bool QueryDisplayMode(TDisplayMode& mode);

} // namespace ui
