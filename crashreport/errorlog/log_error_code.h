#pragma once
// The reporter's warning codes (TTavrelLogErrorCode, shared with the event
// functions) and the names the debugger output gives them. Both functions
// are signal-safe (no allocation).
#include "crashreport/binding/exception_record.h"

namespace crashreport {

// "eeNone" .. "eeWebFTPError"; "" for a value outside the list.
const char* LogErrorCodeName(TTavrelLogErrorCode code);

// The codes of the sending steps (eeEmailSMTPError to eeWebFTPError), whose
// warnings are also shown while the sending-progress dialog is open.
bool IsSendingErrorCode(TTavrelLogErrorCode code);

} // namespace crashreport
