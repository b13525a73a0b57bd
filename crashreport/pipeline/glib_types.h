#pragma once
// The few GLib and GObject types the GTK interceptors use, declared here
// because the reporter does not link GLib: it finds GLib's functions in the
// loaded modules at run time. Only what GLib's public headers make part of
// its stable interface: the leading fields of GSource, GClosure and
// GCClosure, and the callback types.

namespace crashreport::glib {

using gboolean = int;
using gpointer = void*;
using guint = unsigned int;
using gulong = unsigned long;
using GQuark = unsigned int;

struct GValue;
struct GSourceFuncs;
struct GClosure;

// The leading fields of GSource (gmain.h).
struct GSource {
    gpointer CallbackData;
    void* CallbackFuncs;
    const GSourceFuncs* SourceFuncs;
};

using GClosureMarshal = void (*)(GClosure* closure, GValue* returnValue, guint paramCount,
                                 const GValue* params, gpointer invocationHint, gpointer marshalData);

// GClosure (gclosure.h): the flags word, the marshal, the data and the
// notifiers.
struct GClosure {
    guint Flags;
    GClosureMarshal Marshal;
    gpointer Data;
    void* Notifiers;
};

using GCallback = void (*)();

// GCClosure (gclosure.h): the closure of a C function.
struct GCClosure {
    GClosure Closure;
    gpointer Callback;
};
static_assert(sizeof(GClosure) == 32 && sizeof(GCClosure) == 40, "GLib's closure layout on x86-64");
using GClosureNotify = void (*)(gpointer data, GClosure* closure);
using GSourceFunc = gboolean (*)(gpointer data);
using GDestroyNotify = void (*)(gpointer data);

// GSignalMatchType's bits.
enum : guint { kMatchClosure = 1u << 2, kMatchFunc = 1u << 3 };

using TCClosureNew = GClosure* (*)(GCallback callback, gpointer data, GClosureNotify destroy);
using TSetMetaMarshal = void (*)(GClosure* closure, gpointer marshalData, GClosureMarshal metaMarshal);
// g_signal_handlers_block_matched, _unblock_matched, _disconnect_matched.
using THandlersMatched = guint (*)(gpointer instance, guint mask, guint signalId, GQuark detail, GClosure* closure,
                                   gpointer func, gpointer data);
using THandlerFind = gulong (*)(gpointer instance, guint mask, guint signalId, GQuark detail, GClosure* closure,
                                gpointer func, gpointer data);

} // namespace crashreport::glib
