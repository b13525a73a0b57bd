#include "crashreport/errorlog/warnings.h"

#include <atomic>
#include <mutex>

#include "crashreport/errorlog/errorlog_hooks.h"
#include "crashreport/errorlog/handled_exception.h"
#include "platform/rtl/format.h"

namespace crashreport {
namespace {

std::mutex g_warningLock;
TLastWarning g_last;
std::atomic<std::uint64_t> g_sendingWindow{0};

} // namespace

std::string FormatLogAddress(const void* address)
{
    return rtl::Format("%0*llX", static_cast<int>(2 * sizeof(void*)),
                       static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(address)));
}

void Warning(TTavrelLogErrorCode code, const std::string& text)
{
    const THandledException failure = CurrentHandledException();
    if (failure.Language)
        RecordWarning(code, rtl::FormatStrings("[%s] %s", {text, failure.Message}));
    else
        RecordWarning(code, rtl::FormatStrings("General '%s' error.", {text}));
}

void RecordWarning(TTavrelLogErrorCode code, const std::string& message)
{
    {
        std::lock_guard<std::mutex> lock(g_warningLock);
        g_last = TLastWarning{code, message};
    }
    const TErrorLogHooks hooks = ErrorLogHooks();
    if (hooks.DebuggerPresent()) {
        const void* address = hooks.ExceptionAddress ? hooks.ExceptionAddress() : nullptr;
        hooks.DebugOutput(rtl::FormatStrings("[WARNING] - Code: %s - Address: %s - Message: \"%s\"",
                                             {LogErrorCodeName(code), FormatLogAddress(address), message}));
    }
    if (SendingProgressWindow() != 0 && IsSendingErrorCode(code) && hooks.MessageBox != nullptr)
        hooks.MessageBox(message, "Error.",
                         kBoxOk | kBoxIconStop | kBoxTaskModal | kBoxTopMost | kBoxServiceNotification);
}

void ClearWarning()
{
    std::lock_guard<std::mutex> lock(g_warningLock);
    g_last = TLastWarning{};
}

TLastWarning LastWarning()
{
    std::lock_guard<std::mutex> lock(g_warningLock);
    return g_last;
}

void SetSendingProgressWindow(std::uint64_t window) { g_sendingWindow = window; }

std::uint64_t SendingProgressWindow() { return g_sendingWindow.load(); }

} // namespace crashreport
