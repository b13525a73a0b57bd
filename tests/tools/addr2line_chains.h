#pragma once
// addr2line as the reference for the stored debug data: its answer for an
// address of inlined code is the whole inline chain (`addr2line -i -f`),
// innermost function first, then each function it was inlined into at the
// line of its call. Shared by the agreement test and the benchmark.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crashreport/modules/debug_data.h"

namespace addr2line {

struct TFrame {
    std::string Function; // demangled, as addr2line -C prints it; "??" when unknown
    std::string File;     // without folders
    int Line = 0;         // 0 when unknown
};
using TChain = std::vector<TFrame>;

// Asks `addr2line -a -i -f -C -e module` for the addresses, `batch` of them
// per run (it caches names within a run, so an answer may depend on the
// addresses asked before it in the same run). One chain per address.
std::vector<TChain> Ask(const std::string& module, const std::vector<std::uint64_t>& addresses, std::size_t batch);

// Where the stored answer is taken as agreeing although its text differs,
// for two differences the stored data has on purpose:
// * SplitPart: addr2line names code of a part the compiler split off a
//   function without a linkage name (`main.cold`) by that part's symbol;
//   the stored data names the function (`main`).
// * Refereed: at the innermost level addr2line gives the unit's main file
//   where libdw's line table (and readelf's) gives the header the code is
//   from, and the stored data gives libdw's file.
// * OwnName: in inlined code of a function without a linkage name (in an
//   unnamed namespace, a lambda) addr2line names the innermost level by the
//   symbol that holds the address, the function it was inlined into; the
//   stored data gives the inlined function's own name, libdw's innermost
//   inlined scope.
struct TTolerated {
    bool SplitPart = false, Refereed = false, OwnName = false;
};

// What libdw and the symbol table say of an address, for the tolerances.
struct TWitness {
    std::string LineFile;    // libdw's file of the address
    std::string InlinedName; // libdw's innermost scope's name when it is an inlined call
    std::string SymbolName;  // the function symbol that holds the address, demangled
};

// Whether the stored lookup gives the reference chain: as many levels, and
// at every level the same file, line and function (addr2line's may carry a
// return type in front), but for the tolerated differences, which `witness`
// decides. `why` gets the difference.
bool Agrees(const TChain& reference, const std::optional<crashreport::stored::TDebugLineHit>& hit,
            const TWitness& witness, TTolerated& tolerated, std::string* why = nullptr);

// Both chains as text, one level a line, for messages.
std::string Describe(const TChain& reference);
std::string Describe(const std::optional<crashreport::stored::TDebugLineHit>& hit);

// The agreement over many addresses: addresses whose reference has a line,
// and how many of them agree; addresses without a line, and how many of
// those the stored data leaves unresolved too.
struct TAgreement {
    std::size_t Compared = 0, Agreeing = 0, Inlined = 0, InlinedAgreeing = 0, Lineless = 0, LinelessUnresolved = 0;
    std::size_t SplitParts = 0, Refereed = 0, OwnNames = 0; // agreeing only as TTolerated allows
    std::size_t Levels = 0;                                 // levels of all compared chains
    std::vector<std::string> Mismatches;                    // the first few, described
    double Percent() const { return Compared ? 100.0 * double(Agreeing) / double(Compared) : 0.0; }
    // Without the tolerated differences: the text of every level the same.
    double StrictPercent() const
    {
        return Compared ? 100.0 * double(Agreeing - SplitParts - Refereed - OwnNames) / double(Compared) : 0.0;
    }
};

// Compares the stored data with addr2line for every address: batches first,
// then every address whose batch answer differs is asked alone, and that
// answer counts (so no answer depends on another address).
TAgreement Compare(const std::string& module, const std::vector<std::uint64_t>& addresses,
                   const crashreport::stored::TDebugData& data, std::uintptr_t handle, std::size_t batch);

} // namespace addr2line
