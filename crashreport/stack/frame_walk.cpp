#include "crashreport/stack/frame_walk.h"

#include <cstring>

#include "crashreport/stack/call_recognizer.h"
#include "crashreport/stack/walk_memory.h"
#include "crashreport/modules/readable_memory.h"

namespace crashreport {
namespace {

// The kernel's signal return trampoline (glibc's __restore_rt):
// mov $15, %rax; syscall.
constexpr std::uint8_t kRestoreRt[] = {0x48, 0xC7, 0xC0, 0x0F, 0x00, 0x00, 0x00, 0x0F, 0x05};

// Offsets in the ucontext_t the kernel leaves at the stack pointer of the
// trampoline: the general registers of mcontext_t start at 40, eight
// bytes each, in the kernel's order.
constexpr std::uintptr_t kGregs = 40;
constexpr int kGregOfDwarf[kCfiRegisters] = {
    13 /*rax*/, 12 /*rdx*/, 14 /*rcx*/, 11 /*rbx*/, 9 /*rsi*/, 8 /*rdi*/, 10 /*rbp*/, 15 /*rsp*/,
    0 /*r8*/,   1 /*r9*/,   2 /*r10*/,  3 /*r11*/,  4 /*r12*/, 5 /*r13*/, 6 /*r14*/, 7 /*r15*/, 16 /*rip*/};

// Signal-safe.
bool IsSignalTrampoline(std::uintptr_t pc, const TCfiModule* module)
{
    if (module && module->Bytes.Contains(pc, sizeof kRestoreRt))
        return std::memcmp(reinterpret_cast<const void*>(pc), kRestoreRt, sizeof kRestoreRt) == 0;
    return IsReadableMemory(reinterpret_cast<const void*>(pc), sizeof kRestoreRt) &&
        std::memcmp(reinterpret_cast<const void*>(pc), kRestoreRt, sizeof kRestoreRt) == 0;
}

// The interrupted registers of a signal frame. Signal-safe.
bool StepOverSignalFrame(const TWalkMemory& memory, TWalkRegisters& regs)
{
    TWalkRegisters next;
    for (int reg = 0; reg < kCfiRegisters; ++reg) {
        std::uintptr_t v;
        if (!memory.Word(regs.Sp() + kGregs + 8 * std::uintptr_t(kGregOfDwarf[reg]), v)) return false;
        next.Set(reg, v);
    }
    regs = next;
    return true;
}

// One step with the call-frame information: the caller's registers. False
// when the rules cannot be followed; `outermost` when the return address is
// undefined (the thread's first frame). Signal-safe.
bool StepWithCfi(const TCfiModule& module, const TCfiRow& row, const TWalkMemory& memory, TWalkRegisters& regs,
                 bool& outermost)
{
    std::uintptr_t cfa;
    if (row.CfaIsExpression) {
        if (!EvaluateCfiExpression(module.Bytes, row.CfaExpression, row.CfaExpressionLength, regs, memory, nullptr,
                                   cfa))
            return false;
    } else {
        std::uintptr_t base;
        if (!regs.Get(row.CfaRegister, base)) return false;
        cfa = base + std::uintptr_t(row.CfaOffset);
    }
    if (row.ReturnRegister >= kCfiRegisters) return false;
    if (row.Registers[row.ReturnRegister].Kind == crUndefined) {
        outermost = true;
        return true;
    }
    TWalkRegisters next;
    for (int reg = 0; reg < kCfiRegisters; ++reg) {
        const TCfiRule& rule = row.Registers[reg];
        std::uintptr_t v = 0;
        switch (rule.Kind) {
        case crSame:
            if (!regs.Get(reg, v)) continue;
            break;
        case crUndefined:
            continue;
        case crOffset:
            if (!memory.Word(cfa + std::uintptr_t(rule.Offset), v)) return false;
            break;
        case crValOffset:
            v = cfa + std::uintptr_t(rule.Offset);
            break;
        case crRegister:
            if (!regs.Get(int(rule.Offset), v)) continue;
            break;
        case crExpression:
        case crValExpression: {
            std::uintptr_t at;
            if (!EvaluateCfiExpression(module.Bytes, rule.Expression, rule.ExpressionLength, regs, memory, &cfa, at))
                return false;
            if (rule.Kind == crExpression) {
                if (!memory.Word(at, v)) return false;
            } else {
                v = at;
            }
            break;
        }
        }
        next.Set(reg, v);
    }
    // The return address column is the caller's instruction pointer; its
    // stack pointer is the CFA.
    std::uintptr_t ip;
    if (!next.Get(row.ReturnRegister, ip)) return false;
    next.Set(dwReturnAddress, ip);
    next.Set(dwRsp, cfa);
    regs = next;
    return true;
}

void ScanFrom(std::uintptr_t sp, const TThreadStack& stack, const TCodeRanges& code, TStackAddresses& out)
{
    TStackArea area;
    if (stack.Copy && sp >= stack.CopyStart && sp < stack.CopyStart + stack.CopyLength) {
        // The copy's bytes stand for the stack: its values are the return
        // addresses the stack held.
        area.Start = stack.Copy + (sp - stack.CopyStart);
        area.End = stack.Copy + stack.CopyLength;
    } else {
        area.Start = reinterpret_cast<const void*>(sp);
        area.End = reinterpret_cast<const void*>(stack.Top);
    }
    const std::size_t before = out.Items().size();
    ScanStackAddresses(area, false, code, out);
    out.MarkScanned(before);
}

} // namespace

std::uintptr_t CallSiteOf(std::uintptr_t returnAddress)
{
    TRecognizedCall call;
    if (RecognizeCall(returnAddress, false, call)) return call.Site;
    return returnAddress - 1;
}

TWalkOutcome WalkStackAddresses(const TThreadStack& stack, const TUnwindModules& modules, const TCodeRanges& code,
                                TStackAddresses& out)
{
    TWalkOutcome outcome;
    if (!stack.Context) {
        if (stack.FirstAddress) out.Add(reinterpret_cast<std::uintptr_t>(stack.FirstAddress));
        if (stack.ScanStart) ScanFrom(stack.ScanStart, stack, code, out);
        outcome.StoppedAt = stack.ScanStart;
        return outcome;
    }
    TWalkRegisters regs = WalkRegistersOf(*stack.Context);
    TWalkMemory memory(regs.Sp(), stack.Top);
    if (stack.Copy) memory.SetCopy(stack.Copy, stack.CopyStart, stack.CopyLength);
    out.Add(stack.FirstAddress ? reinterpret_cast<std::uintptr_t>(stack.FirstAddress) : regs.Ip());
    outcome.Frames = 1;
    bool exact = true; // the instruction pointer is the instruction itself, not a return address
    while (outcome.Frames < kMaxWalkedFrames) {
        const std::uintptr_t ip = regs.Ip();
        const std::uintptr_t sp = regs.Sp();
        const std::uintptr_t pc = exact ? ip : ip - 1;
        const TCfiModule* module = modules.Find(pc);
        if (!exact && IsSignalTrampoline(ip, module)) {
            if (!StepOverSignalFrame(memory, regs) || regs.Sp() <= sp || !memory.Contains(regs.Sp(), 0)) break;
            out.Add(regs.Ip());
            ++outcome.Frames;
            continue; // `exact` stays: the interrupted instruction itself
        }
        TCfiRow row;
        if (!module || !FindCfiRow(*module, pc, row)) break;
        TWalkRegisters caller = regs;
        bool outermost = false;
        if (!StepWithCfi(*module, row, memory, caller, outermost)) break;
        if (outermost || caller.Ip() == 0) {
            outcome.Complete = true;
            return outcome;
        }
        // The caller's frame lies above this one on the stack.
        if (caller.Sp() <= sp || caller.Sp() > stack.Top) break;
        regs = caller;
        // Below a frame marked as a signal frame the caller stands at the
        // interrupted instruction itself.
        exact = row.SignalFrame;
        const bool trampoline = !exact && IsSignalTrampoline(regs.Ip(), modules.Find(regs.Ip()));
        out.Add(exact || trampoline ? regs.Ip() : CallSiteOf(regs.Ip()));
        ++outcome.Frames;
    }
    outcome.StoppedAt = regs.Sp();
    ScanFrom(regs.Sp(), stack, code, out);
    return outcome;
}

} // namespace crashreport
