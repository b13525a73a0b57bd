#include "crashreport/stack/call_recognizer.h"

#include <cstring>

#include "crashreport/modules/readable_memory.h"

namespace crashreport {
namespace {

std::uint8_t At(std::uintptr_t a) { return *reinterpret_cast<const std::uint8_t*>(a); }

std::int32_t Int32At(std::uintptr_t a)
{
    std::int32_t v;
    std::memcpy(&v, reinterpret_cast<const void*>(a), 4);
    return v;
}

bool IsRex(std::uint8_t b) { return (b & 0xF0) == 0x40; }

bool InRange(std::uint8_t b, std::uint8_t lo, std::uint8_t hi) { return b >= lo && b <= hi; }

// ModRM of FF /2 with memory through a register, no displacement (not the
// SIB and RIP-relative encodings).
bool IsCallThroughRegister(std::uint8_t m) { return InRange(m, 0x10, 0x13) || m == 0x16 || m == 0x17; }
bool IsCallThroughDisp8(std::uint8_t m) { return InRange(m, 0x50, 0x53) || InRange(m, 0x55, 0x57); }
bool IsCallThroughDisp32(std::uint8_t m) { return InRange(m, 0x90, 0x93) || InRange(m, 0x95, 0x97); }

} // namespace

std::uintptr_t FollowJumpThunk(std::uintptr_t address)
{
    std::uintptr_t p = address;
    if (IsReadableMemory(reinterpret_cast<const void*>(p), 4) && At(p) == 0xF3 && At(p + 1) == 0x0F &&
        At(p + 2) == 0x1E && At(p + 3) == 0xFA)
        p += 4;                                                                      // endbr64
    if (IsReadableMemory(reinterpret_cast<const void*>(p), 1) && At(p) == 0xF2) ++p; // bnd
    if (!IsReadableMemory(reinterpret_cast<const void*>(p), 6) || At(p) != 0xFF || At(p + 1) != 0x25) return address;
    const std::uintptr_t cell = p + 6 + std::uintptr_t(std::intptr_t(Int32At(p + 2)));
    if (!IsReadableMemory(reinterpret_cast<const void*>(cell), sizeof(void*))) return address;
    std::uintptr_t target;
    std::memcpy(&target, reinterpret_cast<const void*>(cell), sizeof target);
    return target;
}

bool RecognizeCall(std::uintptr_t v, bool followTargets, TRecognizedCall& call)
{
    call = {};
    if (v < 8 || !IsReadableMemory(reinterpret_cast<const void*>(v - 7), 7)) return false;
    const bool rexReadable = IsReadableMemory(reinterpret_cast<const void*>(v - 8), 1);
    auto rexAt = [&](std::uintptr_t a) { return (a >= v - 7 || rexReadable) && IsRex(At(a)); };
    auto site = [&](std::uintptr_t a) {
        call.Site = a;
        return true;
    };

    if (At(v - 5) == 0xE8) {
        const std::uintptr_t target = v + std::uintptr_t(std::intptr_t(Int32At(v - 4)));
        if (IsReadableMemory(reinterpret_cast<const void*>(target), 1)) {
            if (followTargets) {
                const std::uintptr_t real = FollowJumpThunk(target);
                if (IsReadableMemory(reinterpret_cast<const void*>(real), 5) && At(real) != 0xE8) {
                    call.Target = real;
                    call.TargetIsEntry = true;
                }
            }
            return site(v - 5);
        }
    }
    const std::uint8_t m2 = At(v - 1);
    if (At(v - 2) == 0xFF && (InRange(m2, 0xD0, 0xD7) || IsCallThroughRegister(m2)))
        return site(rexAt(v - 3) ? v - 3 : v - 2);
    if (At(v - 3) == 0xFF && IsCallThroughDisp8(At(v - 2))) return site(rexAt(v - 4) ? v - 4 : v - 3);
    if (At(v - 6) == 0xFF && IsCallThroughDisp32(At(v - 5))) return site(rexAt(v - 7) ? v - 7 : v - 6);
    if (At(v - 3) == 0xFF && At(v - 2) == 0x14 && At(v - 1) == 0x24) return site(rexAt(v - 4) ? v - 4 : v - 3);
    if (At(v - 4) == 0xFF && At(v - 3) == 0x54 && At(v - 2) == 0x24) return site(rexAt(v - 5) ? v - 5 : v - 4);
    if (At(v - 7) == 0xFF && At(v - 6) == 0x94 && At(v - 5) == 0x24) return site(rexAt(v - 8) ? v - 8 : v - 7);
    if (At(v - 6) == 0xFF && At(v - 5) == 0x15) {
        // x86-64: RIP-relative, the pointer lies at V + disp32.
        const std::uintptr_t cell = v + std::uintptr_t(std::intptr_t(Int32At(v - 4)));
        if (IsReadableMemory(reinterpret_cast<const void*>(cell), sizeof(void*))) return site(v - 6);
    }
    return false;
}

} // namespace crashreport
