#pragma once
// The diagnostic text of an internal error, as it is saved next to the
// program: labelled lines, the call stack last. Building it is apart from
// gathering the facts so that the layout can be checked on its own. Not
// signal-safe (strings).
#include <string>
#include <vector>

#include "crashreport/errorlog/errorlog_hooks.h"

namespace crashreport {

struct TDiagnosticFacts {
    std::string Version, Date, OS, RAD, Dump, Section, LastExcept;
    std::string Address; // hexadecimal digits, without "$"
    std::string ExceptionClass, Message;
    std::vector<TInternalErrorFrame> Stack;
};

// "Version   : 5.1.5" CR LF "Date      : ..." ... "Call Stack: <stack>".
std::string BuildDiagnosticText(const TDiagnosticFacts& facts);

// One line per entry, each ending in CR LF, the lines after the first
// indented to the column after "Call Stack: ":
// "00 $<address> - [<module base>] <module file> - <unit> - <class> - <procedure> - <line>"
// (the part from " - <unit>" only when the entry has line information).
std::string FormatDiagnosticStack(const std::vector<TInternalErrorFrame>& stack);

// The 32 bytes at `address`, each as "$" and two hexadecimal digits and a
// space; empty when they cannot all be read. Not signal-safe (allocates).
std::string FormatCodeDump(const void* address);

} // namespace crashreport
