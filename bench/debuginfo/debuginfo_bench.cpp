// debuginfo_bench MODULE PASSWORD COUNT [OLDER_MODULE]
//
// Resolves COUNT random code addresses of MODULE (which carries stored data
// written by the tool and still has its DWARF) three ways, each from a cold
// start: through the stored data (loading it included), with addr2line (one
// run for all addresses) and with libdw (opening the DWARF included); prints
// addresses per second and the ratios. Times are processor time (this
// process's, or addr2line's own for addr2line), so other load on a shared
// machine stays out of the figures; wall-clock figures follow. The stored
// data and addr2line are timed five times and the fastest run counts;
// libdw, much slower, runs once. Then the whole inline chain of every
// address is compared with addr2line -i -f (in runs of 500 addresses; an
// address whose answer differs is asked again alone), and the stored
// data's size with the DWARF sections it replaces, and with OLDER_MODULE's
// (the same program written in the format before the inlined calls).
#include <dwarf.h>
#include <elfutils/libdw.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <sys/resource.h>
#include <cstdio>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "crashreport/binding/events.h"
#include "crashreport/modules/debug_data.h"
#include "crashreport/modules/stored_data_loader.h"
#include "crashreport/modules/elf_sections.h"
#include "tests/tools/addr2line_chains.h"
#include "tools/elf_handles.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

double OwnCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double ChildrenCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

std::string g_password;
void GivePassword(void*, std::string& p) { p = g_password; }

std::vector<std::uint64_t> RandomCodeAddresses(const crashreport::TElfSections& elf, std::size_t count)
{
    const crashreport::TElfSection* text = elf.Find(".text");
    std::mt19937_64 random(20261208);
    std::vector<std::uint64_t> out;
    for (std::size_t i = 0; i < count; ++i) out.push_back(text->Address + random() % text->Size);
    return out;
}

double g_loadSeconds = 0;
std::vector<std::optional<crashreport::stored::TDebugLineHit>> g_hits; // of the last run
bool g_keepHits = false;

// Stored data: load the module's record (inflate, index on first lookup), then look up.
std::size_t StoredLookups(const std::string& module, const crashreport::TElfSections& elf,
                          const std::vector<std::uint64_t>& addresses)
{
    const double started = OwnCpuSeconds();
    crashreport::TTavrelModuleInfo record;
    record.FileName = module;
    record.Handle = elf.HandleAddress();
    record.Options = std::make_unique<crashreport::TTavrelModuleOptionsEx>(module, false);
    crashreport::GlobalEventHandlers().OnPasswordRequest = &GivePassword;
    if (!crashreport::LoadStoredOptions(record) || !record.DebugData) {
        std::fprintf(stderr, "no stored data in %s\n", module.c_str());
        std::exit(1);
    }
    g_loadSeconds = OwnCpuSeconds() - started;
    std::size_t resolved = 0;
    g_hits.clear();
    g_hits.reserve(addresses.size());
    for (auto a : addresses) {
        auto hit = record.DebugData->Lookup(record.Handle, a);
        if (hit && !hit->ProcedureName.empty()) ++resolved;
        if (g_keepHits) g_hits.push_back(std::move(hit));
    }
    return resolved;
}

std::vector<std::string> g_addr2lineLines; // of the last run: function, location, ...

std::size_t Addr2line(const std::string& module, const std::vector<std::uint64_t>& addresses)
{
    g_addr2lineLines.clear();
    const std::string list = "/tmp/debuginfo_bench_addresses.txt";
    {
        std::ofstream out(list);
        for (auto a : addresses) out << std::hex << "0x" << a << "\n";
    }
    FILE* p = popen(("addr2line -f -C -e '" + module + "' < " + list).c_str(), "r");
    std::size_t lines = 0, resolved = 0;
    char buffer[8192];
    while (p && std::fgets(buffer, sizeof buffer, p)) {
        std::string text(buffer);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        if (++lines % 2 == 1 && text != "??") ++resolved;
        g_addr2lineLines.push_back(std::move(text));
    }
    if (p) pclose(p);
    std::remove(list.c_str());
    return resolved;
}

