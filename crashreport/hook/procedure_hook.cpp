// Procedure interception: the first whole instructions of a procedure move
// into a trampoline (with their relative operands rewritten for the new
// place), and a jump to the replacement takes their place.
#include "crashreport/hook/hook_state.h"
#include "crashreport/hook/shared_area.h"
#include "crashreport/hook/trampoline_memory.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/modules.h"
#include "platform/rtl/format.h"

#include <cstring>
#include <memory>

namespace crashreport::hook {
namespace {

constexpr int kJumpSize = 5;
constexpr int kAbsoluteJumpSize = 14; // jmp [rip+0] followed by the 64-bit address
constexpr int kMaxMoved = 32;

// Ends the instruction stream of a procedure: nothing after it is sure to
// belong to the same procedure. A jump a few bytes forward (or back into the
// block) only steps over bytes of its own procedure.
bool EndsFlow(const std::uint8_t* begin, int at, const TDecodedInstruction& d)
{
    const std::uint8_t* p = begin + at;
    const std::uint8_t op = p[d.OpcodeOffset];
    if (d.TwoByte || d.Vex) return false;
    if (op == 0xE9 || op == 0xEB) {
        std::int32_t displacement;
        if (op == 0xEB) {
            displacement = static_cast<std::int8_t>(p[d.BranchDisplacementOffset]);
        } else {
            std::memcpy(&displacement, p + d.BranchDisplacementOffset, 4);
        }
        const std::int64_t destination = at + d.Length + static_cast<std::int64_t>(displacement);
        return destination < 0 || destination > kJumpSize + 16;
    }
    return op == 0xC3 || op == 0xC2 || (op == 0xFF && d.ModRMOffset >= 0 && ((p[d.ModRMOffset] >> 3) & 7) == 4);
}

bool IsPadding(std::uint8_t b) { return b == 0xCC || b == 0x90; }

struct TPlan {
    int Moved = 0;      // n: bytes of whole instructions moved
    int ShortStubs = 0; // k: short branches that leave the block
    TDecodedInstruction Instructions[kMaxMoved];
    int Offsets[kMaxMoved];
    int Count = 0;
};

// Decodes whole instructions until at least 5 bytes are covered. Fails on an
// instruction it does not know (moving part of one would break it), and on
// a block that would run past the end of a procedure shorter than 5 bytes.
bool PlanBlock(const std::uint8_t* target, int minimum, TPlan& plan)
{
    if (!kernel::IsMemoryReadable(target, static_cast<std::size_t>(minimum) + 15)) return false;
    while (plan.Moved < minimum) {
        if (plan.Count == kMaxMoved) return false;
        TDecodedInstruction& d = plan.Instructions[plan.Count];
        if (!DecodeInstruction(target + plan.Moved, NativeCodeMode, d)) return false;
        plan.Offsets[plan.Count++] = plan.Moved;
        plan.Moved += d.Length;
        if (plan.Moved < minimum && EndsFlow(target, plan.Offsets[plan.Count - 1], d)) {
            for (int i = plan.Moved; i < minimum; ++i)
                if (!IsPadding(target[i])) return false;
            plan.Moved = minimum; // the padding is moved with it and never runs
            break;
        }
    }
    const auto begin = reinterpret_cast<std::intptr_t>(target);
    const auto end = begin + plan.Moved;
    for (int i = 0; i < plan.Count; ++i) {
        const TDecodedInstruction& d = plan.Instructions[i];
        if (d.Branch != TBranchKind::Short) continue;
        const std::intptr_t next = begin + plan.Offsets[i] + d.Length;
        const std::intptr_t destination =
            next + static_cast<std::int8_t>(target[plan.Offsets[i] + d.BranchDisplacementOffset]);
        if (destination < begin || destination > end) ++plan.ShortStubs;
    }
    return true;
}

// jmp [rip+0] followed by the destination: reaches anywhere.
void PutAbsoluteJump(std::uint8_t* buffer, std::uintptr_t destination)
{
    const std::uint8_t jump[6] = {0xFF, 0x25, 0, 0, 0, 0};
    std::memcpy(buffer, jump, sizeof jump);
    std::memcpy(buffer + sizeof jump, &destination, sizeof destination);
}

void PutJump(std::uint8_t* buffer, std::uintptr_t placedAt, std::uintptr_t destination)
{
    buffer[0] = 0xE9;
    const auto d = static_cast<std::int32_t>(static_cast<std::intptr_t>(destination - (placedAt + kJumpSize)));
    std::memcpy(buffer + 1, &d, 4);
}

bool Rel32(std::uintptr_t from, std::uintptr_t to, std::int32_t& out)
{
    const auto d = static_cast<std::int64_t>(to - from);
    if (d < INT32_MIN || d > INT32_MAX) return false;
    out = static_cast<std::int32_t>(d);
    return true;
}

// Copies the block into buffer (to be placed at trampoline) and relocates
// every relative operand; appends the jump back and the short-branch stubs.
// A far trampoline (out of reach of 32-bit displacements) uses absolute
// jumps and refuses moved code that reaches out of the block otherwise.
bool BuildTrampoline(const std::uint8_t* target, const TPlan& plan, std::uintptr_t trampoline, bool far,
                     std::uint8_t* buffer)
{
    const auto begin = reinterpret_cast<std::uintptr_t>(target);
    const std::uintptr_t end = begin + plan.Moved;
    const int jumpSize = far ? kAbsoluteJumpSize : kJumpSize;
    std::memcpy(buffer, target, plan.Moved);
    int stub = plan.Moved + jumpSize;
    for (int i = 0; i < plan.Count; ++i) {
        const TDecodedInstruction& d = plan.Instructions[i];
        const int at = plan.Offsets[i];
        const std::uintptr_t oldNext = begin + at + d.Length;
        const std::uintptr_t newNext = trampoline + at + d.Length;
        if (d.Branch == TBranchKind::Short) {
            const std::uintptr_t destination =
                oldNext + static_cast<std::int8_t>(target[at + d.BranchDisplacementOffset]);
            if (destination >= begin && destination <= end) continue; // stays in the block, or lands on the jump back
            if (far) {
                PutAbsoluteJump(buffer + stub, destination);
            } else {
                PutJump(buffer + stub, trampoline + stub, destination);
                if (!InRel32Reach(reinterpret_cast<void*>(trampoline + stub + kJumpSize),
                                  reinterpret_cast<void*>(destination)))
                    return false;
            }
            const std::intptr_t reach = static_cast<std::intptr_t>(trampoline + stub - newNext);
            if (reach > 127) return false;
            buffer[at + d.BranchDisplacementOffset] = static_cast<std::uint8_t>(reach);
            stub += jumpSize;
        } else if (d.Branch == TBranchKind::Near32) {
            std::int32_t old;
            std::memcpy(&old, target + at + d.BranchDisplacementOffset, 4);
            const std::uintptr_t destination = oldNext + static_cast<std::intptr_t>(old);
            if (destination >= begin && destination <= end) continue;
            std::int32_t displacement;
            if (far || !Rel32(newNext, destination, displacement)) return false;
            std::memcpy(buffer + at + d.BranchDisplacementOffset, &displacement, 4);
        }
        if (d.RipDisplacementOffset >= 0) {
            std::int32_t old;
            std::memcpy(&old, target + at + d.RipDisplacementOffset, 4);
            const std::uintptr_t referenced = oldNext + static_cast<std::intptr_t>(old);
            if (referenced >= begin && referenced < end)
                return false; // data inside the moved bytes: they are about to be overwritten
            std::int32_t displacement;
            if (far || !Rel32(newNext, referenced, displacement)) return false;
            std::memcpy(buffer + at + d.RipDisplacementOffset, &displacement, 4);
        }
    }
    if (far) {
        PutAbsoluteJump(buffer + plan.Moved, end);
        return true;
    }
    PutJump(buffer + plan.Moved, trampoline + plan.Moved, end);
    return InRel32Reach(reinterpret_cast<void*>(trampoline + plan.Moved + kJumpSize), reinterpret_cast<void*>(end));
}

[[noreturn]] void HookingFailed(const std::string& displayName)
{
    throw EHookingError(rtl::FormatStrings("Cannot hook the procedure \"%s\".", {displayName}));
}

} // namespace

void* InterceptProcedure(void* procedure, void* replacement, const std::string& displayName)
{
    auto& engine = detail::Engine();
    std::lock_guard<std::recursive_mutex> lock(engine.Lock);
    // A procedure intercepted with an absolute jump looks like an import
    // stub itself: look for it before following anything.
    if (engine.ProcedureHooks && procedure)
        for (TProcedureHook* h : *engine.ProcedureHooks)
            if (h->Target == procedure) return h->Trampoline;
    procedure = FollowImportStub(procedure);
    replacement = FollowImportStub(replacement);
    if (!procedure || !replacement)
        throw EProcNull(rtl::FormatStrings("Cannot hook a null procedure (\"%s\").", {displayName}));
    const std::string shared = SharedAreaName(procedure);
    if (!shared.empty())
        throw ESharedArea(rtl::FormatStrings("Cannot hook the module \"%s\" located into the shared-area.", {shared}));
    if (!engine.ProcedureHooks) HookingFailed(displayName);
    for (TProcedureHook* h : *engine.ProcedureHooks)
        if (h->Target == procedure) return h->Trampoline;

    auto* target = static_cast<std::uint8_t*>(procedure);
    // Near the target when the address space allows; otherwise anywhere,
    // reached through absolute jumps (which need 14 bytes at the target).
    void* slot = AllocateTrampoline(target);
    const bool far = slot == nullptr;
    if (far) slot = AllocateTrampoline(nullptr);
    if (!slot) HookingFailed(displayName);
    TPlan plan;
    if (!PlanBlock(target, far ? kAbsoluteJumpSize : kJumpSize, plan)) {
        FreeTrampoline(slot);
        HookingFailed(displayName);
    }

    const bool relay = !far && !InRel32Reach(target + kJumpSize, replacement);
    const int jumpSize = far ? kAbsoluteJumpSize : kJumpSize;
    const int size = plan.Moved + jumpSize + jumpSize * plan.ShortStubs + (relay ? kAbsoluteJumpSize : 0);
    if (size > static_cast<int>(kTrampolineSlotSize)) {
        FreeTrampoline(slot);
        HookingFailed(displayName);
    }
    const auto trampoline = reinterpret_cast<std::uintptr_t>(slot);
    std::uint8_t buffer[kTrampolineSlotSize];
    std::memset(buffer, 0xCC, sizeof buffer);
    const void* jumpTo = replacement;
    bool ok = BuildTrampoline(target, plan, trampoline, far, buffer);
    if (ok && relay) {
        // The replacement is out of reach of the 5-byte jump: go through an
        // absolute jump kept at the end of the trampoline.
        const int at = size - kAbsoluteJumpSize;
        PutAbsoluteJump(buffer + at, reinterpret_cast<std::uintptr_t>(replacement));
        jumpTo = reinterpret_cast<void*>(trampoline + at);
    }
    ok = ok && PatchCode(slot, buffer, static_cast<std::size_t>(size));

    auto hook = std::make_unique<TProcedureHook>();
    std::unique_ptr<std::uint8_t[]> saved;
    if (ok) {
        saved.reset(new std::uint8_t[plan.Moved]);
        std::memcpy(saved.get(), target, plan.Moved);
        if (far) {
            std::uint8_t jump[kAbsoluteJumpSize];
            PutAbsoluteJump(jump, reinterpret_cast<std::uintptr_t>(replacement));
            ok = PatchCode(target, jump, sizeof jump);
        } else {
            ok = WriteJump(target, jumpTo);
        }
    }
    if (!ok) {
        FreeTrampoline(slot);
        HookingFailed(displayName);
    }
    hook->Target = target;
    hook->Trampoline = static_cast<std::uint8_t*>(slot);
    hook->TrampolineSize = size;
    hook->SavedBytes = saved.release();
    hook->SavedCount = plan.Moved;
    engine.ProcedureHooks->push_back(hook.release());
    return slot;
}

bool RestoreProcedure(void* procedure)
{
    auto& engine = detail::Engine();
    std::lock_guard<std::recursive_mutex> lock(engine.Lock);
    if (!engine.ProcedureHooks || !procedure) return false;
    bool exact = false;
    for (TProcedureHook* h : *engine.ProcedureHooks) exact |= h->Target == procedure;
    void* followed = exact ? procedure : FollowImportStub(procedure);
    bool found = false;
    auto& list = *engine.ProcedureHooks;
    for (std::size_t i = list.size(); i-- > 0;) {
        TProcedureHook* h = list[i];
        if (h->Target != procedure && h->Target != followed) continue;
        PatchCode(h->Target, h->SavedBytes, static_cast<std::size_t>(h->SavedCount));
        delete[] h->SavedBytes;
        FreeTrampoline(h->Trampoline);
        delete h;
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        found = true;
    }
    return found;
}

const TProcedureHook* FindProcedureHook(const void* target)
{
    auto& engine = detail::Engine();
    std::lock_guard<std::recursive_mutex> lock(engine.Lock);
    if (!engine.ProcedureHooks) return nullptr;
    for (TProcedureHook* h : *engine.ProcedureHooks)
        if (h->Target == target) return h;
    return nullptr;
}

int ProcedureHookCount()
{
    auto& engine = detail::Engine();
    std::lock_guard<std::recursive_mutex> lock(engine.Lock);
    return engine.ProcedureHooks ? static_cast<int>(engine.ProcedureHooks->size()) : 0;
}

void detail::RestoreAllProcedures()
{
    auto& engine = Engine();
    if (!engine.ProcedureHooks) return;
    while (!engine.ProcedureHooks->empty()) RestoreProcedure(engine.ProcedureHooks->back()->Target);
    delete engine.ProcedureHooks;
    engine.ProcedureHooks = nullptr;
}

} // namespace crashreport::hook
