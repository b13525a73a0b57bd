#pragma once
// The C closures that carry the GTK guard's meta marshal, by the function
// they call. GLib finds a handler by its function (block, unblock and
// disconnect by function, g_signal_handler_find) only when its closure has
// no meta marshal; the interceptors of those four functions ask GLib again
// by closure for each guarded closure of the function. Not signal-safe.
#include "crashreport/pipeline/glib_types.h"

namespace crashreport::gtk {

// The closure `make` returns, with `guard` as its meta marshal and known
// by `callback` until GLib frees it (the destroy notifier is called then as
// before). An unguarded closure when the record cannot be made.
glib::GClosure* MakeGuardedClosure(glib::TCClosureNew make, glib::TSetMetaMarshal setMeta,
                                   glib::GClosureMarshal guard, glib::GCallback callback, glib::gpointer data,
                                   glib::GClosureNotify destroy);

// The guarded closures GLib has not freed yet (for diagnostics and tests).
int GuardedClosureCount();

// What `real` answers for the handlers the arguments match, guarded ones
// matched by their function included: the number of handlers acted on.
glib::guint MatchHandlers(glib::THandlersMatched real, glib::gpointer instance, glib::guint mask,
                          glib::guint signalId, glib::GQuark detail, glib::GClosure* closure, glib::gpointer func,
                          glib::gpointer data);
// The first matching handler's identifier, or 0.
glib::gulong FindHandler(glib::THandlerFind real, glib::gpointer instance, glib::guint mask, glib::guint signalId,
                         glib::GQuark detail, glib::GClosure* closure, glib::gpointer func, glib::gpointer data);

} // namespace crashreport::gtk