// libdw: the unit, the line and the innermost function scope of each address.
std::size_t Libdw(const std::string& module, const std::vector<std::uint64_t>& addresses)
{
    tools::TElfFile file = tools::OpenElfFile(module, true);
    std::size_t resolved = 0;
    for (auto a : addresses) {
        Dwarf_Die cu;
        if (!dwarf_addrdie(file.Dwarf.get(), a, &cu)) continue;
        Dwarf_Line* line = dwarf_getsrc_die(&cu, a);
        int lineNo = 0;
        if (line) dwarf_lineno(line, &lineNo);
        Dwarf_Die* scopes = nullptr;
        const int n = dwarf_getscopes(&cu, a, &scopes);
        const char* name = nullptr;
        for (int i = 0; i < n && !name; ++i)
            if (dwarf_tag(&scopes[i]) == DW_TAG_subprogram || dwarf_tag(&scopes[i]) == DW_TAG_inlined_subroutine)
                name = dwarf_diename(&scopes[i]);
        free(scopes);
        if (name && line && dwarf_linesrc(line, nullptr, nullptr)) ++resolved;
    }
    return resolved;
}

// The whole inline chain of every address against addr2line -i -f.
void PrintAgreement(const std::string& module, const crashreport::TElfSections& elf,
                    const std::vector<std::uint64_t>& addresses)
{
    crashreport::TTavrelModuleInfo record;
    record.FileName = module;
    record.Handle = elf.HandleAddress();
    record.Options = std::make_unique<crashreport::TTavrelModuleOptionsEx>(module, false);
    if (!crashreport::LoadStoredOptions(record) || !record.DebugData) return;
    const auto result = addr2line::Compare(module, addresses, *record.DebugData, record.Handle, 500);
    std::printf("  inline chains agreeing with addr2line -i -f: %zu of %zu addresses with a line (%.2f %%);\n"
                "    the same text at every level %.2f %% (the rest: %zu split-off parts named by their symbol, %zu "
                "inlined functions without a linkage name named by the function holding them, %zu files where "
                "libdw gives the header);\n"
                "    %zu of them in inlined code (%.1f %%), %zu of those agreeing; %.2f levels an address\n",
                result.Agreeing, result.Compared, result.Percent(), result.StrictPercent(), result.SplitParts,
                result.OwnNames, result.Refereed, result.Inlined,
                result.Compared ? 100.0 * double(result.Inlined) / double(result.Compared) : 0.0,
                result.InlinedAgreeing, result.Compared ? double(result.Levels) / double(result.Compared) : 0.0);
    if (std::getenv("DEBUGINFO_BENCH_MISMATCHES"))
        for (const auto& m : result.Mismatches) std::printf("    %s", m.c_str());
}

