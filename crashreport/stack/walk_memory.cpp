#include "crashreport/stack/walk_memory.h"

#include <cstring>

namespace crashreport {

#if defined(__x86_64__)
TWalkRegisters WalkRegistersOf(const kernel::TThreadContext& c)
{
    TWalkRegisters r;
    const std::uint64_t values[kCfiRegisters] = {c.Rax, c.Rdx, c.Rcx, c.Rbx, c.Rsi, c.Rdi, c.Rbp, c.Rsp, c.R8,
                                                 c.R9,  c.R10, c.R11, c.R12, c.R13, c.R14, c.R15, c.Rip};
    for (int i = 0; i < kCfiRegisters; ++i) r.Set(i, values[i]);
    return r;
}
#endif

const std::uint8_t* TWalkMemory::InCopy(std::uintptr_t address, std::size_t length) const
{
    if (!copy_ || address < copyStart_ || address - copyStart_ > copyLength_ ||
        length > copyLength_ - (address - copyStart_))
        return nullptr;
    return copy_ + (address - copyStart_);
}

// A plain load from another frame's stack (the memory checker would take
// guard zones of live frames for errors). Signal-safe.
__attribute__((no_sanitize("address", "thread"))) static std::uintptr_t LoadWord(std::uintptr_t address)
{
    return *reinterpret_cast<const volatile std::uintptr_t*>(address);
}

bool TWalkMemory::Word(std::uintptr_t address, std::uintptr_t& value) const
{
    if (const std::uint8_t* copied = InCopy(address, sizeof value)) {
        std::memcpy(&value, copied, sizeof value);
        return true;
    }
    if (!Contains(address, sizeof value)) return false;
    if (copy_ && address < copyStart_ + copyLength_) return false; // straddles the copy's end
    value = LoadWord(address);
    return true;
}

bool EvaluateCfiExpression(const TCfiBytes& bytes, std::uintptr_t at, std::uint32_t length,
                           const TWalkRegisters& registers, const TWalkMemory& memory, const std::uintptr_t* cfa,
                           std::uintptr_t& result)
{
    constexpr int kDepth = 16;
    std::uintptr_t stack[kDepth];
    int depth = 0;
    auto push = [&](std::uintptr_t v) {
        if (depth == kDepth) return false;
        stack[depth++] = v;
        return true;
    };
    if (cfa && !push(*cfa)) return false;
    TCfiCursor c(bytes, at);
    const std::uintptr_t end = at + length;
    if (!bytes.Contains(at, length)) return false;
    int steps = 0;
    while (c.At() < end) {
        if (++steps > 256) return false; // a loop of branches
        std::uint8_t op;
        if (!c.U8(op)) return false;
        if (op >= 0x30 && op <= 0x4F) { // lit0..lit31
            if (!push(op - 0x30)) return false;
            continue;
        }
        if (op >= 0x50 && op <= 0x6F) { // reg0..reg31
            std::uintptr_t v;
            if (!registers.Get(op - 0x50, v) || !push(v)) return false;
            continue;
        }
        if (op >= 0x70 && op <= 0x8F) { // breg0..breg31
            std::int64_t offset;
            std::uintptr_t v;
            if (!c.Sleb(offset) || !registers.Get(op - 0x70, v) || !push(v + std::uintptr_t(offset))) return false;
            continue;
        }
        std::uint64_t u;
        std::int64_t s;
        switch (op) {
        case 0x06: { // deref
            if (depth < 1) return false;
            std::uintptr_t v;
            if (!memory.Word(stack[depth - 1], v)) return false;
            stack[depth - 1] = v;
            break;
        }
        case 0x08: {
            std::uint8_t x;
            if (!c.U8(x) || !push(x)) return false;
            break;
        }
        case 0x09: {
            std::uint8_t x;
            if (!c.U8(x) || !push(std::uintptr_t(std::int8_t(x)))) return false;
            break;
        }
        case 0x0A: {
            std::uint16_t x;
            if (!c.U16(x) || !push(x)) return false;
            break;
        }
        case 0x0B: {
            std::uint16_t x;
            if (!c.U16(x) || !push(std::uintptr_t(std::int16_t(x)))) return false;
            break;
        }
        case 0x0C: {
            std::uint32_t x;
            if (!c.U32(x) || !push(x)) return false;
            break;
        }
        case 0x0D: {
            std::uint32_t x;
            if (!c.U32(x) || !push(std::uintptr_t(std::int32_t(x)))) return false;
            break;
        }
        case 0x03:
        case 0x0E:
        case 0x0F: {
            std::uint64_t x;
            if (!c.U64(x) || !push(x)) return false;
            break;
        }
        case 0x10:
            if (!c.Uleb(u) || !push(u)) return false;
            break;
        case 0x11:
            if (!c.Sleb(s) || !push(std::uintptr_t(s))) return false;
            break;
        case 0x12:
            if (depth < 1 || !push(stack[depth - 1])) return false;
            break; // dup
        case 0x13:
            if (depth < 1) return false;
            --depth;
            break; // drop
        case 0x14:
            if (depth < 2 || !push(stack[depth - 2])) return false;
            break;   // over
        case 0x16: { // swap
            if (depth < 2) return false;
            const std::uintptr_t t = stack[depth - 1];
            stack[depth - 1] = stack[depth - 2];
            stack[depth - 2] = t;
            break;
        }
        case 0x1F:
            if (depth < 1) return false;
            stack[depth - 1] = -stack[depth - 1];
            break; // neg
        case 0x20:
            if (depth < 1) return false;
            stack[depth - 1] = ~stack[depth - 1];
            break; // not
        case 0x23:
            if (depth < 1 || !c.Uleb(u)) return false;
            stack[depth - 1] += u;
            break; // plus_uconst
        case 0x1A:
        case 0x1B:
        case 0x1C:
        case 0x1D:
        case 0x1E:
        case 0x21:
        case 0x22:
        case 0x24:
        case 0x25:
        case 0x26:
        case 0x27:
        case 0x29:
        case 0x2A:
        case 0x2B:
        case 0x2C:
        case 0x2D:
        case 0x2E: {
            if (depth < 2) return false;
            const std::uintptr_t b = stack[--depth];
            const std::uintptr_t a = stack[depth - 1];
            const auto sa = static_cast<std::intptr_t>(a), sb = static_cast<std::intptr_t>(b);
            std::uintptr_t r = 0;
            switch (op) {
            case 0x1A: r = a & b; break;
            case 0x1B:
                if (sb == 0) return false;
                r = sb == -1 ? std::uintptr_t(0) - a : std::uintptr_t(sa / sb);
                break;
            case 0x1C: r = a - b; break;
            case 0x1D:
                if (b == 0) return false;
                r = a % b;
                break;
            case 0x1E: r = a * b; break;
            case 0x21: r = a | b; break;
            case 0x22: r = a + b; break;
            case 0x24: r = b >= 64 ? 0 : a << b; break;
            case 0x25: r = b >= 64 ? 0 : a >> b; break;
            case 0x26: r = std::uintptr_t(b >= 64 ? (sa < 0 ? -1 : 0) : sa >> b); break;
            case 0x27: r = a ^ b; break;
            case 0x29: r = sa == sb; break;
            case 0x2A: r = sa >= sb; break;
            case 0x2B: r = sa > sb; break;
            case 0x2C: r = sa <= sb; break;
            case 0x2D: r = sa < sb; break;
            case 0x2E: r = sa != sb; break;
            }
            stack[depth - 1] = r;
            break;
        }
        case 0x2F:   // skip
        case 0x28: { // bra
            std::uint16_t x;
            if (!c.U16(x)) return false;
            bool jump = true;
            if (op == 0x28) {
                if (depth < 1) return false;
                jump = stack[--depth] != 0;
            }
            if (jump) {
                const std::uintptr_t target = c.At() + std::uintptr_t(std::intptr_t(std::int16_t(x)));
                if (target < at || target > end) return false;
                c.MoveTo(target);
            }
            break;
        }
        case 0x92: { // bregx
            std::uintptr_t v;
            if (!c.Uleb(u) || !c.Sleb(s) || u >= kCfiRegisters || !registers.Get(int(u), v) ||
                !push(v + std::uintptr_t(s)))
                return false;
            break;
        }
        case 0x96: break; // nop
        default: return false;
        }
    }
    if (depth < 1) return false;
    result = stack[depth - 1];
    return true;
}

} // namespace crashreport
