#include "crashreport/pipeline/gtk_interceptors.h"

#include "crashreport/capture/capture_errors.h"
#include "crashreport/capture/capture_queries.h"
#include "crashreport/capture/capture_state.h"
#include "crashreport/capture/dispatcher.h"
#include "crashreport/capture/exception_capture.h"
#include "crashreport/hook/hook_engine.h"
#include "crashreport/hook/module_loading.h"
#include "crashreport/pipeline/glib_types.h"
#include "crashreport/pipeline/gtk_closures.h"
#include "platform/kernel/files.h"
#include "platform/kernel/libraries.h"
#include "platform/kernel/modules.h"

#include <cxxabi.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <string>
#include <typeinfo>
#include <vector>

namespace crashreport {
namespace {

using namespace glib;

// GTK 3. The intercepted code is GLib's and GObject's; the lookups search
// GTK and its dependencies, so they find nothing in a program without GTK.
constexpr const char* kGtk = "libgtk-3.so.0";
// The dispatch function's place in GSourceFuncs (prepare, check, dispatch).
constexpr int kDispatchSlot = 2;

using TSourceDispatch = gboolean (*)(GSource* source, GSourceFunc callback, gpointer data);

std::mutex g_installLock; // serialises installation, removal and the load observer
std::atomic<bool> g_gtkInstalled{false};
std::atomic<bool> g_following{false};
// The lookups below load nothing but pass through the followed dlopen,
// which calls the load observer on the same thread.
thread_local bool t_installing = false;

// The trampolines through which GLib's own procedures still run.
std::atomic<TCClosureNew> g_cclosureNew{nullptr};
std::atomic<TCClosureNew> g_cclosureNewSwap{nullptr};
std::atomic<TSetMetaMarshal> g_setMetaMarshal{nullptr};
std::atomic<TSourceDispatch> g_idleDispatch{nullptr};
std::atomic<TSourceDispatch> g_timeoutDispatch{nullptr};
std::atomic<THandlersMatched> g_blockMatched{nullptr};
std::atomic<THandlersMatched> g_unblockMatched{nullptr};
std::atomic<THandlersMatched> g_disconnectMatched{nullptr};
std::atomic<THandlerFind> g_handlerFind{nullptr};
// The procedures intercepted, for the removal.
std::vector<void*> g_targets;
void* g_idleFuncs = nullptr;
void* g_timeoutFuncs = nullptr;

// The address the capture recorded for this object, when it was the last one.
void* CapturedAddressOf(const void* object)
{
    const TLastException last = LastExceptionCopy();
    return last.Object.Object == object ? last.Address : nullptr;
}

void WriteDefaultHandling(const std::string& text)
{
    const std::string line = "Exception in a GTK callback: " + text + "\n";
    kernel::WriteAll(2, line.data(), line.size());
}

// Called inside a guard's catch, after the unwinding, on the thread's own
// stack (not the crash path: not signal-safe, may allocate). Reports as the
// application object's handler does; when the reporter leaves the default
// handling (reporter off, filtered, raised during a report) the message
// goes to standard error, as GTK has no handler of its own.
void ReportEscapedException(std::exception_ptr exception)
{
    bool defaultHandling = true;
    std::string text;
    const bool report = ExceptionCaptureStarted() && !InsideDispatch();
    try {
        std::rethrow_exception(exception);
    } catch (const std::exception& e) {
        text = e.what();
        if (report)
            defaultHandling = ExceptionManager(const_cast<std::exception*>(&e), &typeid(e), CapturedAddressOf(&e),
                                               rkApplication, 0);
    } catch (...) {
        // No class the reporter can describe: the capture's record of the
        // raise stands for it.
        text = "exception of another kind";
        if (report) defaultHandling = ExceptionManager(nullptr, nullptr, nullptr, rkApplication, 0);
    }
    if (defaultHandling) WriteDefaultHandling(text);
}

// The meta marshal of every C closure: the closure's own marshal calls the
// handler, inside this catch. Between the handler and the catch lie only
// the marshal's frame (and libffi's under the generic marshal), which hold
// nothing to clean up; g_closure_invoke and the signal emission above keep their
// state. After an exception the return value stays as the emission made
// it (FALSE for an event: not handled, so it goes on to the parent).
void GuardedMarshal(GClosure* closure, GValue* returnValue, guint paramCount, const GValue* params,
                    gpointer invocationHint, gpointer)
{
    const GClosureMarshal marshal = closure->Marshal;
    if (!marshal) return;
    try {
        marshal(closure, returnValue, paramCount, params, invocationHint, nullptr);
    } catch (abi::__forced_unwind&) {
        throw; // a thread's exit or cancellation goes on
    } catch (...) {
        ReportEscapedException(std::current_exception());
    }
}

GClosure* CClosureNewInterceptor(GCallback callback, gpointer data, GClosureNotify destroy)
{
    return gtk::MakeGuardedClosure(g_cclosureNew.load(), g_setMetaMarshal.load(), &GuardedMarshal, callback, data,
                                   destroy);
}

GClosure* CClosureNewSwapInterceptor(GCallback callback, gpointer data, GClosureNotify destroy)
{
    return gtk::MakeGuardedClosure(g_cclosureNewSwap.load(), g_setMetaMarshal.load(), &GuardedMarshal, callback,
                                   data, destroy);
}

// GLib's handler matching, which finds a guarded handler by its closure
// when asked for its function (gtk_closures.h).
guint BlockMatchedInterceptor(gpointer instance, guint mask, guint signalId, GQuark detail, GClosure* closure,
                              gpointer func, gpointer data)
{
    return gtk::MatchHandlers(g_blockMatched.load(), instance, mask, signalId, detail, closure, func, data);
}

guint UnblockMatchedInterceptor(gpointer instance, guint mask, guint signalId, GQuark detail, GClosure* closure,
                                gpointer func, gpointer data)
{
    return gtk::MatchHandlers(g_unblockMatched.load(), instance, mask, signalId, detail, closure, func, data);
}

guint DisconnectMatchedInterceptor(gpointer instance, guint mask, guint signalId, GQuark detail, GClosure* closure,
                                   gpointer func, gpointer data)
{
    return gtk::MatchHandlers(g_disconnectMatched.load(), instance, mask, signalId, detail, closure, func, data);
}

gulong HandlerFindInterceptor(gpointer instance, guint mask, guint signalId, GQuark detail, GClosure* closure,
                              gpointer func, gpointer data)
{
    return gtk::FindHandler(g_handlerFind.load(), instance, mask, signalId, detail, closure, func, data);
}

// An idle or timeout source's dispatch: GLib's own calls the callback (or
// the once-function) and does nothing else that an exception would skip.
// After an exception the answer is FALSE and GLib removes the source: a
// callback that failed has not done its work, and calling it again would
// repeat the report at every round of the loop (an idle source) or every
// interval (a timeout).
gboolean GuardedDispatch(std::atomic<TSourceDispatch>& real, GSource* source, GSourceFunc callback, gpointer data)
{
    try {
        return real.load()(source, callback, data);
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        ReportEscapedException(std::current_exception());
        return 0;
    }
}

gboolean GuardedIdleDispatch(GSource* source, GSourceFunc callback, gpointer data)
{
    return GuardedDispatch(g_idleDispatch, source, callback, data);
}

gboolean GuardedTimeoutDispatch(GSource* source, GSourceFunc callback, gpointer data)
{
    return GuardedDispatch(g_timeoutDispatch, source, callback, data);
}

void* Find(const char* name) { return kernel::FindLibrarySymbol(kGtk, name); }

template <typename T> void Intercept(void* target, T replacement, std::atomic<T>& real, const char* name)
{
    real.store(reinterpret_cast<T>(
        hook::InterceptProcedure(target, reinterpret_cast<void*>(replacement), std::string("GTK ") + name)));
    g_targets.push_back(target);
}

bool InterceptSlot(void* funcs, TSourceDispatch replacement, std::atomic<TSourceDispatch>& real)
{
    // Read before the write: a source dispatched meanwhile finds the real one.
    real.store(*reinterpret_cast<TSourceDispatch*>(static_cast<void**>(funcs) + kDispatchSlot));
    return hook::InterceptVirtualMethod(funcs, kDispatchSlot, reinterpret_cast<void*>(replacement)) != nullptr;
}

int InstallLocked()
{
    if (g_gtkInstalled.load()) return 0;
    // Most programs have no GTK: the loader's list says so without the
    // search of its cache and folders that a lookup by name makes.
    if (!kernel::AnyModuleFileNameStartsWith("libgtk-3.")) return 0;
    void* cclosureNew = Find("g_cclosure_new");
    if (!cclosureNew) return 0; // no GTK
    void* cclosureNewSwap = Find("g_cclosure_new_swap");
    void* setMeta = Find("g_closure_set_meta_marshal");
    void* idleFuncs = Find("g_idle_funcs");
    void* timeoutFuncs = Find("g_timeout_funcs");
    void* blockMatched = Find("g_signal_handlers_block_matched");
    void* unblockMatched = Find("g_signal_handlers_unblock_matched");
    void* disconnectMatched = Find("g_signal_handlers_disconnect_matched");
    void* handlerFind = Find("g_signal_handler_find");
    if (!cclosureNewSwap || !setMeta || !idleFuncs || !timeoutFuncs || !blockMatched || !unblockMatched ||
        !disconnectMatched || !handlerFind)
        return 0; // a GLib unlike the one known here
    int made = 0;
    try {
        g_setMetaMarshal.store(reinterpret_cast<TSetMetaMarshal>(setMeta));
        g_targets.reserve(6);
        // Matching first: a guarded closure must be found by its function
        // from its first connection on.
        Intercept<THandlersMatched>(blockMatched, &BlockMatchedInterceptor, g_blockMatched,
                                    "g_signal_handlers_block_matched");
        Intercept<THandlersMatched>(unblockMatched, &UnblockMatchedInterceptor, g_unblockMatched,
                                    "g_signal_handlers_unblock_matched");
        Intercept<THandlersMatched>(disconnectMatched, &DisconnectMatchedInterceptor, g_disconnectMatched,
                                    "g_signal_handlers_disconnect_matched");
        Intercept<THandlerFind>(handlerFind, &HandlerFindInterceptor, g_handlerFind, "g_signal_handler_find");
        Intercept<TCClosureNew>(cclosureNew, &CClosureNewInterceptor, g_cclosureNew, "g_cclosure_new");
        Intercept<TCClosureNew>(cclosureNewSwap, &CClosureNewSwapInterceptor, g_cclosureNewSwap,
                                "g_cclosure_new_swap");
        if (InterceptSlot(idleFuncs, &GuardedIdleDispatch, g_idleDispatch)) g_idleFuncs = idleFuncs;
        if (InterceptSlot(timeoutFuncs, &GuardedTimeoutDispatch, g_timeoutDispatch)) g_timeoutFuncs = timeoutFuncs;
    } catch (const std::exception& e) {
        CaptureInternalError("InstallGtkInterceptors", e.what());
    }
    made = static_cast<int>(g_targets.size()) + (g_idleFuncs ? 1 : 0) + (g_timeoutFuncs ? 1 : 0);
    g_gtkInstalled.store(made > 0);
    return made;
}

void RemoveLocked()
{
    if (!g_gtkInstalled.exchange(false)) return;
    // The constructors first, the matching last: guarded closures stay
    // findable while any can still be made.
    for (auto target = g_targets.rbegin(); target != g_targets.rend(); ++target) hook::RestoreProcedure(*target);
    g_targets.clear();
    if (g_idleFuncs) hook::RestoreVirtualMethod(g_idleFuncs, kDispatchSlot);
    if (g_timeoutFuncs) hook::RestoreVirtualMethod(g_timeoutFuncs, kDispatchSlot);
    g_idleFuncs = g_timeoutFuncs = nullptr;
}

class TInstallingScope {
public:
    TInstallingScope() { t_installing = true; }
    ~TInstallingScope() { t_installing = false; }
    TInstallingScope(const TInstallingScope&) = delete;
    TInstallingScope& operator=(const TInstallingScope&) = delete;
};

int InstallGuarded()
{
    TInstallingScope installing;
    return InstallLocked();
}

// A library loaded by dlopen may have brought GTK in.
void OnModuleLoaded()
{
    if (t_installing || g_gtkInstalled.load()) return;
    std::lock_guard<std::mutex> lock(g_installLock);
    if (g_following.load()) InstallGuarded();
}

} // namespace

int InstallGtkInterceptors()
{
    std::lock_guard<std::mutex> lock(g_installLock);
    g_following.store(true);
    hook::AddModuleLoadObserver(&OnModuleLoaded);
    return InstallGuarded();
}

void RemoveGtkInterceptors()
{
    std::lock_guard<std::mutex> lock(g_installLock);
    g_following.store(false);
    RemoveLocked();
}

bool GtkInterceptorsInstalled() { return g_gtkInstalled.load(); }

} // namespace crashreport
