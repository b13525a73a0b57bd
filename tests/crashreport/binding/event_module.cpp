// A library that carries the crash reporter: its event exports run its own
// global handlers, which report to the test through a callback.
#include <cstring>
#include <string>

#include "crashreport/binding/events.h"

using namespace crashreport;

namespace {

void (*g_log)(const char*) = nullptr;

void Notify(void*, const TTavrelExceptionRecord& record, bool& handle)
{
    g_log((std::string("module:") + (record.Text ? record.Text : "")).c_str());
    handle = false;
}

void Password(void*, const TTavrelExceptionRecord&, std::string& password) { password = "from-module"; }

void CustomData(void*, const TTavrelExceptionRecord&, std::string& data) { data += "[module]"; }

} // namespace

extern "C" __attribute__((visibility("default"))) void EventModuleInstall(void (*log)(const char*))
{
    g_log = log;
    GlobalEventHandlers().OnExceptionNotify = &Notify;
    GlobalEventHandlers().OnPasswordRequestEx = &Password;
    GlobalEventHandlers().OnCustomDataRequest = &CustomData;
}

extern "C" __attribute__((visibility("default"), noinline)) int EventModuleCode(int v) { return v * 3 + 1; }
