#include "crashreport/pipeline/deferred_errors.h"

#include "crashreport/options/internal_error_sink.h"
#include "platform/rtl/exception.h"

#include <atomic>

namespace crashreport {
namespace {

constexpr int kQueueSize = 16;

// A slot is free (0), being written (1) or full (2).
struct TDeferredError {
    std::atomic<int> State{0};
    const char* Section = nullptr;
    const char* Text = nullptr;
};

TDeferredError g_queue[kQueueSize];
std::atomic<int> g_dropped{0};

} // namespace

void DeferCaptureError(const char* section, const char* text)
{
    for (auto& slot : g_queue) {
        int expected = 0;
        if (!slot.State.compare_exchange_strong(expected, 1)) continue;
        slot.Section = section;
        slot.Text = text;
        slot.State.store(2);
        return;
    }
    g_dropped.fetch_add(1);
}

int DrainDeferredCaptureErrors()
{
    int handed = 0;
    for (auto& slot : g_queue) {
        if (slot.State.load() != 2) continue;
        const std::string section = slot.Section ? slot.Section : "Capture";
        const std::string text = slot.Text ? slot.Text : "";
        slot.State.store(0);
        try {
            throw rtl::Exception(text);
        } catch (...) {
            ReportInternalError(section);
        }
        ++handed;
    }
    return handed;
}

int DroppedCaptureErrors() { return g_dropped.load(); }

} // namespace crashreport
