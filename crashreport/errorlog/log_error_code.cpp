#include "crashreport/errorlog/log_error_code.h"

namespace crashreport {

const char* LogErrorCodeName(TTavrelLogErrorCode code)
{
    static constexpr const char* kNames[] = {"eeNone",           "eeShowError",       "eeLogError",
                                             "eeEmailMAPIError", "eeEmailShellError", "eeEmailSMTPError",
                                             "eeWebHTTPError",   "eeWebHTTPSError",   "eeWebFTPError"};
    const int index = static_cast<int>(code);
    return index >= 0 && index < static_cast<int>(sizeof kNames / sizeof kNames[0]) ? kNames[index] : "";
}

bool IsSendingErrorCode(TTavrelLogErrorCode code) { return code >= eeEmailSMTPError && code <= eeWebFTPError; }

} // namespace crashreport
