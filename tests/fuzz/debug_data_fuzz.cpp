// Feeds arbitrary bytes to the debug data reader. The first byte chooses
// the format version (every layout the reader knows, the inlined calls of
// 516 among them); the rest is the debug data. Each unit the index finds is
// looked up at its start, middle and last byte and just outside it, twice:
// the answers must be the same both times, and no inline chain may be longer
// than the data could hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "crashreport/modules/debug_data.h"

using namespace crashreport::stored;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::uint16_t kVersions[] = {400, 430, 449, 480, 501, 502, 515, 516};
    if (size < 1) return 0;
    const std::uint16_t version = kVersions[data[0] % (sizeof kVersions / sizeof kVersions[0])];
    TDebugData debug(std::vector<std::uint8_t>(data + 1, data + size), version);
    debug.SetNames(data[0] & 0x80 ? "key" : "", true);
    constexpr std::uintptr_t kHandle = 0x400000;
    std::size_t lookups = 0;
    for (const auto& unit : debug.Units()) {
        const std::size_t n = size - 1; // the debug data's length
        if (unit.NameOffset >= n || unit.TableOffset > n || unit.TableSize > n - unit.TableOffset)
            std::abort(); // the index points outside the data
        const std::uintptr_t start = kHandle + 0x1000 + std::uintptr_t(unit.CodeStart);
        const std::uintptr_t sizes[] = {0, std::uintptr_t(unit.CodeSize) / 2, std::uintptr_t(unit.CodeSize) - 1,
                                        std::uintptr_t(unit.CodeSize)};
        for (const std::uintptr_t at : sizes) {
            if (++lookups > 64) return 0;
            const auto first = debug.Lookup(kHandle, start + at);
            const auto again = debug.Lookup(kHandle, start + at);
            if (first.has_value() != again.has_value()) std::abort();
            if (!first) continue;
            if (first->Line != again->Line || first->ProcedureName != again->ProcedureName ||
                first->Callers.size() != again->Callers.size())
                std::abort();
            // Every call takes at least four bytes of the data.
            if (first->Callers.size() > size / 4) std::abort();
        }
    }
    return 0;
}
