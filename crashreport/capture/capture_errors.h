#pragma once
// Where the exception capture reports a failure of its own code: one
// replaceable function, set by the internal error log when it starts. The
// default does nothing. The handler may be called on the raise path and from
// the fault handler, with texts that live in static storage; a handler that
// is not signal-safe must defer its work.
namespace crashreport {

using TCaptureErrorHandler = void (*)(const char* section, const char* text);

// Installs the handler (null: none); answers the previous one.
TCaptureErrorHandler SetCaptureErrorHandler(TCaptureErrorHandler handler);

// Hands a failure to the handler. Signal-safe itself.
void CaptureInternalError(const char* section, const char* text);

} // namespace crashreport
