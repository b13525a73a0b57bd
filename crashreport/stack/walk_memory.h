#pragma once
// What a frame walk reads: the registers it carries from frame to frame,
// and the stack it may read, live or from a copy taken earlier. A read
// outside the stack's known bounds fails instead of touching memory, so a
// corrupted frame ends the walk rather than faulting. Signal-safe.
#include <cstddef>
#include <cstdint>

#include "crashreport/stack/cfi_reader.h"
#include "platform/kernel/threads.h"

namespace crashreport {

struct TWalkRegisters {
    std::uintptr_t Values[kCfiRegisters] = {}; // DWARF numbering; [16] is the instruction pointer
    std::uint32_t Known = 0;                   // bit n: Values[n] is valid

    bool Get(int reg, std::uintptr_t& value) const
    {
        if (reg < 0 || reg >= kCfiRegisters || !((Known >> reg) & 1)) return false;
        value = Values[reg];
        return true;
    }
    void Set(int reg, std::uintptr_t value)
    {
        Values[reg] = value;
        Known |= 1u << reg;
    }
    std::uintptr_t Ip() const { return Values[dwReturnAddress]; }
    std::uintptr_t Sp() const { return Values[dwRsp]; }
};

#if defined(__x86_64__)
// Every register of a thread context. Signal-safe.
TWalkRegisters WalkRegistersOf(const kernel::TThreadContext& context);
#endif

class TWalkMemory {
public:
    // The live stack [low, high): a thread's stack from its stack pointer to
    // its top is mapped.
    TWalkMemory(std::uintptr_t low, std::uintptr_t high) : low_(low), high_(high) {}
    // A copy of [start, start + length) read instead of the live bytes there
    // (the stack as it was when an exception was raised); the live stack
    // still answers above it.
    void SetCopy(const std::uint8_t* bytes, std::uintptr_t start, std::size_t length)
    {
        copy_ = bytes;
        copyStart_ = start;
        copyLength_ = length;
        if (start < low_) low_ = start;
    }
    bool Word(std::uintptr_t address, std::uintptr_t& value) const;
    bool Contains(std::uintptr_t address, std::size_t length) const
    {
        return address >= low_ && address < high_ && length <= high_ - address;
    }
    std::uintptr_t Low() const { return low_; }
    std::uintptr_t High() const { return high_; }
    // Where the copy holds [address, +length): a pointer into it, or null.
    const std::uint8_t* InCopy(std::uintptr_t address, std::size_t length) const;

private:
    std::uintptr_t low_, high_;
    const std::uint8_t* copy_ = nullptr;
    std::uintptr_t copyStart_ = 0;
    std::size_t copyLength_ = 0;
};

// The value of a DWARF expression of call-frame information (the operators
// GCC, glibc and hand-written assembly use: constants, register bases,
// dereference, arithmetic, comparison, branches). `cfa` is pushed first when
// given. False for an operator not handled or a read outside the stack.
// Signal-safe.
bool EvaluateCfiExpression(const TCfiBytes& bytes, std::uintptr_t at, std::uint32_t length,
                           const TWalkRegisters& registers, const TWalkMemory& memory, const std::uintptr_t* cfa,
                           std::uintptr_t& result);

} // namespace crashreport
