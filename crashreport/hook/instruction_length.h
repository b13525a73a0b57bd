#pragma once
// Length decoding of x86 instructions, enough to move the first instructions
// of a procedure into a trampoline: total length, where the ModR/M byte, a
// RIP-relative displacement and a relative branch displacement sit.
#include <cstdint>

namespace crashreport::hook {

enum class TCodeMode { X86_32, X86_64 };
constexpr TCodeMode NativeCodeMode = sizeof(void*) == 8 ? TCodeMode::X86_64 : TCodeMode::X86_32;

enum class TBranchKind : std::uint8_t {
    None,
    Short,  // 8-bit displacement: 0x70..0x7F, 0xE0..0xE3, 0xEB
    Near32, // 32-bit displacement: 0xE8, 0xE9, 0x0F 0x80..0x8F
};

struct TDecodedInstruction {
    int Length = 1;                 // whole instruction, prefixes included
    int OpcodeOffset = 0;           // first opcode byte (after prefixes, REX, VEX)
    std::uint8_t Opcode = 0;        // the byte that selected the table entry
    bool TwoByte = false;           // 0x0F escape (or a VEX/EVEX opcode map)
    bool Vex = false;               // VEX or EVEX encoded (64-bit mode only)
    int ModRMOffset = -1;           // -1: no ModR/M byte
    int RipDisplacementOffset = -1; // 64-bit mode: offset of the disp32 of a RIP-relative operand
    TBranchKind Branch = TBranchKind::None;
    int BranchDisplacementOffset = -1;
};

// Decodes one instruction. Returns false for an opcode the decoder does not
// know; then out.Length is 1. Reads at most 15 bytes from code.
bool DecodeInstruction(const std::uint8_t* code, TCodeMode mode, TDecodedInstruction& out);

// Returns true and the length of the instruction at code, or false and 1.
bool GetInstructionLength(const std::uint8_t* code, int& length, TCodeMode mode = NativeCodeMode);

} // namespace crashreport::hook
