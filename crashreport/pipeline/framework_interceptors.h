#pragma once
// The frameworks whose own handlers or output the reporter watches. On this
// platform: the GUI application object's exception handling (installed by
// the desktop side, raiser kind 1), the framework thread class's body
// wrapper (thread tracking, at the capture's start-up), GTK 3's signal
// handlers and idle and timeout callbacks in a program that loads GTK
// (gtk_interceptors.h, raiser kind 1), and a CGI program's standard
// output, whose last page is kept for the report. The web
// application, web-server extension, service and network-library
// frameworks do not exist here: their detections answer "not present" and
// nothing is intercepted for them. Not signal-safe.
#include <string>

namespace crashreport {

enum TFramework {
    fwGUIApplication,   // the toolkit's application object
    fwThreadClass,      // rtl::TThread's body
    fwCGI,              // a console program started by a web server
    fwGTK,              // GTK 3's signal handlers and main-loop callbacks
    fwWebApplication,   // not on this platform
    fwWebServerModule,  // not on this platform
    fwService,          // not on this platform
    fwNetworkLibrary,   // not on this platform
};

// Whether the framework exists on this platform (not whether the program uses it).
bool FrameworkPresent(TFramework framework);

// Installs the GTK interceptors when GTK is loaded (or once a dlopen brings
// it), and the standard-output interceptors of a CGI program (write, writev,
// fwrite, fputs and puts in the import tables of every loaded module); none
// in another program. Answers the number of import cells patched for CGI.
int InstallFrameworkInterceptors();
void RemoveFrameworkInterceptors();

// While one lives on a thread, what that thread writes is the reporter's
// own error page or console report and is not kept as the last page.
class TReporterWritesScope {
public:
    TReporterWritesScope();
    ~TReporterWritesScope();
    TReporterWritesScope(const TReporterWritesScope&) = delete;
    TReporterWritesScope& operator=(const TReporterWritesScope&) = delete;

private:
    bool previous_;
};

} // namespace crashreport
