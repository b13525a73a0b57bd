#pragma once
// The waiting main thread's message pumping while a report runs: up to 11
// messages a round; quit is removed and dropped; non-client mouse messages,
// keyboard messages and mouse button messages are dropped with the default
// beep; everything else is dispatched (paints keep the windows drawn).
// The desktop side's report host pumps and reads the focus with these.
#include "crashreport/capture/captured_exception.h"

#include <cstdint>

namespace crashreport {

constexpr int kPumpMessagesPerRound = 11;

// Whether the waiting loop drops the message (with a beep).
bool IsDroppedWhileWaiting(std::uint32_t message);

// One round; false when dispatching raised (pumping stops for this wait).
// Not signal-safe: window procedures run.
bool WaitingPumpRound();

// The class and text of the calling thread's focused window (the focused
// control of its active form, else the form), each cut to 255 characters;
// a password edit's text as a row of '*' of the same length. Not signal-safe.
void FillFocusOfThisThread(TExceptNotifyParams& params);

} // namespace crashreport
