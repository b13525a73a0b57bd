#pragma once
// Queries and switches over the capture's state, below the dispatcher and
// the raise roads that read them and the start-up that sets them: whether
// the capture runs, the global switch and the per-thread off-list, the
// delegation to the main executable, and which module this copy of the
// reporter lives in.
#include "platform/rtl/external_exception.h"

#include <cstdint>
#include <typeinfo>

namespace crashreport {

bool ExceptionCaptureStarted(); // signal-safe

// The global switch (initially on) and the per-thread off-list.
void SetCaptureOn(bool on);
bool CaptureOn();
// False when the off-list is full.
bool SetThreadCaptureOff(std::uint32_t threadId, bool off);

// The main executable's entries when this module delegates, else null.
struct TExceptionCaptureDelegation {
    bool (*Manager)(void* object, const std::type_info* type, void* address, std::uint8_t raiserKind,
                    std::uintptr_t module) = nullptr;
    void (*GeneralRaise)(std::uint32_t code, std::uint32_t flags, std::uint32_t argumentCount,
                         std::uintptr_t raiseFrame, const std::uintptr_t* arguments) = nullptr;
    rtl::EExternal* (*ExceptObject)(const rtl::TExceptionRecord* record, const ucontext_t* context,
                                    bool capture) = nullptr;
};
TExceptionCaptureDelegation* Delegation();
bool ModuleDelegates();

// Whether the calling thread runs a module's static initialisation or
// finalisation (the dynamic loader's frames are on its stack): an exception
// in a shared library's initialisation is reported on the same thread,
// without a report thread. Not signal-safe in principle (walks the stack).
bool InsideModuleInitialisationOrFinalisation();
bool CaptureModuleIsMainExecutable();

// This module's handle (load base).
std::uintptr_t CaptureModule();

} // namespace crashreport
