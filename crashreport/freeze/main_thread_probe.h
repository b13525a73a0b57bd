#pragma once
// How the freeze watchdog asks the main thread for an answer: through the
// application's main window when the program has one of our toolkit, else
// through GLib's default main context when another thread than the
// watchdog's runs it (a GTK program's main loop), with GLib found at run
// time. Nothing here is signal-safe.
#include <memory>

namespace crashreport {

enum class TProbeAnswer {
    paAnswered,   // the main thread answered within the time limit
    paUnanswered, // it did not, and the probe waited out the time limit
    paGone,       // refused at once: what answers is gone or ending
};

class TMainThreadProbe {
public:
    virtual ~TMainThreadProbe() = default;
    // Asks once, waiting at most timeoutMs for the answer.
    virtual TProbeAnswer Ask(unsigned timeoutMs) = 0;
};

// The probe for the program as it is now; null when it has neither a main
// window of our toolkit nor a running GLib main loop (yet).
std::unique_ptr<TMainThreadProbe> FindMainThreadProbe();

} // namespace crashreport
