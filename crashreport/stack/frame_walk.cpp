#include "crashreport/stack/frame_walk.h"

#include <cstring>

#include "crashreport/stack/call_recognizer.h"
#include "crashreport/stack/walk_memory.h"

namespace crashreport {
namespace {

// The kernel's signal return trampoline (glibc's __restore_rt):
// mov $15, %rax; syscall.
constexpr std::uint8_t kRestoreRt[] = {0x48, 0xC7, 0xC0, 0x0F, 0x00, 0x00, 0x00, 0x0F, 0x05};

// Offsets in the ucontext_t the kernel leaves at the stack pointer of the
// trampoline: the general registers of mcontext_t start at 40, eight
// bytes each, in the kernel's order.
constexpr std::uintptr_t kGregs = 40;
constexpr int kGregOfDwarf[kCfiRegisters] = {13 /*rax*/, 12 /*rdx*/, 14 /*rcx*/, 11 /*rbx*/, 9 /*rsi*/, 8 /*rdi*/,
                                             10 /*rbp*/, 15 /*rsp*/, 0 /*r8*/,   1 /*r9*/,   2 /*r10*/, 3 /*r11*/,
                                             4 /*r12*/,  5 /*r13*/,  6 /*r14*/,  7 /*r15*/,  16 /*rip*/};

// Signal-safe.
bool IsSignalTrampoline(std::uintptr_t pc, const TUnwindModules& modules)
{
    return modules.Readable(pc, sizeof kRestoreRt) &&
        std::memcmp(reinterpret_cast<const void*>(pc), kRestoreRt, sizeof kRestoreRt) == 0;
}

std::uint8_t CodeByte(std::uintptr_t a) { return *reinterpret_cast<const std::uint8_t*>(a); }

// The call before a return address the walk recovered, in code the module
// table knows to be readable: only the call's length is in question.
// Signal-safe.
std::uintptr_t KnownCallSite(std::uintptr_t v, const TUnwindModules& modules)
{
    auto rex = [&](std::uintptr_t a) { return modules.Readable(a, 1) && (CodeByte(a) & 0xF0) == 0x40 ? a : a + 1; };
    if (CodeByte(v - 5) == 0xE8) {
        std::int32_t displacement;
        std::memcpy(&displacement, reinterpret_cast<const void*>(v - 4), 4);
        if (modules.Readable(v + std::uintptr_t(std::intptr_t(displacement)), 1)) return v - 5;
    }
    const std::uint8_t m2 = CodeByte(v - 1), m3 = CodeByte(v - 2), m6 = CodeByte(v - 5);
    if (CodeByte(v - 2) == 0xFF && (m2 & 0x38) == 0x10 && (m2 >> 6 == 3 || (m2 >> 6 == 0 && (m2 & 7) != 4 && (m2 & 7) != 5)))
        return rex(v - 3);
    if (CodeByte(v - 3) == 0xFF && (m3 & 0xF8) == 0x50 && (m3 & 7) != 4) return rex(v - 4);
    if (CodeByte(v - 6) == 0xFF && (m6 & 0xF8) == 0x90 && (m6 & 7) != 4) return rex(v - 7);
    if (CodeByte(v - 6) == 0xFF && m6 == 0x15) return v - 6;
    if (CodeByte(v - 3) == 0xFF && m3 == 0x14) return rex(v - 4);
    if (CodeByte(v - 4) == 0xFF && CodeByte(v - 3) == 0x54) return rex(v - 5);
    if (CodeByte(v - 7) == 0xFF && CodeByte(v - 6) == 0x94) return rex(v - 8);
    return v - 1;
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
        case crUndefined: continue;
        case crOffset:
            if (!memory.Word(cfa + std::uintptr_t(rule.Offset), v)) return false;
            break;
        case crValOffset: v = cfa + std::uintptr_t(rule.Offset); break;
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

// The raw scan from `sp` up, over the copy where it holds the stack; its
// addresses are marked. Signal-safe.
void ScanFrom(std::uintptr_t sp, const TThreadStack& stack, const TCodeRanges& code, TStackAddresses& out)
{
    TStackArea area;
    if (stack.Copy && sp >= stack.CopyStart && sp < stack.CopyStart + stack.CopyLength) {
        // The copy's bytes stand for the stack: its values are the return
        // addresses the stack held.
        area.Start = stack.Copy + (sp - stack.CopyStart);
        area.End = stack.Copy + stack.CopyLength;
    } else if (!stack.CopyOnly) {
        area.Start = reinterpret_cast<const void*>(sp);
        area.End = reinterpret_cast<const void*>(stack.Top);
    } else {
        return;
    }
    const std::size_t before = out.Items().size();
    ScanStackAddresses(area, false, code, out);
    out.MarkScanned(before);
}

} // namespace

std::uintptr_t CallSiteOf(std::uintptr_t returnAddress, const TUnwindModules& modules)
{
    if (returnAddress > 8 && modules.Readable(returnAddress - 8, 8)) return KnownCallSite(returnAddress, modules);
    return CallSiteOf(returnAddress);
}

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
    TWalkMemory memory = stack.CopyOnly ? TWalkMemory(stack.CopyStart, stack.CopyStart + stack.CopyLength)
                                        : TWalkMemory(regs.Sp(), stack.Top);
    if (stack.Copy) memory.SetCopy(stack.Copy, stack.CopyStart, stack.CopyLength);
    const std::uintptr_t top = stack.CopyOnly ? stack.CopyStart + stack.CopyLength : stack.Top;
    auto add = [&](std::uintptr_t address) {
        if (regs.Sp() >= stack.FramesFrom) out.AddWalked(address);
        ++outcome.Frames;
    };
    add(stack.FirstAddress ? reinterpret_cast<std::uintptr_t>(stack.FirstAddress) : regs.Ip());
    bool exact = true; // the instruction pointer is the instruction itself, not a return address
    while (outcome.Frames < kMaxWalkedFrames) {
        const std::uintptr_t ip = regs.Ip();
        const std::uintptr_t sp = regs.Sp();
        const std::uintptr_t pc = exact ? ip : ip - 1;
        const TCfiModule* module = modules.Find(pc);
        if (!exact && IsSignalTrampoline(ip, modules)) {
            TWalkRegisters interrupted = regs;
            if (!StepOverSignalFrame(memory, interrupted) || interrupted.Sp() <= sp || interrupted.Sp() > top) break;
            regs = interrupted;
            add(regs.Ip());
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
        if (caller.Sp() <= sp || caller.Sp() > top) break;
        regs = caller;
        // Below a frame marked as a signal frame the caller stands at the
        // interrupted instruction itself.
        exact = row.SignalFrame;
        const bool trampoline = !exact && IsSignalTrampoline(regs.Ip(), modules);
        add(exact || trampoline ? regs.Ip() : CallSiteOf(regs.Ip(), modules));
    }
    outcome.StoppedAt = regs.Sp();
    ScanFrom(regs.Sp(), stack, code, out);
    return outcome;
}

} // namespace crashreport
