#include "crashreport/errorlog/errorlog_hooks.h"

#include <mutex>

#include "platform/kernel/debugger.h"

namespace crashreport {
namespace {

std::mutex g_hooksLock;
TErrorLogHooks g_hooks;

void WriteDebugLine(std::string_view line) { kernel::WriteDebugLine(line); }

} // namespace

TErrorLogHooks ErrorLogHooks()
{
    TErrorLogHooks hooks;
    {
        std::lock_guard<std::mutex> lock(g_hooksLock);
        hooks = g_hooks;
    }
    if (hooks.DebuggerPresent == nullptr) hooks.DebuggerPresent = &kernel::IsDebuggerPresent;
    if (hooks.DebugOutput == nullptr) hooks.DebugOutput = &WriteDebugLine;
    return hooks;
}

TErrorLogHooks SetErrorLogHooks(const TErrorLogHooks& hooks)
{
    std::lock_guard<std::mutex> lock(g_hooksLock);
    TErrorLogHooks previous = g_hooks;
    g_hooks = hooks;
    return previous;
}

} // namespace crashreport
