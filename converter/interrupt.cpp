#include "converter/interrupt.h"

#include <unistd.h>

#include <csignal>
#include <initializer_list>

namespace converter {
namespace {

volatile std::sig_atomic_t g_signal = 0;
volatile std::sig_atomic_t g_deferring = 0;

// Signal-safe: notes the signal during a run, else ends the program by it.
void Note(int signal)
{
    if (g_deferring) {
        if (g_signal == 0) g_signal = signal;
        return;
    }
    std::signal(signal, SIG_DFL);
    ::raise(signal);
}

} // namespace

void InstallInterruptHandlers()
{
    struct sigaction action {};
    action.sa_handler = Note;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocked terminal read returns at once
    for (int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
}

int PendingInterrupt() { return g_signal; }

void EndByInterrupt(int signal)
{
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
    ::_exit(128 + signal); // a signal whose default action does not end the program
}

DeferInterrupts::DeferInterrupts() { g_deferring = 1; }

DeferInterrupts::~DeferInterrupts() { g_deferring = 0; }

} // namespace converter
