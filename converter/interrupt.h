#pragma once
// Interruption of a conversion: while a run is going on (DeferInterrupts),
// SIGINT, SIGTERM and SIGHUP only note the signal; the run sees it between
// frames, removes its temporary file, and the program then ends by the same
// signal (status 128 + signal in the shell). Outside a run they end the
// program at once, as by default. SIGXFSZ is ignored, so a file-size limit
// fails the write instead of killing the program.
namespace converter {

void InstallInterruptHandlers();
// The signal that asked the program to stop during a run, or 0.
int PendingInterrupt();
// Ends the program by the signal, with its default action.
[[noreturn]] void EndByInterrupt(int signal);

// Signals are held for the run while this object lives.
class DeferInterrupts {
public:
    DeferInterrupts();
    ~DeferInterrupts();
    DeferInterrupts(const DeferInterrupts&) = delete;
    DeferInterrupts& operator=(const DeferInterrupts&) = delete;
};

} // namespace converter