std::uint64_t SectionSize(const crashreport::TElfSections& elf, const char* name)
{
    const crashreport::TElfSection* s = elf.Find(name);
    return s ? s->Size : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: debuginfo_bench MODULE PASSWORD COUNT [OLDER_MODULE]\n");
        return 2;
    }
    const std::string module = argv[1];
    g_password = argv[2];
    crashreport::TElfSections elf;
    if (!elf.Open(module) || !elf.Find(".text") || !elf.Find(".debug_info")) {
        std::fprintf(stderr, "%s: needs an unstripped module with stored data\n", module.c_str());
        return 1;
    }
    const auto addresses = RandomCodeAddresses(elf, std::size_t(std::stoul(argv[3])));

    constexpr int kRuns = 5;
    std::size_t stored = 0, byAddr2line = 0;
    double storedSeconds = 1e9, addr2lineSeconds = 1e9, storedWall = 1e9, addr2lineWall = 1e9, storedLoad = 0;
    for (int run = 0; run < kRuns; ++run) {
        g_keepHits = run == kRuns - 1;
        auto t = Clock::now();
        double cpu = OwnCpuSeconds();
        stored = StoredLookups(module, elf, addresses);
        if (OwnCpuSeconds() - cpu < storedSeconds) storedLoad = g_loadSeconds;
        storedSeconds = std::min(storedSeconds, OwnCpuSeconds() - cpu);
        storedWall = std::min(storedWall, Seconds(t));
        t = Clock::now();
        cpu = ChildrenCpuSeconds();
        byAddr2line = Addr2line(module, addresses);
        addr2lineSeconds = std::min(addr2lineSeconds, ChildrenCpuSeconds() - cpu);
        addr2lineWall = std::min(addr2lineWall, Seconds(t));
    }
    auto t = Clock::now();
    const double cpu = OwnCpuSeconds();
    const std::size_t byLibdw = Libdw(module, addresses);
    const double libdwSeconds = OwnCpuSeconds() - cpu;
    const double libdwWall = Seconds(t);

    const double n = double(addresses.size());
    std::printf("module %s, %zu random addresses in .text\n", module.c_str(), addresses.size());
    std::printf("  processor time per method, fastest of %d runs (libdw: one run):\n", kRuns);
    std::printf("  stored data: %10.0f addresses/s (%zu resolved, %.3f s)\n", n / storedSeconds, stored, storedSeconds);
    std::printf("               (%.3f s of it loading the stored data)\n", storedLoad);
    std::printf("  addr2line:   %10.0f addresses/s (%zu resolved, %.3f s)\n", n / addr2lineSeconds, byAddr2line,
                addr2lineSeconds);
    std::printf("  libdw:       %10.0f addresses/s (%zu resolved, %.3f s)\n", n / libdwSeconds, byLibdw, libdwSeconds);
    std::printf("  stored data is %.1f times as fast as addr2line and %.1f times as fast as libdw (processor time)\n",
                addr2lineSeconds / storedSeconds, libdwSeconds / storedSeconds);
    std::printf("  wall clock: stored data %.3f s, addr2line %.3f s, libdw %.3f s: %.1f and %.1f times as fast\n",
                storedWall, addr2lineWall, libdwWall, addr2lineWall / storedWall, libdwWall / storedWall);

    PrintAgreement(module, elf, addresses);
    const std::uint64_t stored_size = SectionSize(elf, ".tldata");
    const std::uint64_t dwarf = SectionSize(elf, ".debug_info") + SectionSize(elf, ".debug_line");
    std::printf("  .tldata %llu bytes; .debug_info + .debug_line %llu bytes; ratio %.2f %%\n",
                static_cast<unsigned long long>(stored_size), static_cast<unsigned long long>(dwarf),
                100.0 * double(stored_size) / double(dwarf));
    // What a line-and-inline lookup reads of the DWARF (variable locations,
    // frame tables and the like left out).
    const char* sections[] = {".debug_info", ".debug_abbrev",   ".debug_line",   ".debug_line_str",
                              ".debug_str",  ".debug_rnglists", ".debug_ranges", ".debug_aranges"};
    std::uint64_t all = 0;
    std::printf("  DWARF it replaces:");
    for (const char* name : sections) {
        const std::uint64_t size = SectionSize(elf, name);
        if (size) std::printf(" %s %llu", name, static_cast<unsigned long long>(size));
        all += size;
    }
    std::printf("\n  .tldata against all of those (%llu bytes): %.2f %%\n", static_cast<unsigned long long>(all),
                100.0 * double(stored_size) / double(all));
    if (argc == 5) {
        crashreport::TElfSections older;
        if (older.Open(argv[4]))
            std::printf("  .tldata in the format before the inlined calls (%s): %llu bytes; with them %.2f times "
                        "as large\n",
                        argv[4], static_cast<unsigned long long>(SectionSize(older, ".tldata")),
                        double(stored_size) / double(std::max<std::uint64_t>(1, SectionSize(older, ".tldata"))));
    }
    return 0;
}
