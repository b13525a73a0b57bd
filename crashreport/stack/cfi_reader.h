#pragma once
// The call-frame information of a loaded module (.eh_frame_hdr and
// .eh_frame, which every x86-64 module carries for exceptions and strip
// keeps): finds the FDE that covers an address through the header's sorted
// table, parses its CIE and runs the CFA program up to the address, giving
// the rules that recover the caller's registers. Only the registers a walk
// needs are kept (DWARF 0..16: the general registers and the return
// address). Reads only the bytes of [Low, High) it is given: no allocation,
// no lock, no file. Signal-safe.
#include <cstddef>
#include <cstdint>

namespace crashreport {

// DWARF register numbers of x86-64.
enum : std::uint8_t {
    dwRax = 0,
    dwRdx,
    dwRcx,
    dwRbx,
    dwRsi,
    dwRdi,
    dwRbp,
    dwRsp,
    dwR8,
    dwR9,
    dwR10,
    dwR11,
    dwR12,
    dwR13,
    dwR14,
    dwR15,
    dwReturnAddress = 16,
};
inline constexpr int kCfiRegisters = 17;

// Bytes the reader may look at; anything outside makes it fail.
struct TCfiBytes {
    std::uintptr_t Low = 0, High = 0;
    bool Contains(std::uintptr_t address, std::size_t length) const
    {
        return address >= Low && address <= High && length <= High - address;
    }
};

enum TCfiRuleKind : std::uint8_t {
    crSame = 0,      // the caller's value is this frame's
    crUndefined,     // no value (the return address: the outermost frame)
    crOffset,        // saved at CFA + Offset
    crValOffset,     // the value is CFA + Offset
    crRegister,      // the value of register Offset
    crExpression,    // saved at the address the expression gives (CFA pushed first)
    crValExpression, // the value is what the expression gives
};

struct TCfiRule {
    TCfiRuleKind Kind = crSame;
    std::int64_t Offset = 0;
    std::uintptr_t Expression = 0; // address of the expression's bytes
    std::uint32_t ExpressionLength = 0;
};

struct TCfiRow {
    // The CFA: register + offset, or an expression.
    bool CfaIsExpression = false;
    std::uint8_t CfaRegister = dwRsp;
    std::int64_t CfaOffset = 0;
    std::uintptr_t CfaExpression = 0;
    std::uint32_t CfaExpressionLength = 0;
    TCfiRule Registers[kCfiRegisters];
    std::uint8_t ReturnRegister = dwReturnAddress;
    bool SignalFrame = false; // the CIE's "S": its address is exact, not a return address
    std::uintptr_t FunctionStart = 0;
};

// One module's call-frame information.
struct TCfiModule {
    std::uintptr_t EhFrameHdr = 0; // address of .eh_frame_hdr
    TCfiBytes Bytes;               // where the header, the table and .eh_frame lie
};

// The rules in effect at `pc` (an address inside the instruction of
// interest), or false when no FDE covers it or the data is malformed.
// Signal-safe.
bool FindCfiRow(const TCfiModule& module, std::uintptr_t pc, TCfiRow& row);

// The same from an FDE whose address is known (for tests and the fuzz
// target): `ehFrameHdr` is the base of data-relative pointers. Signal-safe.
bool ParseFdeAt(const TCfiBytes& bytes, std::uintptr_t fde, std::uintptr_t ehFrameHdr, std::uintptr_t pc, TCfiRow& row);

// Pointer encodings of .eh_frame (DW_EH_PE_*). Signal-safe.
class TCfiCursor {
public:
    TCfiCursor(const TCfiBytes& bytes, std::uintptr_t at) : bytes_(bytes), at_(at) {}
    bool U8(std::uint8_t& v);
    bool U16(std::uint16_t& v);
    bool U32(std::uint32_t& v);
    bool U64(std::uint64_t& v);
    bool Uleb(std::uint64_t& v);
    bool Sleb(std::int64_t& v);
    // `dataBase` for DW_EH_PE_datarel; false for an encoding not handled.
    bool Pointer(std::uint8_t encoding, std::uintptr_t dataBase, std::uintptr_t& v);
    bool Skip(std::uint64_t n);
    std::uintptr_t At() const { return at_; }
    void MoveTo(std::uintptr_t at) { at_ = at; }
    const TCfiBytes& Bytes() const { return bytes_; }

private:
    bool Read(void* out, std::size_t n);
    TCfiBytes bytes_;
    std::uintptr_t at_;
};

} // namespace crashreport
