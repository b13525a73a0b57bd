// The public interface (include/tavrellog/tavrellog.h) over the capture,
// the pipeline's reporter, the options and the events. Nothing here is
// signal-safe.
#include "tavrellog/tavrellog.h"

#include "crashreport/binding/events.h"
#include "crashreport/capture/capture_state.h"
#include "crashreport/capture/captured_exception.h"
#include "crashreport/capture/exception_capture.h"
#include "crashreport/capture/reporter_start.h"
#include "crashreport/modules/module_info.h"
#include "crashreport/modules/stored_data_loader.h"
#include "crashreport/options/module_options_ex.h"
#include "crashreport/options/options_text.h"
#include "crashreport/pipeline/reporter.h"
#include "platform/kernel/modules.h"

#include <memory>
#include <mutex>
#include <typeinfo>
#include <utility>
#include <vector>

namespace tavrellog {
namespace {

namespace cr = crashreport;

// The start and stop and the options. Taken before the capture lock, never
// inside a report.
std::mutex g_startLock;
// The handlers: a leaf lock, taken inside a report for a copy.
std::mutex g_handlerLock;
std::function<bool(const ExceptionInfo&)> g_exceptionHandler;
std::function<std::string(const ExceptionInfo&)> g_customDataHandler;

__attribute__((visibility("hidden"), noinline)) void Marker() { asm volatile(""); }

// The records OwnModuleRecord made: they live until the process ends (the
// capture keeps their options), reachable from here.
std::vector<std::unique_ptr<cr::TTavrelModuleInfo>>& Records()
{
    static auto* records = new std::vector<std::unique_ptr<cr::TTavrelModuleInfo>>;
    return *records;
}

// The record of the module that carries this code, with its stored options
// (light mode: no debug data), or the defaults when it has none.
cr::TTavrelModuleInfo* OwnModuleRecord()
{
    Records().push_back(cr::ModuleRecordWithStoredOptions(reinterpret_cast<const void*>(&Marker), true));
    return Records().back().get();
}

ExceptionInfo InfoOf(const cr::TTavrelExceptionRecord& record)
{
    ExceptionInfo info;
    info.Message = record.Text ? record.Text : "";
    info.Address = record.ExceptionAddress;
    info.ThreadId = static_cast<std::uint32_t>(record.ThreadID);
    return info;
}

template <class F> F HandlerCopy(const F& handler)
{
    std::lock_guard<std::mutex> lock(g_handlerLock);
    return handler;
}

void OnExceptionNotify(void*, const cr::TTavrelExceptionRecord& record, bool& handle)
{
    if (const auto handler = HandlerCopy(g_exceptionHandler))
        if (!handler(InfoOf(record))) handle = false;
}

void OnCustomDataRequest(void*, const cr::TTavrelExceptionRecord& record, std::string& customData)
{
    if (const auto handler = HandlerCopy(g_customDataHandler)) {
        std::string text = handler(InfoOf(record));
        if (!text.empty()) customData = std::move(text);
    }
}

// The event component of this interface, registered once with the first handler.
void RegisterHandlers()
{
    static const cr::TTavrelEventHandlers* component = [] {
        static cr::TTavrelEventHandlers handlers;
        handlers.OnExceptionNotify = &OnExceptionNotify;
        handlers.OnCustomDataRequest = &OnCustomDataRequest;
        cr::TTavrelLogList::Instance().Register(&handlers);
        return &handlers;
    }();
    (void)component;
}

// The address the capture recorded for this object when it was raised, if
// it was the last one raised.
void* RaisedAddressOf(const void* object)
{
    const cr::TLastException last = cr::LastExceptionCopy();
    return last.Object.Object == object ? last.Address : nullptr;
}

} // namespace

bool Running() { return cr::ExceptionCaptureStarted() && cr::CurrentReporter(); }

bool Start()
{
    std::lock_guard<std::mutex> lock(g_startLock);
    if (!cr::ExceptionCaptureStarted()) {
        cr::TCaptureStartup startup;
        startup.Options = OwnModuleRecord()->Options.get();
        startup.Force = true;
        if (!cr::StartExceptionCapture(startup)) return false;
    }
    if (!cr::CurrentReporter()) {
        // The start the program links (the desktop side's or the console's);
        // once started and stopped, the reporter it made comes back.
        if (TavrelLog_StartReporter) TavrelLog_StartReporter();
        if (!cr::CurrentReporter()) cr::StartReporter();
    }
    return cr::ExceptionCaptureStarted() && cr::CurrentReporter();
}

void Stop()
{
    std::lock_guard<std::mutex> lock(g_startLock);
    cr::StopReporter();
    cr::StopExceptionCapture();
}

bool SetOptions(const std::string& text, std::string* error)
{
    std::lock_guard<std::mutex> lock(g_startLock);
    if (!cr::ExceptionCaptureStarted()) {
        if (error) *error = "the reporter does not run";
        return false;
    }
    // A report copies the options under the capture lock: they change
    // between reports, never during one.
    std::lock_guard<std::recursive_mutex> capture(cr::Capture().CaptureLock);
    try {
        cr::TTavrelModuleOptions& live = cr::CurrentTavrelLogOptions();
        cr::TTavrelModuleOptions changed(live.ModuleFile(), false);
        changed.Assign(&live);
        const cr::TOptionsText given = cr::ApplyOptionsText(text, "options", changed);
        for (std::size_t i = 0; i < given.Texts.size(); ++i)
            if (given.Texts[i]) changed.SetText(i, *given.Texts[i]);
        live.Assign(&changed);
        return true;
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return false;
    }
}

void SetExceptionHandler(std::function<bool(const ExceptionInfo&)> handler)
{
    RegisterHandlers();
    std::lock_guard<std::mutex> lock(g_handlerLock);
    g_exceptionHandler = std::move(handler);
}

void SetCustomDataHandler(std::function<std::string(const ExceptionInfo&)> handler)
{
    RegisterHandlers();
    std::lock_guard<std::mutex> lock(g_handlerLock);
    g_customDataHandler = std::move(handler);
}

bool ReportException(const std::exception& exception)
{
    if (!Running()) return false;
    void* object = const_cast<std::exception*>(&exception);
    return !ExceptionManager(object, &typeid(exception), RaisedAddressOf(&exception), cr::rkApplication, 0);
}

} // namespace tavrellog
