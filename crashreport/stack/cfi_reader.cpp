#include "crashreport/stack/cfi_reader.h"

#include <cstring>

namespace crashreport {
namespace {

constexpr std::uint8_t kOmit = 0xFF;

// A factored offset: wraps instead of overflowing on damaged data. Signal-safe.
std::int64_t Factored(std::uint64_t value, std::int64_t factor)
{
    return static_cast<std::int64_t>(value * static_cast<std::uint64_t>(factor));
}
constexpr int kStateDepth = 8; // remembered rows (DW_CFA_remember_state)

struct TCie {
    std::uint64_t CodeAlign = 1;
    std::int64_t DataAlign = 1;
    std::uint8_t ReturnRegister = dwReturnAddress;
    std::uint8_t FdeEncoding = 0;
    bool Augmented = false; // "z": the FDE has an augmentation length
    bool SignalFrame = false;
    std::uintptr_t Instructions = 0, End = 0;
};

// Reads an entry's length; `end` is one past the entry. Signal-safe.
bool EntryLength(TCfiCursor& c, std::uintptr_t& end)
{
    std::uint32_t length32;
    if (!c.U32(length32) || length32 == 0) return false;
    std::uint64_t length = length32;
    if (length32 == 0xFFFFFFFFu && !c.U64(length)) return false;
    if (!c.Bytes().Contains(c.At(), length)) return false;
    end = c.At() + length;
    return true;
}

// Signal-safe.
bool ParseCie(const TCfiBytes& bytes, std::uintptr_t at, std::uintptr_t dataBase, TCie& cie)
{
    TCfiCursor c(bytes, at);
    std::uintptr_t end;
    if (!EntryLength(c, end)) return false;
    std::uint32_t id;
    if (!c.U32(id) || id != 0) return false;
    std::uint8_t version;
    if (!c.U8(version) || (version != 1 && version != 3 && version != 4)) return false;
    char augmentation[16];
    std::size_t n = 0;
    for (;;) {
        std::uint8_t ch;
        if (!c.U8(ch)) return false;
        if (ch == 0) break;
        if (n + 1 >= sizeof augmentation) return false;
        augmentation[n++] = static_cast<char>(ch);
    }
    augmentation[n] = 0;
    const char* a = augmentation;
    if (a[0] == 'e' && a[1] == 'h') {
        if (!c.Skip(sizeof(void*))) return false;
        a += 2;
    }
    if (version == 4) {
        std::uint8_t addressSize, segmentSize;
        if (!c.U8(addressSize) || !c.U8(segmentSize)) return false;
    }
    std::int64_t dataAlign;
    if (!c.Uleb(cie.CodeAlign) || !c.Sleb(dataAlign)) return false;
    cie.DataAlign = dataAlign;
    if (version == 1) {
        if (!c.U8(cie.ReturnRegister)) return false;
    } else {
        std::uint64_t r;
        if (!c.Uleb(r) || r > 255) return false;
        cie.ReturnRegister = static_cast<std::uint8_t>(r);
    }
    std::uintptr_t augmentationEnd = 0;
    if (*a == 'z') {
        std::uint64_t length;
        if (!c.Uleb(length)) return false;
        augmentationEnd = c.At() + length;
        cie.Augmented = true;
        for (++a; *a; ++a) {
            if (*a == 'R') {
                if (!c.U8(cie.FdeEncoding)) return false;
            } else if (*a == 'L') {
                std::uint8_t lsda;
                if (!c.U8(lsda)) return false;
            } else if (*a == 'P') {
                std::uint8_t encoding;
                std::uintptr_t personality;
                if (!c.U8(encoding) || !c.Pointer(static_cast<std::uint8_t>(encoding & 0x7F), dataBase, personality))
                    return false;
            } else if (*a == 'S') {
                cie.SignalFrame = true;
            } else {
                break; // unknown letters: the length skips their data
            }
        }
        c.MoveTo(augmentationEnd);
    } else if (*a) {
        return false; // an augmentation without "z" cannot be skipped
    }
    if (c.At() > end) return false;
    cie.Instructions = c.At();
    cie.End = end;
    return true;
}

// Runs one CFA program into `row`, stopping at the first location beyond
// `pc`. `initial` is the CIE's row (for DW_CFA_restore). Signal-safe.
bool RunProgram(const TCfiBytes& bytes, std::uintptr_t from, std::uintptr_t to, const TCie& cie,
                std::uintptr_t dataBase, std::uintptr_t pc, std::uintptr_t location, TCfiRow& row,
                const TCfiRow* initial)
{
    TCfiRow saved[kStateDepth];
    int depth = 0;
    TCfiCursor c(bytes, from);
    auto setRule = [&row](std::uint64_t reg, TCfiRuleKind kind, std::int64_t offset) {
        if (reg < kCfiRegisters) row.Registers[reg] = TCfiRule{kind, offset, 0, 0};
    };
    auto restore = [&row, initial](std::uint64_t reg) {
        if (reg < kCfiRegisters) row.Registers[reg] = initial ? initial->Registers[reg] : TCfiRule{};
    };
    auto block = [&c](std::uintptr_t& at, std::uint32_t& length) {
        std::uint64_t n;
        if (!c.Uleb(n) || n > 0xFFFF) return false;
        at = c.At();
        length = static_cast<std::uint32_t>(n);
        return c.Skip(n);
    };
    while (c.At() < to) {
        std::uint8_t op;
        if (!c.U8(op)) return false;
        std::uint64_t reg = 0, u = 0;
        std::int64_t s = 0;
        std::uintptr_t advance = 0;
        bool advanced = false;
        switch (op >> 6) {
        case 1:
            advance = (op & 0x3F) * cie.CodeAlign;
            advanced = true;
            break;
        case 2:
            if (!c.Uleb(u)) return false;
            setRule(op & 0x3F, crOffset, Factored(u, cie.DataAlign));
            continue;
        case 3: restore(op & 0x3F); continue;
        default: break;
        }
        if (!advanced) {
            switch (op) {
            case 0x00: break; // nop
            case 0x01: {      // set_loc
                std::uintptr_t target;
                if (!c.Pointer(cie.FdeEncoding, dataBase, target)) return false;
                if (target > pc) return true;
                location = target;
                break;
            }
            case 0x02: {
                std::uint8_t d;
                if (!c.U8(d)) return false;
                advance = d * cie.CodeAlign;
                advanced = true;
                break;
            }
            case 0x03: {
                std::uint16_t d;
                if (!c.U16(d)) return false;
                advance = d * cie.CodeAlign;
                advanced = true;
                break;
            }
            case 0x04: {
                std::uint32_t d;
                if (!c.U32(d)) return false;
                advance = d * cie.CodeAlign;
                advanced = true;
                break;
            }
            case 0x05: // offset_extended
                if (!c.Uleb(reg) || !c.Uleb(u)) return false;
                setRule(reg, crOffset, Factored(u, cie.DataAlign));
                break;
            case 0x06: // restore_extended
                if (!c.Uleb(reg)) return false;
                restore(reg);
                break;
            case 0x07: // undefined
                if (!c.Uleb(reg)) return false;
                setRule(reg, crUndefined, 0);
                break;
            case 0x08: // same_value
                if (!c.Uleb(reg)) return false;
                setRule(reg, crSame, 0);
                break;
            case 0x09: // register
                if (!c.Uleb(reg) || !c.Uleb(u)) return false;
                setRule(reg, crRegister, static_cast<std::int64_t>(u));
                break;
            case 0x0A: // remember_state
                if (depth == kStateDepth) return false;
                saved[depth++] = row;
                break;
            case 0x0B: // restore_state: the registers and the CFA rule, as the unwinder of the runtime does
                if (depth == 0) return false;
                row = saved[--depth];
                break;
            case 0x0C: // def_cfa
                if (!c.Uleb(reg) || !c.Uleb(u) || reg >= kCfiRegisters) return false;
                row.CfaIsExpression = false;
                row.CfaRegister = static_cast<std::uint8_t>(reg);
                row.CfaOffset = static_cast<std::int64_t>(u);
                break;
            case 0x0D: // def_cfa_register
                if (!c.Uleb(reg) || reg >= kCfiRegisters) return false;
                row.CfaIsExpression = false;
                row.CfaRegister = static_cast<std::uint8_t>(reg);
                break;
            case 0x0E: // def_cfa_offset
                if (!c.Uleb(u)) return false;
                row.CfaOffset = static_cast<std::int64_t>(u);
                break;
            case 0x0F: // def_cfa_expression
                if (!block(row.CfaExpression, row.CfaExpressionLength)) return false;
                row.CfaIsExpression = true;
                break;
            case 0x10:   // expression
            case 0x16: { // val_expression
                if (!c.Uleb(reg)) return false;
                TCfiRule rule{op == 0x10 ? crExpression : crValExpression, 0, 0, 0};
                if (!block(rule.Expression, rule.ExpressionLength)) return false;
                if (reg < kCfiRegisters) row.Registers[reg] = rule;
                break;
            }
            case 0x11: // offset_extended_sf
                if (!c.Uleb(reg) || !c.Sleb(s)) return false;
                setRule(reg, crOffset, Factored(static_cast<std::uint64_t>(s), cie.DataAlign));
                break;
            case 0x12: // def_cfa_sf
                if (!c.Uleb(reg) || !c.Sleb(s) || reg >= kCfiRegisters) return false;
                row.CfaIsExpression = false;
                row.CfaRegister = static_cast<std::uint8_t>(reg);
                row.CfaOffset = Factored(static_cast<std::uint64_t>(s), cie.DataAlign);
                break;
            case 0x13: // def_cfa_offset_sf
                if (!c.Sleb(s)) return false;
                row.CfaOffset = Factored(static_cast<std::uint64_t>(s), cie.DataAlign);
                break;
            case 0x14: // val_offset
                if (!c.Uleb(reg) || !c.Uleb(u)) return false;
                setRule(reg, crValOffset, Factored(u, cie.DataAlign));
                break;
            case 0x15: // val_offset_sf
                if (!c.Uleb(reg) || !c.Sleb(s)) return false;
                setRule(reg, crValOffset, Factored(static_cast<std::uint64_t>(s), cie.DataAlign));
                break;
            case 0x2E: // GNU_args_size
                if (!c.Uleb(u)) return false;
                break;
            case 0x2F: // GNU_negative_offset_extended
                if (!c.Uleb(reg) || !c.Uleb(u)) return false;
                setRule(reg, crOffset, Factored(0 - u, cie.DataAlign));
                break;
            default: return false;
            }
        }
        if (advanced) {
            if (location + advance > pc) return true;
            location += advance;
        }
    }
    return true;
}

} // namespace

bool TCfiCursor::Read(void* out, std::size_t n)
{
    if (!bytes_.Contains(at_, n)) return false;
    std::memcpy(out, reinterpret_cast<const void*>(at_), n);
    at_ += n;
    return true;
}

bool TCfiCursor::U8(std::uint8_t& v) { return Read(&v, 1); }
bool TCfiCursor::U16(std::uint16_t& v) { return Read(&v, 2); }
bool TCfiCursor::U32(std::uint32_t& v) { return Read(&v, 4); }
bool TCfiCursor::U64(std::uint64_t& v) { return Read(&v, 8); }

bool TCfiCursor::Uleb(std::uint64_t& v)
{
    v = 0;
    for (unsigned shift = 0; shift < 64; shift += 7) {
        std::uint8_t b;
        if (!U8(b)) return false;
        v |= std::uint64_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return true;
    }
    return false;
}

bool TCfiCursor::Sleb(std::int64_t& v)
{
    std::uint64_t result = 0;
    unsigned shift = 0;
    std::uint8_t b;
    do {
        if (shift >= 64 || !U8(b)) return false;
        result |= std::uint64_t(b & 0x7F) << shift;
        shift += 7;
    } while (b & 0x80);
    if (shift < 64 && (b & 0x40)) result |= ~std::uint64_t(0) << shift;
    v = static_cast<std::int64_t>(result);
    return true;
}

bool TCfiCursor::Skip(std::uint64_t n)
{
    if (!bytes_.Contains(at_, n)) return false;
    at_ += n;
    return true;
}

bool TCfiCursor::Pointer(std::uint8_t encoding, std::uintptr_t dataBase, std::uintptr_t& v)
{
    if (encoding == kOmit) return false;
    const std::uintptr_t field = at_;
    std::uint64_t raw = 0;
    switch (encoding & 0x0F) {
    case 0x00:
        if (!U64(raw)) return false;
        break;
    case 0x01:
        if (!Uleb(raw)) return false;
        break;
    case 0x02: {
        std::uint16_t x;
        if (!U16(x)) return false;
        raw = x;
        break;
    }
    case 0x03: {
        std::uint32_t x;
        if (!U32(x)) return false;
        raw = x;
        break;
    }
    case 0x04:
        if (!U64(raw)) return false;
        break;
    case 0x09: {
        std::int64_t x;
        if (!Sleb(x)) return false;
        raw = static_cast<std::uint64_t>(x);
        break;
    }
    case 0x0A: {
        std::uint16_t x;
        if (!U16(x)) return false;
        raw = static_cast<std::uint64_t>(std::int64_t(std::int16_t(x)));
        break;
    }
    case 0x0B: {
        std::uint32_t x;
        if (!U32(x)) return false;
        raw = static_cast<std::uint64_t>(std::int64_t(std::int32_t(x)));
        break;
    }
    case 0x0C:
        if (!U64(raw)) return false;
        break;
    default: return false;
    }
    switch (encoding & 0x70) {
    case 0x00: break;
    case 0x10: raw += field; break;
    case 0x30: raw += dataBase; break;
    default: return false;
    }
    if (encoding & 0x80) { // indirect: the pointer is read from memory
        std::uint64_t target;
        TCfiCursor at(bytes_, static_cast<std::uintptr_t>(raw));
        if (!at.U64(target)) return false;
        raw = target;
    }
    v = static_cast<std::uintptr_t>(raw);
    return true;
}

bool ParseFdeAt(const TCfiBytes& bytes, std::uintptr_t fde, std::uintptr_t ehFrameHdr, std::uintptr_t pc, TCfiRow& row)
{
    TCfiCursor c(bytes, fde);
    std::uintptr_t end;
    if (!EntryLength(c, end)) return false;
    const std::uintptr_t idField = c.At();
    std::uint32_t cieOffset;
    if (!c.U32(cieOffset) || cieOffset == 0 || cieOffset > idField) return false;
    TCie cie;
    if (!ParseCie(bytes, idField - cieOffset, ehFrameHdr, cie)) return false;
    std::uintptr_t start, range;
    if (!c.Pointer(cie.FdeEncoding, ehFrameHdr, start) ||
        !c.Pointer(static_cast<std::uint8_t>(cie.FdeEncoding & 0x0F), ehFrameHdr, range))
        return false;
    if (pc < start || pc - start >= range) return false;
    if (cie.Augmented) {
        std::uint64_t length;
        if (!c.Uleb(length) || !c.Skip(length)) return false;
    }
    if (c.At() > end) return false;
    row = TCfiRow{};
    row.ReturnRegister = cie.ReturnRegister;
    row.SignalFrame = cie.SignalFrame;
    row.FunctionStart = start;
    if (!RunProgram(bytes, cie.Instructions, cie.End, cie, ehFrameHdr, pc, start, row, nullptr)) return false;
    const TCfiRow initial = row;
    return RunProgram(bytes, c.At(), end, cie, ehFrameHdr, pc, start, row, &initial);
}

bool FindCfiRow(const TCfiModule& module, std::uintptr_t pc, TCfiRow& row)
{
    const std::uintptr_t hdr = module.EhFrameHdr;
    TCfiCursor c(module.Bytes, hdr);
    std::uint8_t version, frameEncoding, countEncoding, tableEncoding;
    if (!c.U8(version) || version != 1 || !c.U8(frameEncoding) || !c.U8(countEncoding) || !c.U8(tableEncoding))
        return false;
    std::uintptr_t ehFrame, count;
    if (!c.Pointer(frameEncoding, hdr, ehFrame) || !c.Pointer(countEncoding, hdr, count)) return false;
    // Every linker writes the table as pairs of 4-byte offsets from the header.
    if (tableEncoding != 0x3B || count == 0) return false;
    const std::uintptr_t table = c.At();
    if (!module.Bytes.Contains(table, count * 8)) return false;
    auto entry = [table](std::uintptr_t i, std::int32_t& location, std::int32_t& fde) {
        std::memcpy(&location, reinterpret_cast<const void*>(table + i * 8), 4);
        std::memcpy(&fde, reinterpret_cast<const void*>(table + i * 8 + 4), 4);
    };
    // The last entry whose start is at or below pc.
    std::uintptr_t low = 0, high = count;
    while (high - low > 1) {
        const std::uintptr_t mid = low + (high - low) / 2;
        std::int32_t location, fde;
        entry(mid, location, fde);
        if (hdr + std::intptr_t(location) <= pc)
            low = mid;
        else
            high = mid;
    }
    std::int32_t location, fde;
    entry(low, location, fde);
    if (hdr + std::intptr_t(location) > pc) return false;
    return ParseFdeAt(module.Bytes, hdr + std::intptr_t(fde), hdr, pc, row);
}

} // namespace crashreport
