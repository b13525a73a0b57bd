#pragma once
// What the internal error log needs from pieces above or beside it: the
// call stack, the message boxes, the mail hand-off and the capture layer's
// record of the exception. Each is a replaceable function with a default
// that works without that piece: no call stack (the line stays empty), no
// message box (none is shown, which answers "No"), no mail program, no
// exception address (0), no last exception. The debugger test is here as
// well so a test can stand in for a debugger.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace crashreport {

// One entry of the internal error's call stack. Line information is there
// when Line is above 0.
struct TInternalErrorFrame {
    std::uintptr_t Address = 0;
    std::uintptr_t ModuleBase = 0;
    std::string ModuleFileName;
    std::string UnitName, ClassName, ProcedureName;
    int Line = 0;
};

// The platform's message box flags that the log uses.
enum : unsigned {
    kBoxOk = 0x0,
    kBoxYesNo = 0x4,
    kBoxIconStop = 0x10,
    kBoxIconExclamation = 0x30,
    kBoxTaskModal = 0x2000,
    kBoxTopMost = 0x40000,
    kBoxServiceNotification = 0x200000,
};
inline constexpr int kBoxAnswerOk = 1;
inline constexpr int kBoxAnswerYes = 6;
inline constexpr int kBoxAnswerNo = 7;

struct TErrorLogHooks {
    // Whether a debugger watches the process.
    bool (*DebuggerPresent)() = nullptr;
    // Writes one line of debugger output (the log calls it only when
    // DebuggerPresent said yes).
    void (*DebugOutput)(std::string_view line) = nullptr;
    // The call stack of the exception being handled, from its raise frame;
    // with fromCurrentPosition, from the caller's own stack position.
    std::vector<TInternalErrorFrame> (*CallStack)(bool fromCurrentPosition) = nullptr;
    // Shows a message box; the answer is the button (kBoxAnswerYes, ...).
    int (*MessageBox)(const std::string& text, const std::string& caption, unsigned flags) = nullptr;
    // Hands a mail with one attached file to the mail program; false when
    // the mail program cannot be used.
    bool (*SendMail)(const std::string& address, const std::string& subject, const std::string& body,
                     const std::string& attachment) = nullptr;
    // The address of the exception being handled, as the capture layer
    // recorded it.
    const void* (*ExceptionAddress)() = nullptr;
    // The class name of the last captured exception while it is still a
    // valid object, else empty.
    std::string (*LastExceptionClass)() = nullptr;
};

// The hooks in use: the defaults where none was set (the debugger test and
// output of the kernel). Not signal-safe (takes a lock).
TErrorLogHooks ErrorLogHooks();
// Replaces the hooks; null members take the defaults. Returns the previous
// hooks as they were set.
TErrorLogHooks SetErrorLogHooks(const TErrorLogHooks& hooks);

} // namespace crashreport
