#include "crashreport/capture/capture_errors.h"

#include <atomic>

namespace crashreport {
namespace {
std::atomic<TCaptureErrorHandler> g_handler{nullptr};
}

TCaptureErrorHandler SetCaptureErrorHandler(TCaptureErrorHandler handler) { return g_handler.exchange(handler); }

void CaptureInternalError(const char* section, const char* text)
{
    if (TCaptureErrorHandler handler = g_handler.load()) handler(section ? section : "", text ? text : "");
}

} // namespace crashreport
