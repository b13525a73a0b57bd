#include "crashreport/hook/elf_imports.h"

#include "platform/kernel/libraries.h"
#include "platform/kernel/memory.h"

#include <elf.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace crashreport::hook {
namespace {

#if defined(__x86_64__)
constexpr unsigned kJumpSlot = R_X86_64_JUMP_SLOT;
constexpr unsigned kGlobDat = R_X86_64_GLOB_DAT;
using Rel = Elf64_Rela;
inline unsigned RelType(const Rel& r) { return ELF64_R_TYPE(r.r_info); }
inline unsigned RelSym(const Rel& r) { return ELF64_R_SYM(r.r_info); }
#else
constexpr unsigned kJumpSlot = R_386_JMP_SLOT;
constexpr unsigned kGlobDat = R_386_GLOB_DAT;
using Rel = Elf32_Rel;
inline unsigned RelType(const Rel& r) { return ELF32_R_TYPE(r.r_info); }
inline unsigned RelSym(const Rel& r) { return ELF32_R_SYM(r.r_info); }
#endif

// glibc rewrites the address entries of a writable dynamic section to run
// time addresses; read-only ones (the vDSO's) keep file addresses.
std::uintptr_t Absolute(const kernel::TModuleImage& m, std::uintptr_t value)
{
    return value >= m.ImageStart ? value : value + m.Bias;
}

// The tables lie in the module's own loaded segments, whose readability the
// program headers tell; only an address outside them is asked of the kernel.
bool Readable(const kernel::TModuleImage& m, const void* p, std::size_t n)
{
    return m.HoldsReadable(p, n) || kernel::IsMemoryReadable(p, n);
}

// One past the last byte of the readable segment holding p, or 0.
std::uintptr_t ReadableEnd(const kernel::TModuleImage& m, const void* p)
{
    const auto a = reinterpret_cast<std::uintptr_t>(p);
    for (const auto& s : m.Segments)
        if (s.Readable && a >= s.Start && a < s.End) return s.End;
    return 0;
}

// The GNU hash table's header, bloom words and buckets must lie in one
// readable segment; the chains and symbols are bounded by theirs.
TSymbolIndex ReadSymbolIndex(const kernel::TModuleImage& m, std::uintptr_t gnuHash, std::uintptr_t symtab,
                             const char* strings, std::size_t strsz)
{
    TSymbolIndex index;
    const auto* header = reinterpret_cast<const std::uint32_t*>(gnuHash);
    if (!gnuHash || !m.HoldsReadable(header, 4 * sizeof(std::uint32_t))) return index;
    const std::uint32_t buckets = header[0], offset = header[1], bloomSize = header[2], shift = header[3];
    const auto* bloom = reinterpret_cast<const ElfW(Addr)*>(header + 4);
    const auto* bucketTable = reinterpret_cast<const std::uint32_t*>(bloom + bloomSize);
    const std::size_t tablesSize = bloomSize * sizeof(ElfW(Addr)) + std::size_t(buckets) * sizeof(std::uint32_t);
    if (!buckets || !bloomSize || (bloomSize & (bloomSize - 1)) || bloomSize > (1u << 24) || buckets > (1u << 24) ||
        !m.HoldsReadable(bloom, tablesSize))
        return index;
    const auto* symbols = reinterpret_cast<const ElfW(Sym)*>(symtab);
    index.Symbols = symbols;
    index.SymbolsEnd = ReadableEnd(m, symbols);
    index.Strings = strings;
    index.StringsSize = strsz;
    index.Bloom = bloom;
    index.Buckets = bucketTable;
    index.Chains = bucketTable + buckets;
    index.ChainsEnd = ReadableEnd(m, index.Chains);
    index.BucketCount = buckets;
    index.SymbolOffset = offset;
    index.BloomSize = bloomSize;
    index.BloomShift = shift;
    index.Bias = m.Bias;
    static std::atomic<std::uint64_t> serials{0};
    index.Serial = ++serials;
    if (!index.SymbolsEnd || !index.ChainsEnd) index = {};
    return index;
}

} // namespace

