#pragma once
// GTK 3 as a framework the reporter watches. An exception (a fault mapped
// to one included) that escapes a signal handler or an idle or timeout
// callback is caught at the callback's own boundary, before it would unwind
// GLib's and GTK's C frames, and reported as the application object's
// handler reports (raiser kind 1); the main loop goes on.
//
// Nothing is linked: when libgtk-3 is loaded (at start-up, or later by
// dlopen) GLib's g_cclosure_new, g_cclosure_new_swap and
// g_source_set_callback are intercepted with the hooking engine. A C
// closure gets a guarding meta marshal that calls its marshal inside a
// catch; an idle or timeout source's callback is replaced by a guard that
// calls it inside a catch and frees its record with the source. Not
// signal-safe.

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
