// Feeds arbitrary bytes to the call-frame information reader as the
// header, search table and FDEs of a module that lies where the bytes do.
// Lookups at addresses the first bytes choose, and a parse at every early
// offset as an FDE, must stay inside the bytes; every rule found is
// evaluated over a small stack, which must not read outside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crashreport/stack/cfi_reader.h"
#include "crashreport/stack/walk_memory.h"

using namespace crashreport;

namespace {

void Evaluate(const TCfiBytes& bytes, const TCfiRow& row)
{
    std::uintptr_t stack[32] = {};
    const auto low = reinterpret_cast<std::uintptr_t>(stack);
    const TWalkMemory memory(low, low + sizeof stack);
    TWalkRegisters registers;
    for (int r = 0; r < kCfiRegisters; ++r) registers.Set(r, low + 8 * std::uintptr_t(r % 32));
    auto inside = [&bytes](std::uintptr_t at, std::uint32_t length) {
        if (length && !bytes.Contains(at, length)) std::abort(); // an expression outside the data
    };
    std::uintptr_t cfa = low + 64, value = 0;
    if (row.CfaIsExpression) {
        inside(row.CfaExpression, row.CfaExpressionLength);
        EvaluateCfiExpression(bytes, row.CfaExpression, row.CfaExpressionLength, registers, memory, nullptr, cfa);
    }
    for (const TCfiRule& rule : row.Registers) {
        if (rule.Kind != crExpression && rule.Kind != crValExpression) continue;
        inside(rule.Expression, rule.ExpressionLength);
        EvaluateCfiExpression(bytes, rule.Expression, rule.ExpressionLength, registers, memory, &cfa, value);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 8) return 0;
    // A copy whose address is stable for the pc-relative encodings.
    std::vector<std::uint8_t> copy(data + 8, data + size);
    if (copy.empty()) return 0;
    const auto base = reinterpret_cast<std::uintptr_t>(copy.data());
    const TCfiBytes bytes{base, base + copy.size()};
    const TCfiModule module{base, bytes};
    TCfiRow row;
    for (int i = 0; i < 8; ++i) {
        const std::uintptr_t pc = base + data[i] * 4;
        if (FindCfiRow(module, pc, row)) Evaluate(bytes, row);
    }
    for (std::size_t at = 0; at < copy.size() && at < 64; at += 4)
        if (ParseFdeAt(bytes, base + at, base, base + data[0], row)) Evaluate(bytes, row);
    return 0;
}
