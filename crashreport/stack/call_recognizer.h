#pragma once
// Recognises the call instruction that would return to a candidate return
// address V found on a stack: a direct call (E8 rel32), or an indirect call
// (FF /2) through a register, through memory addressed by a register (with
// no, an 8-bit or a 32-bit displacement, or RSP-based with a SIB byte), or
// RIP-relative through a pointer; the register forms also with a REX prefix.
// Every byte is checked with IsReadableMemory before it is read.
// Signal-safe.
#include <cstdint>

namespace crashreport {

struct TRecognizedCall {
    std::uintptr_t Site = 0;    // address of the call instruction
    std::uintptr_t Target = 0;  // direct calls: the called function (import thunks followed)
    bool TargetIsEntry = false; // the target qualifies as an entry of its own
};

bool RecognizeCall(std::uintptr_t returnAddress, bool followTargets, TRecognizedCall& call);

// The function an import thunk at `address` jumps to (endbr64 and bnd
// prefixes allowed before the FF 25 indirect jump), or `address` itself.
std::uintptr_t FollowJumpThunk(std::uintptr_t address);

} // namespace crashreport
