#pragma once
// The crash reporter's code hooking engine: procedure interception through
// trampolines, import (GOT) interception, and virtual-method slot
// interception, each recorded so that the last shut-down undoes it exactly.
#include "crashreport/hook/code_patch.h"
#include "crashreport/options/internal_error_sink.h"
#include "crashreport/hook/hook_errors.h"
#include "crashreport/hook/instruction_length.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace crashreport::hook {

struct TProcedureHook {
    void* Target = nullptr; // the intercepted procedure, after following an import stub
    std::uint8_t* Trampoline = nullptr;
    std::int32_t TrampolineSize = 0;
    std::uint8_t* SavedBytes = nullptr; // heap copy of the overwritten bytes
    std::int32_t SavedCount = 0;        // whole instructions, at least 5 bytes
};

struct TImportHook {
    std::uintptr_t Module = 0; // module handle (load base) whose GOT was patched
    std::string DllName;
    void* RealFunction = nullptr;
    void* Replacement = nullptr;
};

struct THookedMethod {
    void* Class = nullptr; // the virtual table (its address point)
    void* PreviousMethod = nullptr;
    std::int32_t Slot = 0; // in pointer-sized cells from the address point
};

// The replaced virtual-method slots. Every search and change takes its lock,
// because threads intercept their classes' methods from wherever they are
// created.
class THookedMethodsList {
public:
    THookedMethodsList() = default;
    ~THookedMethodsList(); // puts every slot back
    THookedMethodsList(const THookedMethodsList&) = delete;
    THookedMethodsList& operator=(const THookedMethodsList&) = delete;

    int Count() const { return static_cast<int>(items_.size()); }
    THookedMethod* Item(int index) const { return items_.at(static_cast<std::size_t>(index)).get(); }
    void Add(std::unique_ptr<THookedMethod> method) { items_.push_back(std::move(method)); }
    void Delete(int index);
    int Find(const void* vtable, int slot) const; // -1 when absent

private:
    friend class THookedMethodsLock;
    std::recursive_mutex lock_;
    std::vector<std::unique_ptr<THookedMethod>> items_;
};

// Holds the list's lock for a scope.
class THookedMethodsLock {
public:
    explicit THookedMethodsLock(THookedMethodsList& list) : lock_(list.lock_) {}

private:
    std::lock_guard<std::recursive_mutex> lock_;
};

// Start and shut-down are reference-counted: only the first start and the
// matching last shut-down act. Failures inside either are handed to the
// internal error handler as "<step> (Address: <address>)".
void StartHookEngine();
void ShutdownHookEngine();
bool HookEngineStarted();

// Failed start-up and shut-down steps go to the reporter's one internal
// error sink; without a sink the message is written to stderr.
using crashreport::SetInternalErrorHandler;
using crashreport::TInternalErrorHandler;
void ReportInternalError(const std::string& message);

// Returns a trampoline through which the original procedure can still be
// called. Raises EProcNull, ESharedArea or EHookingError.
void* InterceptProcedure(void* procedure, void* replacement, const std::string& displayName);
bool RestoreProcedure(void* procedure);

// Patches the module's GOT cells that hold realFunction (imported from
// dllName, one of the module's DT_NEEDED libraries; an empty name accepts
// any) with replacement. Returns realFunction when a cell was patched, else
// null, or raises EHookingError when not quiet.
void* InterceptImport(std::uintptr_t module, const std::string& dllName, void* realFunction, void* replacement,
                      bool doNotRecord, bool quiet, const std::string& displayName);

// Looks up functionName in the loaded dllName, stores it in realAddress, and
// patches its import cells in every named module that is loaded (an empty
// name is the main executable). True when any module was patched.
bool InterceptModuleImports(const std::vector<std::string>& moduleNames, const std::string& dllName, bool quiet,
                            void*& realAddress, void* replacement, const std::string& functionName);

// Undoes, before shut-down, every recorded import interception that put in
// this replacement, and forgets it. Answers the number of records undone.
int RestoreImports(void* replacement);

// Replaces one slot of a virtual table and returns the method that was there
// before (the first one, when the slot was replaced already). A slot outside
// every loaded module's image is left as it is. Null when not started.
void* InterceptVirtualMethod(void* vtable, int slot, void* replacement);
bool RestoreVirtualMethod(void* vtable, int slot);

// Inspection for diagnostics and tests.
int ProcedureHookCount();
const TProcedureHook* FindProcedureHook(const void* target);
int ImportHookCount();
// The recorded import interceptions in one module (by its handle).
int ImportHookCount(std::uintptr_t module);
int HookedMethodCount();

} // namespace crashreport::hook
