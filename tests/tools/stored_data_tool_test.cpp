// The tool's stored data in a real program: the stripped copy still
// resolves every function's addresses to file, class, procedure and line,
// in agreement with addr2line reading the unstripped copy's DWARF.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "crashreport/modules/elf_sections.h"
#include "tools/elf_handles.h"
#include "crashreport/modules/module_identity_info.h"
#include "tests/tools/tool_test_support.h"

namespace {

using namespace tooltest;

const char* const kPassword = "sample-secret";

std::string BaseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// libdw's file name for an address: the second opinion where addr2line's
// differs from ours.
std::string LibdwFile(Dwarf* dwarf, std::uint64_t address)
{
    Dwarf_Die cu;
    if (!dwarf_addrdie(dwarf, address, &cu)) return {};
    Dwarf_Line* line = dwarf_getsrc_die(&cu, address);
    const char* file = line ? dwarf_linesrc(line, nullptr, nullptr) : nullptr;
    return file ? BaseName(file) : std::string();
}

TEST(StrippedProgram, KeepsItsStoredDataSections)
{
    crashreport::TElfSections elf;
    ASSERT_TRUE(elf.Open(SAMPLE_STRIPPED));
    EXPECT_NE(elf.Find(".tldata"), nullptr);
    EXPECT_NE(elf.Find(".tlversion"), nullptr);
    EXPECT_EQ(elf.Find(".debug_info"), nullptr);
    EXPECT_EQ(elf.Find(".symtab"), nullptr);
    // Not loaded: the program's memory image is unchanged by the data.
    EXPECT_EQ(elf.Find(".tldata")->Flags & 2 /* SHF_ALLOC */, 0u);
}

TEST(StrippedProgram, VersionSectionGivesDescriptionAndVersion)
{
    const auto info = crashreport::GetVersionInfo(SAMPLE_STRIPPED);
    EXPECT_EQ(info.Version, "1.2.3.4");
    EXPECT_EQ(info.Description, "Debug data sample");
}

TEST(StrippedProgram, AddressesAgreeWithAddr2line)
{
    bool loaded = false;
    auto record = LoadRecord(SAMPLE_STRIPPED, kPassword, &loaded);
    ASSERT_TRUE(loaded);
    ASSERT_TRUE(record->DebugData);
    ASSERT_EQ(record->NamesReadable, 1);

    std::set<std::uint64_t> unique;
    for (const auto& f : FunctionSymbols(SAMPLE_PROGRAM)) {
        unique.insert(f.Address);
        unique.insert(f.Address + f.Size / 2);
        unique.insert(f.Address + f.Size - 1);
    }
    const std::vector<std::uint64_t> addresses(unique.begin(), unique.end());
    ASSERT_GT(addresses.size(), 50u);
    // One addr2line run per address: it caches names between the addresses
    // of one run, and its answer for an address then depends on the ones
    // asked before.
    std::string output;
    for (auto a : addresses) {
        std::ostringstream command;
        command << "addr2line -f -C -e '" SAMPLE_PROGRAM "' 0x" << std::hex << a;
        output += tooltest::Run(command.str());
    }
    std::istringstream lines(output);

    std::size_t agree = 0, named = 0, compared = 0, uncovered = 0, uncoveredAgree = 0, refereed = 0;
    tools::TElfFile unstripped = tools::OpenElfFile(SAMPLE_PROGRAM, true);
    std::vector<std::string> mismatches;
    for (auto a : addresses) {
        std::string function, location;
        ASSERT_TRUE(std::getline(lines, function) && std::getline(lines, location));
        const auto space = location.find(" (discriminator");
        if (space != std::string::npos) location.resize(space);
        const auto colon = location.rfind(':');
        const std::string file = BaseName(location.substr(0, colon));
        const std::string lineText = location.substr(colon + 1);
        const int line = lineText == "?" ? 0 : std::atoi(lineText.c_str());

        const auto hit = record->DebugData->Lookup(record->Handle, a);
        if (line == 0) {
            // No DWARF line covers it (start-up code, padding): the stored
            // data holds lines only.
            ++uncovered;
            if (!hit) ++uncoveredAgree;
            continue;
        }
        ++compared;
        bool same = false;
        std::string ours = "(none)";
        if (hit) {
            ++named;
            ours = hit->ClassName.empty() ? hit->ProcedureName : hit->ClassName + "::" + hit->ProcedureName;
            const bool nameMatches = function.size() >= ours.size() &&
                function.compare(function.size() - ours.size(), ours.size(), ours) == 0 &&
                (function.size() == ours.size() || function[function.size() - ours.size() - 1] == ' ');
            same = nameMatches && file == hit->UnitName && line == hit->Line;
            // addr2line names some functions of header files with the unit's
            // main file; libdw (and readelf) give the header.
            if (!same && nameMatches && line == hit->Line && LibdwFile(unstripped.Dwarf.get(), a) == hit->UnitName) {
                same = true;
                ++refereed;
            }
            if (!same) ours += " at " + hit->UnitName + ":" + std::to_string(hit->Line);
        }
        if (same)
            ++agree;
        else if (mismatches.size() < 15)
            mismatches.push_back("0x" + (std::ostringstream() << std::hex << a).str() + ": addr2line " + function +
                                 " at " + file + ":" + std::to_string(line) + "; stored " + ours);
    }
    ASSERT_GT(compared, addresses.size() / 2);
    const double agreement = 100.0 * double(agree) / double(compared);
    std::printf("agreement with addr2line: %zu of %zu addresses with a line (%.2f %%), %zu of them where "
                "addr2line's file differs from libdw's and ours is libdw's; %zu addresses without a DWARF "
                "line, %zu of them also unresolved by the stored data\n",
                agree, compared, agreement, refereed, uncovered, uncoveredAgree);
    for (const auto& m : mismatches) std::printf("  %s\n", m.c_str());
    EXPECT_GE(agreement, 99.0);
}

TEST(StrippedProgram, WrongPasswordShowsNamesAsBase64)
{
    auto record = LoadRecord(SAMPLE_STRIPPED, "not the password");
    ASSERT_TRUE(record->DebugData);
    EXPECT_EQ(record->NamesReadable, 0);
    EXPECT_EQ(record->DebugPassword, "not the password");
    // The options are not protected: they load all the same.
    EXPECT_EQ(record->Options->SmtpServerPort(), 2525);
    const auto main = std::find_if(FunctionSymbols(SAMPLE_PROGRAM).begin(), FunctionSymbols(SAMPLE_PROGRAM).end(),
                                   [](const TFunctionSymbol& f) { return f.Name == "main"; });
    (void)main;
    std::uint64_t mainAddress = 0;
    for (const auto& f : FunctionSymbols(SAMPLE_PROGRAM))
        if (f.Name == "main") mainAddress = f.Address;
    ASSERT_NE(mainAddress, 0u);
    const auto hit = record->DebugData->Lookup(record->Handle, mainAddress);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->ProcedureName.substr(0, 1), "?");
    EXPECT_EQ(hit->UnitName.substr(0, 1), "?");
    EXPECT_GT(hit->Line, 0); // lines are not enciphered

    auto right = LoadRecord(SAMPLE_STRIPPED, kPassword);
    const auto good = right->DebugData->Lookup(right->Handle, mainAddress);
    ASSERT_TRUE(good);
    EXPECT_EQ(good->ProcedureName, "main");
    EXPECT_EQ(good->UnitName, "sample_program.cpp");
    EXPECT_EQ(good->Line, hit->Line);
}

} // namespace
