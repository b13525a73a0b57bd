#include "crashreport/options/freeze_watch_hook.h"

#include <atomic>

namespace crashreport {

namespace {

std::atomic<TFreezeWatchControl*> g_control{nullptr};
std::atomic<TCurrentOptionsQuery> g_currentQuery{nullptr};

} // namespace

TFreezeWatchControl* SetFreezeWatchControl(TFreezeWatchControl* control) { return g_control.exchange(control); }

TFreezeWatchControl* FreezeWatchControl() { return g_control.load(); }

TCurrentOptionsQuery SetCurrentOptionsQuery(TCurrentOptionsQuery query) { return g_currentQuery.exchange(query); }

TTavrelModuleOptions* QueryCurrentOptions()
{
    const TCurrentOptionsQuery query = g_currentQuery.load();
    return query != nullptr ? query() : nullptr;
}

} // namespace crashreport
