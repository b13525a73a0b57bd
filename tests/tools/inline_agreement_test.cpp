// The stored debug data of a large optimised program (the converter as
// built) against addr2line -i -f on the unstripped program: for 10,000
// random code addresses the whole inline chain (every level's function,
// file and line) must agree for at least 99 % of the addresses that have a
// line.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "crashreport/modules/elf_sections.h"
#include "tests/tools/addr2line_chains.h"
#include "tests/tools/tool_test_support.h"

namespace {

std::vector<std::uint64_t> RandomCodeAddresses(const crashreport::TElfSection& text, std::size_t count)
{
    std::mt19937_64 random(20261208);
    std::vector<std::uint64_t> out;
    for (std::size_t i = 0; i < count; ++i) out.push_back(text.Address + random() % text.Size);
    return out;
}

TEST(InlineAgreement, StoredChainsAgreeWithAddr2line)
{
    crashreport::TElfSections elf;
    ASSERT_TRUE(elf.Open(VEK2AVI_PROGRAM));
    const crashreport::TElfSection* text = elf.Find(".text");
    ASSERT_NE(text, nullptr);
    ASSERT_NE(elf.Find(".debug_info"), nullptr) << "the reference needs the program's DWARF";
    bool loaded = false;
    auto record = tooltest::LoadRecord(VEK2AVI_PROGRAM, "", &loaded);
    ASSERT_TRUE(loaded);
    ASSERT_TRUE(record->DebugData);

    const auto addresses = RandomCodeAddresses(*text, 10000);
    const auto result = addr2line::Compare(VEK2AVI_PROGRAM, addresses, *record->DebugData, record->Handle, 500);
    std::printf("inline chains agreeing with addr2line -i -f: %zu of %zu addresses with a line (%.2f %%); "
                "text the same at every level: %.2f %% (the rest: %zu named by a split-off part's symbol, %zu "
                "inlined code of a function without a linkage name that addr2line names by the symbol of the "
                "function holding it, %zu with the unit's main file where libdw gives the header); %zu of them "
                "in inlined code, %zu of "
                "those agreeing; %zu levels compared; %zu addresses without a line, %zu of them also unresolved "
                "by the stored data\n",
                result.Agreeing, result.Compared, result.Percent(), result.StrictPercent(), result.SplitParts,
                result.OwnNames, result.Refereed, result.Inlined, result.InlinedAgreeing, result.Levels,
                result.Lineless, result.LinelessUnresolved);
    for (const auto& m : result.Mismatches) std::printf("  %s", m.c_str());
    ASSERT_GT(result.Compared, 9000u);
    // An optimised build inlines much (two thirds of the addresses in the
    // default build); a Debug build next to nothing, and the chains are
    // then mostly one level.
    if (VEK2AVI_OPTIMISED) {
        EXPECT_GT(result.Inlined, result.Compared / 4) << "an optimised program inlines much";
    }
    EXPECT_GE(result.Percent(), 99.0);
}

} // namespace
