#pragma once
// Warnings: expected failures of a reporting step (a mail program that
// cannot be reached, a log that cannot be written). The last one is kept
// for the report and the dialog, and each goes to the debugger output.
// Not signal-safe: they run on the reporting and sending threads.
#include <cstdint>
#include <string>

#include "crashreport/errorlog/log_error_code.h"

namespace crashreport {

struct TLastWarning {
    TTavrelLogErrorCode Code = eeNone;
    std::string Message;
};

// Called while the failure is being handled: "[<text>] <message>" for a
// language exception, else "General '<text>' error.", then recorded.
void Warning(TTavrelLogErrorCode code, const std::string& text);

// Keeps code and message as the last warning and writes
// "[WARNING] - Code: <name> - Address: <address> - Message: \"<message>\""
// to the debugger output. While the sending-progress dialog is open, the
// warnings of the sending steps are also shown in a message box.
void RecordWarning(TTavrelLogErrorCode code, const std::string& message);

void ClearWarning();
TLastWarning LastWarning();

// The window of the sending-progress dialog while it is open, 0 when none.
void SetSendingProgressWindow(std::uint64_t window);
std::uint64_t SendingProgressWindow();

// An address as the log writes it: upper-case hexadecimal digits, as many
// as a pointer has.
std::string FormatLogAddress(const void* address);

} // namespace crashreport
