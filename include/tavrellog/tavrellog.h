#pragma once
// TavrelLog, the crash reporter: the interface for programs that carry it.
//
// Linking TavrelLog::TavrelLog (or TavrelLog::Desktop) and storing options
// in the program with tavrel_add_stored_data is all a program needs: the
// reporter starts from the program's initialisation with the stored options
// and reports every exception that nothing catches and every fault. This
// header is for programs that want more: to start or stop the reporter
// themselves, to change its options while they run, to take part in a
// report through its events, and to have an exception they caught reported.
//
// Every function here may be called from any thread, but none from a signal
// handler, and none from inside one of the handlers below.
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

namespace tavrellog {

// Whether the reporter runs: capturing exceptions and faults and reporting them.
bool Running();

// Starts the reporter when it does not run: with the options stored in the
// program, or with the default options when it has none (a program without
// stored options is not started from its initialisation). Then the reporter
// the program links starts: the desktop side's with TavrelLog::Desktop, the
// console's otherwise. A start after Stop takes the stored options again.
// Returns Running().
bool Start();

// Stops the reporter: waits for a report in progress, then exceptions and
// faults take their course as if the reporter were not there. Start may
// start it again.
void Stop();

// Changes the running reporter's options: `text` holds "Name = value" lines
// in the form of the options file given to tavrel_add_stored_data (names
// and values of the options record, `Texts[i] = ...` for the texts, "#"
// comments). All lines are applied, or none: on an unknown name or a bad
// value the options stay as they were, `error` (when given) names the line,
// and the answer is false. False as well when the reporter does not run.
bool SetOptions(const std::string& text, std::string* error = nullptr);

// The exception a report is being made for, as the handlers see it.
struct ExceptionInfo {
    std::string Message;           // the exception's message
    const void* Address = nullptr; // where it was raised (the faulting instruction for a fault)
    std::uint32_t ThreadId = 0;    // the thread it was raised on
};

// Called before each report, on the reporter's handling thread: answering
// false cancels the report, and the exception takes its course as if the
// reporter were not there. An empty function removes the handler.
void SetExceptionHandler(std::function<bool(const ExceptionInfo&)> handler);

// Called during each report: the text it answers (when not empty) is added
// to the report as its custom data section. An empty function removes the
// handler.
void SetCustomDataHandler(std::function<std::string(const ExceptionInfo&)> handler);

// Reports `exception`, which the program caught, as the stored options say
// (dialog or console, log, sending), with the place where it was raised
// when the reporter saw it raised, and returns to the caller; the program
// goes on unless the report ends it (the dialog's terminate button, the
// crash rule). Returns whether the reporter took the exception: false when
// it does not run or the exception handler cancelled the report.
bool ReportException(const std::exception& exception);

} // namespace tavrellog
