#pragma once
// The exact walk of a thread's stack: from the registers where the thread
// stands (a fault's signal context, the registers of a raise, a paused
// thread's context), each frame's caller is recovered with the module's
// call-frame information, so every address found is a frame that was live.
// Where the information ends before the stack does (code without it, a
// corrupted frame, a module loaded after the table was made) the raw scan
// goes on from the last frame's stack pointer, and its addresses are marked.
// Reads only the stack, the code and the call-frame information: no
// allocation, no file, no lock. Signal-safe.
#include <cstddef>
#include <cstdint>

#include "crashreport/stack/stack_scan.h"
#include "crashreport/stack/unwind_modules.h"
#include "platform/kernel/threads.h"

namespace crashreport {

// One thread's stack as the walk sees it.
struct TThreadStack {
    const kernel::TThreadContext* Context = nullptr; // null: no registers, the scan alone
    const void* FirstAddress = nullptr;              // the first row; null: the context's instruction
    std::uintptr_t Top = 0;                          // the stack's top (one past its highest byte)
    std::uintptr_t ScanStart = 0;                    // without registers: where the scan starts
    // The stack as it was at a raise, from CopyStart up, read instead of the
    // live bytes (which have changed since the exception unwound them).
    const std::uint8_t* Copy = nullptr;
    std::uintptr_t CopyStart = 0;
    std::size_t CopyLength = 0;
    // The copy is all there is (a thread's starter stack, taken when it
    // started): nothing is read from the live stack.
    bool CopyOnly = false;
    // Frames whose stack pointer lies below this are not added (the frames
    // of the code that took the copy).
    std::uintptr_t FramesFrom = 0;
};

struct TWalkOutcome {
    int Frames = 0;               // rows found by the walk (the first address included)
    bool Complete = false;        // the walk reached the outermost frame
    std::uintptr_t StoppedAt = 0; // stack pointer where the scan took over (0: none)
};

// The instruction a return address belongs to: the call before it, or the
// byte before it when no call is recognised. Signal-safe.
std::uintptr_t CallSiteOf(std::uintptr_t returnAddress);
// The same without probing memory where the module table knows the code.
std::uintptr_t CallSiteOf(std::uintptr_t returnAddress, const TUnwindModules& modules);

// Appends the stack's addresses (the first address, then the call site of
// every caller), then the scan's from where the walk stopped, marked as
// scanned. Signal-safe.
TWalkOutcome WalkStackAddresses(const TThreadStack& stack, const TUnwindModules& modules, const TCodeRanges& code,
                                TStackAddresses& out);

} // namespace crashreport
