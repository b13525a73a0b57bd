#pragma once
// Handler analysis: will an enclosing handler catch this exception? The
// frames above the raise are walked as the unwinder's search phase walks
// them, and each frame that has language-specific data is asked, through
// the C++ personality routine with the real thrown type, whether it catches.
// The personality leaves its choice in the exception header:
// handlerSwitchValue 0 means std::terminate (a noexcept frame), a positive
// value indexes the type table, whose entry is null for catch (...).
#include "crashreport/capture/exception_class.h"

#include <unwind.h>

#include <cstdint>

namespace crashreport {

// Kinds of taking handlers.
enum : std::uint8_t { hkNone = 0, hkCatchAll = 1, hkTyped = 2, hkSafeCall = 3 };

struct TAnalysis {
    bool Handled = false;
    std::uint8_t CaptureMode = 0;
    int Taking = 0; // handlers that take the exception
    std::uint8_t FirstKind = hkNone;
    bool Terminates = false; // the search ends in std::terminate (noexcept frame)
};

// Where the walk starts: frames at or below `cfaAbove` are the capture's
// own (raise road); or, for a fault, the first frame is the one whose
// instruction pointer is `faultIp` (signal road).
struct TWalkStart {
    std::uintptr_t CfaAbove = 0;
    std::uintptr_t FaultIp = 0;
};

// Layout of the C++ runtime's exception header (Itanium C++ ABI, libstdc++),
// which lies just before the _Unwind_Exception.
struct TCxaException {
    std::type_info* exceptionType;
    void (*exceptionDestructor)(void*);
    void (*unexpectedHandler)();
    void (*terminateHandler)();
    TCxaException* nextException;
    int handlerCount;
    int handlerSwitchValue;
    const unsigned char* actionRecord;
    const unsigned char* languageSpecificData;
    _Unwind_Ptr catchTemp;
    void* adjustedPtr;
    _Unwind_Exception unwindHeader;
};

constexpr std::uint64_t kCxxPrimaryClass = 0x474e5543432b2b00ULL;   // "GNUCC++\0"
constexpr std::uint64_t kCxxDependentClass = 0x474e5543432b2b01ULL; // "GNUCC++\1"

// The thrown object of a C++ exception being raised; invalid for a foreign one.
TExceptionObject ObjectOfUnwindException(_Unwind_Exception* exception);

// Walks and classifies (uncached). Signal-safe: the unwinder finds frame
// data without locks on this platform (_dl_find_object), nothing allocates.
TAnalysis WalkHandlers(_Unwind_Exception* exception, const TWalkStart& start);

// The cached analysis: the last 10 walks, keyed by exception address, class
// and raise frame. Signal-safe.
TAnalysis AnalyseHandlers(_Unwind_Exception* exception, const TWalkStart& start, void* address,
                          std::uintptr_t raiseFrame);
void ClearAnalysisCache();
int AnalysisCacheCount();

// The entries of the wrappers that the walk recognises: the framework
// thread's body wrapper(s) and the safe-call wrapper.
void SetThreadBodyWrappers(const void* first, const void* second);

} // namespace crashreport
