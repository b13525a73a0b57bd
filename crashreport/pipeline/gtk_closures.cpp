#include "crashreport/pipeline/gtk_closures.h"

#include <map>
#include <utility>
#include <mutex>
#include <vector>

namespace crashreport::gtk {
namespace {

using namespace glib;

// By function, then closure; the caller's destroy notifier, called when
// GLib frees the closure.
using TGuardedClosures = std::map<std::pair<gpointer, GClosure*>, GClosureNotify>;

gpointer CallbackOf(GClosure* closure) { return reinterpret_cast<GCClosure*>(closure)->Callback; }

std::mutex g_lock;

// Kept to the end of the process: GLib may free closures while static
// objects are destroyed.
TGuardedClosures& Guarded()
{
    static auto* closures = new TGuardedClosures;
    return *closures;
}

// The finalize notifier of every guarded closure: forgets it, then calls
// the caller's notifier.
void ForgetClosure(gpointer data, GClosure* closure)
{
    GClosureNotify destroy = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        const auto found = Guarded().find({CallbackOf(closure), closure});
        if (found != Guarded().end()) {
            destroy = found->second;
            Guarded().erase(found);
        }
    }
    if (destroy) destroy(data, closure);
}

std::vector<GClosure*> GuardedClosuresOf(gpointer func, GClosure* only)
{
    std::vector<GClosure*> closures;
    std::lock_guard<std::mutex> lock(g_lock);
    const TGuardedClosures& guarded = Guarded();
    for (auto at = guarded.lower_bound({func, nullptr}); at != guarded.end() && at->first.first == func; ++at)
        if (!only || at->first.second == only) closures.push_back(at->first.second);
    return closures;
}

// The guarded closures of `func` (only `closure` when the mask names one)
// and the mask that matches each by itself instead of by the function.
template <typename Each> void EachGuarded(guint mask, GClosure* closure, gpointer func, Each each)
{
    if (!(mask & kMatchFunc)) return;
    const guint byClosure = (mask & ~kMatchFunc) | kMatchClosure;
    for (GClosure* guarded : GuardedClosuresOf(func, (mask & kMatchClosure) ? closure : nullptr))
        if (each(byClosure, guarded)) return;
}

} // namespace

GClosure* MakeGuardedClosure(TCClosureNew make, TSetMetaMarshal setMeta, GClosureMarshal guard, GCallback callback,
                             gpointer data, GClosureNotify destroy)
{
    // The record's node is made first, so that no allocation can fail once
    // GLib holds the notifier that frees it.
    TGuardedClosures node;
    try {
        node.emplace(std::pair<gpointer, GClosure*>{}, destroy);
    } catch (...) {
        return make(callback, data, destroy);
    }
    GClosure* closure = make(callback, data, &ForgetClosure);
    if (!closure) return closure;
    auto record = node.extract(node.begin());
    record.key() = {CallbackOf(closure), closure};
    {
        std::lock_guard<std::mutex> lock(g_lock);
        Guarded().insert(std::move(record));
    }
    setMeta(closure, nullptr, guard);
    return closure;
}

int GuardedClosureCount()
{
    std::lock_guard<std::mutex> lock(g_lock);
    return static_cast<int>(Guarded().size());
}

guint MatchHandlers(THandlersMatched real, gpointer instance, guint mask, guint signalId, GQuark detail,
                    GClosure* closure, gpointer func, gpointer data)
{
    guint count = real(instance, mask, signalId, detail, closure, func, data); // the unguarded ones
    EachGuarded(mask, closure, func, [&](guint byClosure, GClosure* guarded) {
        count += real(instance, byClosure, signalId, detail, guarded, nullptr, data);
        return false;
    });
    return count;
}

gulong FindHandler(THandlerFind real, gpointer instance, guint mask, guint signalId, GQuark detail, GClosure* closure,
                   gpointer func, gpointer data)
{
    gulong id = real(instance, mask, signalId, detail, closure, func, data);
    if (id) return id;
    EachGuarded(mask, closure, func, [&](guint byClosure, GClosure* guarded) {
        id = real(instance, byClosure, signalId, detail, guarded, nullptr, data);
        return id != 0;
    });
    return id;
}

} // namespace crashreport::gtk
