#pragma once
// The start of the reporter that the module carries, right after its
// capture started: defined by the one autostart object the module links
// (the console pipeline's or the desktop side's), absent in a module that
// carries the capture alone. The capture's autostart calls it, so the
// order of the start-up is code in one place, not constructor priorities.
extern "C" __attribute__((weak)) void TavrelLog_StartReporter();
