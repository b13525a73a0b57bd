#pragma once
// GTK 3 as a framework the reporter watches. An exception (a fault mapped
// to one included) that escapes a signal handler or an idle or timeout
// callback is caught at the callback's own boundary, before it would unwind
// GLib's and GTK's C frames, and reported as the application object's
// handler reports (raiser kind 1); the main loop goes on.
//
// Nothing is linked: when libgtk-3 is loaded (at start-up, or later by
// dlopen) GLib's g_cclosure_new and g_cclosure_new_swap are intercepted with
// the hooking engine, and a new C closure gets a guarding meta marshal that
// calls its marshal inside a catch; the dispatch slot of the idle and
// timeout sources' functions is replaced by a guard that calls GLib's inside
// a catch. The four functions that find handlers by their function are
// intercepted too, so a guarded handler is still found (gtk_closures.h).
// Not signal-safe.

namespace crashreport {

// Intercepts when libgtk-3 is loaded and not yet intercepted, and follows
// later loading for a program that loads GTK itself. Answers the number of
// procedures intercepted by this call (0 without GTK or when done before).
int InstallGtkInterceptors();
// Undoes the procedure interceptions; guards made already stay and still
// catch (they call the reporter only while the capture runs).
void RemoveGtkInterceptors();
// Whether GLib's procedures are intercepted now.
bool GtkInterceptorsInstalled();

} // namespace crashreport
