#pragma once
// Interruption of the command-line converter: SIGINT, SIGTERM and SIGHUP
// only note the signal; the run sees it between rows, removes its temporary
// file and the program then ends by the same signal (status 128 + signal
// in the shell). SIGXFSZ is ignored, so a file-size limit is a write error.
namespace converter {

void InstallInterruptHandlers();
// The signal that asked the program to stop, or 0.
int PendingInterrupt();
// Ends the program by the pending signal, with its default action.
[[noreturn]] void EndByInterrupt(int signal);

} // namespace converter
