#include "crashreport/options/internal_error_sink.h"

#include <atomic>

namespace crashreport {

namespace {
std::atomic<TInternalErrorHandler> g_sink{nullptr};
} // namespace

TInternalErrorHandler SetInternalErrorHandler(TInternalErrorHandler handler) { return g_sink.exchange(handler); }

TInternalErrorHandler InternalErrorHandler() { return g_sink.load(); }

bool ReportInternalError(const std::string& sectionText)
{
    TInternalErrorHandler sink = g_sink.load();
    if (sink == nullptr) return false;
    try {
        sink(sectionText);
    } catch (...) {
        // The sink runs inside the guard of its caller.
    }
    return true;
}

} // namespace crashreport
