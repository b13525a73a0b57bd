#include "tests/tools/addr2line_chains.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <dwarf.h>

#include "crashreport/modules/cpp_name_parts.h"
#include "tools/elf_handles.h"

namespace addr2line {
namespace {

std::string BaseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsAddressLine(const std::string& text)
{
    if (text.size() < 3 || text.compare(0, 2, "0x") != 0) return false;
    for (std::size_t i = 2; i < text.size(); ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

// "file:line", "file:line (discriminator n)", "??:0", "??:?".
void ParseLocation(std::string location, TFrame& frame)
{
    const auto discriminator = location.find(" (discriminator");
    if (discriminator != std::string::npos) location.resize(discriminator);
    const auto colon = location.rfind(':');
    if (colon == std::string::npos) {
        frame.File = BaseName(location);
        return;
    }
    frame.File = BaseName(location.substr(0, colon));
    frame.Line = std::atoi(location.c_str() + colon + 1);
}

std::vector<TChain> Run(const std::string& module, const std::vector<std::uint64_t>& addresses)
{
    char list[] = "/tmp/addr2line_chains_XXXXXX";
    const int fd = mkstemp(list);
    if (fd < 0) throw std::runtime_error("no temporary file");
    {
        std::ostringstream text;
        for (auto a : addresses) text << "0x" << std::hex << a << "\n";
        const std::string s = text.str();
        if (write(fd, s.data(), s.size()) != ssize_t(s.size())) throw std::runtime_error("cannot write the list");
        close(fd);
    }
    FILE* p = popen(("addr2line -a -i -f -C -e '" + module + "' < " + list).c_str(), "r");
    std::vector<TChain> chains;
    std::vector<std::string> pending; // function and location lines of the current address
    auto flush = [&]() {
        if (chains.empty()) return;
        for (std::size_t i = 0; i + 1 < pending.size(); i += 2) {
            TFrame frame;
            frame.Function = pending[i];
            ParseLocation(pending[i + 1], frame);
            chains.back().push_back(std::move(frame));
        }
        pending.clear();
    };
    char buffer[16384];
    while (p && std::fgets(buffer, sizeof buffer, p)) {
        std::string text(buffer);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        if (IsAddressLine(text)) {
            flush();
            chains.emplace_back();
        } else {
            pending.push_back(std::move(text));
        }
    }
    flush();
    if (p) pclose(p);
    unlink(list);
    if (chains.size() != addresses.size()) throw std::runtime_error("addr2line gave another number of answers");
    return chains;
}

bool SameName(const std::string& reference, const std::string& ours)
{
    if (reference == "??") return ours.empty();
    return reference.size() >= ours.size() && !ours.empty() &&
        reference.compare(reference.size() - ours.size(), ours.size(), ours) == 0 &&
        (reference.size() == ours.size() || reference[reference.size() - ours.size() - 1] == ' ');
}

// A symbol of a split-off part: a plain name, a dot and the part's kind
// ("main.cold", "f.part.0").
bool SplitPartOf(const std::string& reference, const std::string& ours)
{
    const auto dot = reference.find('.');
    return dot != std::string::npos && dot > 0 && reference.find('(') == std::string::npos &&
        reference.compare(0, dot, ours) == 0 && dot == ours.size();
}

std::string Joined(const crashreport::stored::TDebugFrame& f)
{
    return f.ClassName.empty() ? f.ProcedureName : f.ClassName + "::" + f.ProcedureName;
}

// 0: differs, 1: the same, 2: the same but for the name of a split-off part.
int SameFrame(const TFrame& reference, const crashreport::stored::TDebugFrame& ours, bool& fileDiffers)
{
    const std::string file = reference.File == "??" ? std::string() : reference.File;
    fileDiffers = file != ours.UnitName;
    if (reference.Line != ours.Line) return 0;
    const int name = SameName(reference.Function, Joined(ours)) ? 1
        : SplitPartOf(reference.Function, Joined(ours))         ? 2
                                                                : 0;
    return fileDiffers ? 0 : name;
}

struct TSymbol {
    std::uint64_t Value, Size;
    std::string Name;
};

std::vector<TSymbol> FunctionSymbols(tools::TElfFile& file)
{
    std::vector<TSymbol> out;
    Elf_Scn* scn = nullptr;
    while ((scn = elf_nextscn(file.Elf.get(), scn)) != nullptr) {
        GElf_Shdr sh;
        if (!gelf_getshdr(scn, &sh) || sh.sh_type != SHT_SYMTAB || sh.sh_entsize == 0) continue;
        Elf_Data* data = elf_getdata(scn, nullptr);
        for (std::size_t i = 0; data && i < sh.sh_size / sh.sh_entsize; ++i) {
            GElf_Sym sym;
            if (!gelf_getsym(data, int(i), &sym) || GELF_ST_TYPE(sym.st_info) != STT_FUNC || sym.st_size == 0) continue;
            const char* name = elf_strptr(file.Elf.get(), sh.sh_link, sym.st_name);
            if (name) out.push_back({sym.st_value, sym.st_size, name});
        }
    }
    return out;
}

TWitness Witness(tools::TElfFile& file, const std::vector<TSymbol>& symbols, std::uint64_t address)
{
    TWitness w;
    for (const auto& s : symbols)
        if (address >= s.Value && address < s.Value + s.Size)
            w.SymbolName = crashreport::DemangleCppName(s.Name.c_str());
    Dwarf_Die cu;
    if (!file.Dwarf || !dwarf_addrdie(file.Dwarf.get(), address, &cu)) return w;
    Dwarf_Line* line = dwarf_getsrc_die(&cu, address);
    const char* path = line ? dwarf_linesrc(line, nullptr, nullptr) : nullptr;
    if (path) w.LineFile = BaseName(path);
    Dwarf_Die* scopes = nullptr;
    const int n = dwarf_getscopes(&cu, address, &scopes);
    for (int i = 0; i < n; ++i) {
        const int tag = dwarf_tag(&scopes[i]);
        if (tag != DW_TAG_subprogram && tag != DW_TAG_inlined_subroutine) continue;
        if (tag == DW_TAG_inlined_subroutine)
            if (const char* name = dwarf_diename(&scopes[i])) w.InlinedName = name;
        break;
    }
    free(scopes);
    return w;
}

} // namespace

std::vector<TChain> Ask(const std::string& module, const std::vector<std::uint64_t>& addresses, std::size_t batch)
{
    std::vector<TChain> chains;
    for (std::size_t from = 0; from < addresses.size(); from += batch) {
        const std::vector<std::uint64_t> part(addresses.begin() + long(from),
                                              addresses.begin() + long(std::min(addresses.size(), from + batch)));
        for (auto& chain : Run(module, part)) chains.push_back(std::move(chain));
    }
    return chains;
}

bool Agrees(const TChain& reference, const std::optional<crashreport::stored::TDebugLineHit>& hit,
            const TWitness& witness, TTolerated& tolerated, std::string* why)
{
    tolerated = {};
    auto fail = [&](const std::string& text) {
        if (why) *why = text;
        tolerated = {};
        return false;
    };
    if (!hit) return fail("no stored answer");
    if (reference.size() != hit->Callers.size() + 1)
        return fail(std::to_string(reference.size()) + " levels against " + std::to_string(hit->Callers.size() + 1));
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const crashreport::stored::TDebugFrame& ours = i == 0 ? *hit : hit->Callers[i - 1];
        bool fileDiffers = false;
        int same = SameFrame(reference[i], ours, fileDiffers);
        if (same == 0 && i == 0) {
            TFrame asWitness = reference[i];
            if (fileDiffers && !ours.UnitName.empty() && witness.LineFile == ours.UnitName) {
                asWitness.File = witness.LineFile;
                tolerated.Refereed = true;
            }
            if (!witness.InlinedName.empty() && ours.ClassName.empty() && ours.ProcedureName == witness.InlinedName &&
                !witness.SymbolName.empty() && SameName(reference[i].Function, witness.SymbolName)) {
                asWitness.Function = witness.InlinedName;
                tolerated.OwnName = true;
            }
            same = SameFrame(asWitness, ours, fileDiffers);
        }
        if (same == 0) return fail("level " + std::to_string(i) + " differs");
        if (same == 2) tolerated.SplitPart = true;
    }
    return true;
}

std::string Describe(const TChain& reference)
{
    std::string out;
    for (const auto& f : reference)
        out += "      " + f.Function.substr(0, 100) + " at " + f.File + ":" + std::to_string(f.Line) + "\n";
    return out;
}

std::string Describe(const std::optional<crashreport::stored::TDebugLineHit>& hit)
{
    if (!hit) return "      (none)\n";
    std::string out;
    auto add = [&](const crashreport::stored::TDebugFrame& f) {
        out += "      " + Joined(f).substr(0, 100) + " at " + f.UnitName + ":" + std::to_string(f.Line) + "\n";
    };
    add(*hit);
    for (const auto& c : hit->Callers) add(c);
    return out;
}

TAgreement Compare(const std::string& module, const std::vector<std::uint64_t>& addresses,
                   const crashreport::stored::TDebugData& data, std::uintptr_t handle, std::size_t batch)
{
    std::vector<TChain> chains = Ask(module, addresses, batch);
    tools::TElfFile unstripped = tools::OpenElfFile(module, true);
    const std::vector<TSymbol> symbols = FunctionSymbols(unstripped);
    TAgreement result;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const auto hit = data.Lookup(handle, addresses[i]);
        std::string why;
        TTolerated tolerated;
        const TWitness witness = Witness(unstripped, symbols, addresses[i]);
        bool same = Agrees(chains[i], hit, witness, tolerated, &why);
        if (!same && batch > 1) {
            // The answer of a run of its own is the one that counts.
            chains[i] = Run(module, {addresses[i]}).front();
            same = Agrees(chains[i], hit, witness, tolerated, &why);
        }
        const TChain& chain = chains[i];
        if (chain.empty() || chain.front().Line == 0) {
            ++result.Lineless;
            if (!hit) ++result.LinelessUnresolved;
            continue;
        }
        ++result.Compared;
        result.Levels += chain.size();
        if (chain.size() > 1) ++result.Inlined;
        if (same) {
            ++result.Agreeing;
            if (tolerated.SplitPart)
                ++result.SplitParts;
            else if (tolerated.OwnName)
                ++result.OwnNames;
            else if (tolerated.Refereed)
                ++result.Refereed;
            if (chain.size() > 1) ++result.InlinedAgreeing;
        } else if (result.Mismatches.size() < (std::getenv("ADDR2LINE_ALL_MISMATCHES") ? 100000u : 20u)) {
            std::ostringstream text;
            text << "0x" << std::hex << addresses[i] << ": " << why << "\n    addr2line:\n"
                 << Describe(chain) << "    stored:\n"
                 << Describe(hit);
            result.Mismatches.push_back(text.str());
        }
    }
    return result;
}

} // namespace addr2line
