#include "tools/elf_symbols.h"

#include <cstring>
#include <map>
#include <string>

namespace tools {
namespace st = crashreport::stored;

std::vector<TStoredSymbol> FindStoredSymbols(TElfFile& file, std::uint64_t handleAddress,
                                             const std::map<std::string, std::uint8_t>& extra)
{
    std::map<std::string, std::uint8_t> wanted = {
        {"__cxa_throw", st::siCxaThrow},        {"_Unwind_RaiseException", st::siUnwindRaise},
        {"_ZSt9terminatev", st::siTerminate},   {"__cxa_rethrow", st::siCxaRethrow},
        {"pthread_create", st::siThreadCreate}, {"pthread_exit", st::siThreadExit},
    };
    wanted.insert(extra.begin(), extra.end());
    std::map<std::uint8_t, TStoredSymbol> found;
    Elf_Scn* scn = nullptr;
    while ((scn = elf_nextscn(file.Elf.get(), scn)) != nullptr) {
        GElf_Shdr sh;
        if (!gelf_getshdr(scn, &sh) || sh.sh_type != SHT_SYMTAB || sh.sh_entsize == 0) continue;
        Elf_Data* data = elf_getdata(scn, nullptr);
        const std::size_t count = sh.sh_size / sh.sh_entsize;
        for (std::size_t i = 0; data && i < count; ++i) {
            GElf_Sym sym;
            if (!gelf_getsym(data, int(i), &sym) || sym.st_shndx == SHN_UNDEF ||
                GELF_ST_TYPE(sym.st_info) != STT_FUNC || sym.st_value < handleAddress)
                continue;
            const char* name = elf_strptr(file.Elf.get(), sh.sh_link, sym.st_name);
            const auto it = name ? wanted.find(name) : wanted.end();
            if (it != wanted.end())
                found[it->second] = {it->second, std::uint32_t(sym.st_value - handleAddress),
                                     std::uint32_t(sym.st_size)};
        }
    }
    std::vector<TStoredSymbol> out;
    for (const auto& [id, s] : found) out.push_back(s);
    return out;
}

} // namespace tools
