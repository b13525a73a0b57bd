#include "crashreport/hook/instruction_length.h"

#include <array>

namespace crashreport::hook {
namespace {

// Instruction classes, one hexadecimal digit per opcode:
//   0..6  no ModR/M, that many bytes follow the opcode;
//   7..13 no ModR/M, (class - 7) bytes follow, 2 fewer after a 0x66 prefix;
//   14    a ModR/M byte follows;  15 undefined.
constexpr const char* kOneByteRows[16] = {
    "EEEE1B00EEEE1B0F", "EEEE1B00EEEE1B00", "EEEE1BF0EEEE1BF0", "EEEE1BF0EEEE1BF0",
    "0000000000000000", "0000000000000000", "00EEFFFFBE1E0000", "1111111111111111",
    "EEEEEEEEEEEEEEEE", "0000000000D00000", "444400001B000000", "11111111BBBBBBBB",
    "EE20EEEE30200100", "EEEE1100EEEEEEEE", "11111111BBD10000", "F0FF00EE000000EE",
};
constexpr const char* kTwoByteRows[16] = {
    "EEEEF00000FFFE0F", "EEEEEEEEEFFFFFFF", "EEEEFFFFEEEEEEEE", "000000FFFFFFFFFF",
    "EEEEEEEEEEEEEEEE", "EEEEEEEEEEEEEEEE", "EEEEEEEEEEEEFFEE", "EEEEEEE0FFFFFFEE",
    "BBBBBBBBBBBBBBBB", "EEEEEEEEEEEEEEEE", "000EEEEE000EEEEE", "EEEEEEEEFFEEEEEE",
    "EEEEEEEE00000000", "FEEEEEFEEEEEEEEE", "EEEEEEFEEEEEEEEE", "FEEEEEEEEEEEEEEF",
};

constexpr int HexDigit(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

// The 256-byte class table: one-byte class in the low nibble, 0x0F class in the high one.
constexpr std::array<std::uint8_t, 256> BuildClassTable()
{
    std::array<std::uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i)
        t[i] = static_cast<std::uint8_t>(HexDigit(kOneByteRows[i >> 4][i & 15]) |
                                         HexDigit(kTwoByteRows[i >> 4][i & 15]) << 4);
    return t;
}
constexpr std::array<std::uint8_t, 256> kClassTable = BuildClassTable();

constexpr int kModRM = 14;
constexpr int kUndefined = 15;

bool IsLegacyPrefix(std::uint8_t b)
{
    switch (b) {
    case 0x26:
    case 0x2E:
    case 0x36:
    case 0x3E:
    case 0x64:
    case 0x65:
    case 0x66:
    case 0x67:
    case 0xF0:
    case 0xF2:
    case 0xF3: return true;
    default: return false;
    }
}

// One-byte opcodes that do not exist in 64-bit mode (0x40..0x4F are REX, 0x62,
// 0xC4 and 0xC5 start EVEX and VEX and are handled before the table).
bool InvalidIn64(std::uint8_t op)
{
    switch (op) {
    case 0x06:
    case 0x07:
    case 0x0E:
    case 0x16:
    case 0x17:
    case 0x1E:
    case 0x1F:
    case 0x27:
    case 0x2F:
    case 0x37:
    case 0x3F:
    case 0x60:
    case 0x61:
    case 0x82:
    case 0x9A:
    case 0xCE:
    case 0xD4:
    case 0xD5:
    case 0xD6:
    case 0xEA: return true;
    default: return false;
    }
}

// 64-bit mode class of a 0x0F opcode: the 32-bit table plus the forms that
// compilers put into 64-bit code (hint NOPs and endbr64, ud2, popcnt, SSE3
// moves and conversions, the quadword unpacks).
int TwoByteClass64(std::uint8_t op)
{
    if (op == 0x0B) return 0;
    if ((op >= 0x18 && op <= 0x1F) || op == 0x6C || op == 0x6D || op == 0xB8 || op == 0xD0 || op == 0xD6 ||
        op == 0xE6 || op == 0xF0)
        return kModRM;
    return kClassTable[op] >> 4;
}

int OneByteImmediate(std::uint8_t op, std::uint8_t modrm, bool opsize16)
{
    const int reg = (modrm >> 3) & 7;
    switch (op) {
    case 0x6B:
    case 0x80:
    case 0x82:
    case 0x83:
    case 0xC0:
    case 0xC1:
    case 0xC6: return 1;
    case 0xF6: return reg == 0 ? 1 : 0;
    case 0x69:
    case 0x81:
    case 0xC7: return opsize16 ? 2 : 4;
    case 0xF7: return reg == 0 ? (opsize16 ? 2 : 4) : 0;
    default: return 0;
    }
}

int TwoByteImmediate(std::uint8_t op)
{
    switch (op) {
    case 0x70:
    case 0x71:
    case 0x72:
    case 0x73:
    case 0xA4:
    case 0xAC:
    case 0xBA:
    case 0xC2:
    case 0xC4:
    case 0xC5:
    case 0xC6: return 1;
    default: return 0;
    }
}

// Bytes of displacement and SIB after the ModR/M byte; sets ripRelative for
// mod 0, rm 5 in 64-bit mode.
int AddressBytes(std::uint8_t modrm, const std::uint8_t* sib, bool addr16, bool mode64, bool& ripRelative)
{
    const int mod = modrm >> 6;
    const int rm = modrm & 7;
    ripRelative = false;
    if (addr16) {
        switch (mod) {
        case 0: return rm == 6 ? 2 : 0;
        case 1: return 1;
        case 2: return 2;
        default: return 0;
        }
    }
    switch (mod) {
    case 0:
        if (rm == 4) return 1 + ((*sib & 7) == 5 ? 4 : 0);
        if (rm == 5) {
            ripRelative = mode64;
            return 4;
        }
        return 0;
    case 1: return rm == 4 ? 2 : 1;
    case 2: return rm == 4 ? 5 : 4;
    default: return 0;
    }
}

// VEX (0xC4, 0xC5) and EVEX (0x62) forms of 64-bit mode: prefix bytes, one
// opcode byte, ModR/M, and an 8-bit immediate where the opcode map has one.
bool DecodeVex(const std::uint8_t* code, int at, bool addr32, TDecodedInstruction& out)
{
    const std::uint8_t lead = code[at];
    int map;
    int prefixBytes;
    if (lead == 0xC5) {
        map = 1;
        prefixBytes = 2;
    } else if (lead == 0xC4) {
        map = code[at + 1] & 0x1F;
        prefixBytes = 3;
    } else {
        if ((code[at + 2] & 0x04) == 0) // EVEX P1 bit 2 is always set
            return false;
        map = code[at + 1] & 0x07;
        prefixBytes = 4;
    }
    if (map < 1 || map > 3) return false;
    const int opAt = at + prefixBytes;
    const std::uint8_t op = code[opAt];
    out.Vex = true;
    out.TwoByte = true;
    out.OpcodeOffset = opAt;
    out.Opcode = op;
    if (lead != 0x62 && map == 1 && op == 0x77) { // vzeroupper / vzeroall
        out.Length = opAt + 1;
        return true;
    }
    const std::uint8_t modrm = code[opAt + 1];
    bool rip = false;
    const int addressBytes = AddressBytes(modrm, code + opAt + 2, false, true, rip);
    (void)addr32;
    int imm = 0;
    if (map == 3)
        imm = 1;
    else if (map == 1)
        imm = TwoByteImmediate(op) && op != 0xA4 && op != 0xAC && op != 0xBA ? 1 : 0;
    out.ModRMOffset = opAt + 1;
    if (rip) out.RipDisplacementOffset = opAt + 2;
    out.Length = opAt + 2 + addressBytes + imm;
    return true;
}

} // namespace

bool DecodeInstruction(const std::uint8_t* code, TCodeMode mode, TDecodedInstruction& out)
{
    out = TDecodedInstruction{};
    const bool mode64 = mode == TCodeMode::X86_64;
    bool opsize = false, addrsize = false;
    std::uint8_t rex = 0;
    int i = 0;
    // A REX byte counts only directly before the opcode.
    for (; i < 14; ++i) {
        const std::uint8_t b = code[i];
        if (IsLegacyPrefix(b)) {
            opsize |= b == 0x66;
            addrsize |= b == 0x67;
            rex = 0;
        } else if (mode64 && b >= 0x40 && b <= 0x4F) {
            rex = b;
        } else {
            break;
        }
    }
    if (i >= 14) return false;
    const bool rexW = (rex & 0x08) != 0;

    std::uint8_t op = code[i];
    if (mode64 && (op == 0xC4 || op == 0xC5 || op == 0x62)) {
        if (rex || !DecodeVex(code, i, addrsize, out)) {
            out.Length = 1;
            return false;
        }
        return true;
    }

    bool twoByte = false;
    int cls;
    int opcodeEnd = i + 1; // offset just past the opcode bytes
    int extraImmediate = 0;
    if (op == 0x0F) {
        twoByte = true;
        op = code[i + 1];
        opcodeEnd = i + 2;
        if (mode64 && (op == 0x38 || op == 0x3A)) {
            // Three-byte opcode maps: ModR/M always, the 0x3A map with an 8-bit immediate.
            extraImmediate = op == 0x3A ? 1 : 0;
            op = code[i + 2];
            opcodeEnd = i + 3;
            cls = kModRM;
        } else {
            cls = mode64 ? TwoByteClass64(op) : kClassTable[op] >> 4;
        }
    } else {
        cls = kClassTable[op] & 0x0F;
        if (mode64 && InvalidIn64(op)) cls = kUndefined;
    }
    out.OpcodeOffset = twoByte ? i + 1 : i;
    out.Opcode = op;
    out.TwoByte = twoByte;

    if (cls == kUndefined) {
        out.Length = 1;
        return false;
    }

    // In 64-bit mode REX.W wins over 0x66 for operand size.
    const bool opsize16 = opsize && !(mode64 && rexW);

    if (cls < kModRM) {
        int follow;
        if (cls <= 6) {
            follow = cls;
            if (mode64 && !twoByte && op >= 0xA0 && op <= 0xA3) follow = addrsize ? 4 : 8; // 64-bit memory offset
        } else {
            follow = cls - 7;
            const bool nearBranch = (!twoByte && (op == 0xE8 || op == 0xE9)) || (twoByte && op >= 0x80 && op <= 0x8F);
            if (mode64 && !twoByte && op >= 0xB8 && op <= 0xBF && rexW)
                follow = 8; // mov r64, imm64
            else if (mode64 && nearBranch)
                ; // 64-bit mode near branches keep rel32
            else if (opsize16)
                follow -= 2;
        }
        out.Length = opcodeEnd + follow;
    } else {
        const int modrmAt = opcodeEnd;
        const std::uint8_t modrm = code[modrmAt];
        bool rip = false;
        const bool addr16 = addrsize && !mode64;
        const int addressBytes = AddressBytes(modrm, code + modrmAt + 1, addr16, mode64, rip);
        const int imm = (twoByte ? TwoByteImmediate(op) : OneByteImmediate(op, modrm, opsize16)) + extraImmediate;
        out.ModRMOffset = modrmAt;
        if (rip) out.RipDisplacementOffset = modrmAt + 1;
        out.Length = modrmAt + 1 + addressBytes + imm;
    }

    if (!twoByte && ((op >= 0x70 && op <= 0x7F) || (op >= 0xE0 && op <= 0xE3) || op == 0xEB)) {
        out.Branch = TBranchKind::Short;
        out.BranchDisplacementOffset = out.Length - 1;
    } else if (((!twoByte && (op == 0xE8 || op == 0xE9)) ||
                (twoByte && op >= 0x80 && op <= 0x8F && extraImmediate == 0 && opcodeEnd == out.OpcodeOffset + 1)) &&
               out.Length - opcodeEnd == 4) {
        out.Branch = TBranchKind::Near32;
        out.BranchDisplacementOffset = out.Length - 4;
    }
    return true;
}

bool GetInstructionLength(const std::uint8_t* code, int& length, TCodeMode mode)
{
    TDecodedInstruction d;
    const bool ok = DecodeInstruction(code, mode, d);
    length = ok ? d.Length : 1;
    return ok;
}

} // namespace crashreport::hook