bool ReadModuleImports(const kernel::TModuleImage& module, TModuleImports& imports)
{
    imports = {};
    const ElfW(Dyn)* dyn = module.Dynamic();
    if (!dyn || !Readable(module, dyn, sizeof *dyn)) return false;
    std::uintptr_t strtab = 0, symtab = 0, jmprel = 0, rel = 0, gnuHash = 0;
    std::size_t strsz = 0, pltrelsz = 0, relsz = 0, relativeCount = 0;
    std::vector<std::uintptr_t> needed;
    for (const ElfW(Dyn)* d = dyn; Readable(module, d, sizeof *d) && d->d_tag != DT_NULL; ++d) {
        switch (d->d_tag) {
        case DT_STRTAB: strtab = Absolute(module, d->d_un.d_ptr); break;
        case DT_STRSZ: strsz = d->d_un.d_val; break;
        case DT_SYMTAB: symtab = Absolute(module, d->d_un.d_ptr); break;
        case DT_GNU_HASH: gnuHash = Absolute(module, d->d_un.d_ptr); break;
        case DT_JMPREL: jmprel = Absolute(module, d->d_un.d_ptr); break;
        case DT_PLTRELSZ: pltrelsz = d->d_un.d_val; break;
#if defined(__x86_64__)
        case DT_RELA: rel = Absolute(module, d->d_un.d_ptr); break;
        case DT_RELASZ: relsz = d->d_un.d_val; break;
        case DT_RELACOUNT: relativeCount = d->d_un.d_val; break;
#else
        case DT_REL: rel = Absolute(module, d->d_un.d_ptr); break;
        case DT_RELSZ: relsz = d->d_un.d_val; break;
        case DT_RELCOUNT: relativeCount = d->d_un.d_val; break;
#endif
        case DT_NEEDED: needed.push_back(d->d_un.d_val); break;
        default: break;
        }
    }
    if (!strtab || !symtab || !Readable(module, reinterpret_cast<void*>(strtab), strsz)) return false;
    const char* strings = reinterpret_cast<const char*>(strtab);
    imports.Definitions = ReadSymbolIndex(module, gnuHash, symtab, strings, strsz);
    for (std::uintptr_t offset : needed)
        if (offset < strsz) imports.Needed.emplace_back(strings + offset);

    const auto* symbols = reinterpret_cast<const ElfW(Sym)*>(symtab);
    auto walk = [&](std::uintptr_t table, std::size_t size) {
        if (!table || !Readable(module, reinterpret_cast<void*>(table), size)) return;
        const auto* r = reinterpret_cast<const Rel*>(table);
        for (std::size_t i = 0; i < size / sizeof(Rel); ++i) {
            const unsigned type = RelType(r[i]);
            if (type != kJumpSlot && type != kGlobDat) continue;
            const ElfW(Sym)* sym = symbols + RelSym(r[i]);
            if (!Readable(module, sym, sizeof *sym) || sym->st_name >= strsz) continue;
            TImportCell cell;
            cell.Cell = reinterpret_cast<void**>(module.Bias + r[i].r_offset);
            cell.SymbolName = strings + sym->st_name;
            cell.PltSlot = type == kJumpSlot;
            if (Readable(module, cell.Cell, sizeof(void*))) imports.Cells.push_back(cell);
        }
    };
    // The relative relocations, most of a position-independent program's,
    // come first in their table (their count says how many) and import
    // nothing.
    const std::size_t skipped = std::min(relativeCount, relsz / sizeof(Rel)) * sizeof(Rel);
    imports.Cells.reserve(pltrelsz / sizeof(Rel) + (relsz - skipped) / sizeof(Rel));
    walk(jmprel, pltrelsz);
    if (rel != jmprel) walk(rel ? rel + skipped : 0, relsz - skipped);
    // Some linkers let DT_RELA cover the PLT relocations as well. Each table
    // is usually in address order already.
    const auto byCell = [](const TImportCell& a, const TImportCell& b) { return a.Cell < b.Cell; };
    if (!std::is_sorted(imports.Cells.begin(), imports.Cells.end(), byCell))
        std::sort(imports.Cells.begin(), imports.Cells.end(), byCell);
    imports.Cells.erase(std::unique(imports.Cells.begin(), imports.Cells.end(),
                                    [](const TImportCell& a, const TImportCell& b) { return a.Cell == b.Cell; }),
                        imports.Cells.end());
    return true;
}

bool ModuleNeeds(const TModuleImports& imports, const std::string& library)
{
    if (library.empty()) return true;
    for (const auto& n : imports.Needed) {
        if (strcasecmp(n.c_str(), library.c_str()) == 0) return true;
        // "libc.so" and "libc" name "libc.so.6" too.
        if (n.size() > library.size() && strncasecmp(n.c_str(), library.c_str(), library.size()) == 0 &&
            (n[library.size()] == '.'))
            return true;
    }
    return false;
}

std::uint32_t GnuHash(const char* name)
{
    std::uint32_t h = 5381;
    for (const auto* c = reinterpret_cast<const unsigned char*>(name); *c; ++c) h = h * 33 + *c;
    return h;
}

TDefinition FindDefinition(const TSymbolIndex& index, const char* name, std::uint32_t hash)
{
    TDefinition found;
    if (!index.Buckets) return found;
    constexpr std::uint32_t kBits = sizeof(ElfW(Addr)) * 8;
    const ElfW(Addr) word = index.Bloom[(hash / kBits) & (index.BloomSize - 1)];
    const ElfW(Addr) mask = (ElfW(Addr)(1) << (hash % kBits)) | (ElfW(Addr)(1) << ((hash >> index.BloomShift) % kBits));
    if ((word & mask) != mask) return found;
    // The versions of a name share its hash and so its chain.
    for (std::uint32_t i = index.Buckets[hash % index.BucketCount]; i >= index.SymbolOffset; ++i) {
        const std::uint32_t* chain = index.Chains + (i - index.SymbolOffset);
        const ElfW(Sym)* sym = index.Symbols + i;
        if (reinterpret_cast<std::uintptr_t>(chain + 1) > index.ChainsEnd ||
            reinterpret_cast<std::uintptr_t>(sym + 1) > index.SymbolsEnd)
            break;
        if (((*chain ^ hash) >> 1) == 0 && sym->st_name < index.StringsSize && sym->st_shndx != SHN_UNDEF &&
            std::strcmp(name, index.Strings + sym->st_name) == 0) {
            const std::uintptr_t address = index.Bias + sym->st_value;
            if (ELF64_ST_TYPE(sym->st_info) == STT_GNU_IFUNC || (found.Defined && found.Address != address))
                found.Anywhere = true;
            found.Defined = true;
            found.Address = address;
        }
        if (*chain & 1) break;
    }
    return found;
}

void* ResolveLazyCell(const kernel::TModuleImage& module, const TImportCell& cell)
{
    if (!cell.PltSlot || !*cell.SymbolName) return nullptr;
    if (!module.Contains(*cell.Cell)) return nullptr;
    return kernel::FindGlobalSymbol(cell.SymbolName);
}

} // namespace crashreport::hook
