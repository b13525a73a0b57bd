#pragma once
// Internal errors of the capture that happen where nothing may be formatted
// or allocated (the fault handler, the raise path): they are queued
// signal-safely and handed to the internal error log later, at the start of
// the next report or when the queue is drained.
namespace crashreport {

// The capture's error handler: keeps the two texts (static storage) in a
// fixed queue of 16 entries; further errors while it is full are counted
// and dropped. Signal-safe.
void DeferCaptureError(const char* section, const char* text);

// Hands every queued error to the internal error log. Not signal-safe.
// Answers how many were handed over.
int DrainDeferredCaptureErrors();
int DroppedCaptureErrors();

} // namespace crashreport
