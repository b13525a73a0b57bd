#include "tests/tools/tool_test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "crashreport/binding/events.h"
#include "crashreport/modules/stored_data_loader.h"
#include "crashreport/modules/elf_sections.h"
#include "tools/elf_handles.h"

namespace tooltest {
namespace {

std::string g_password;

void GivePassword(void*, std::string& password) { password = g_password; }

} // namespace

std::string Run(const std::string& command, int* status)
{
    FILE* p = popen(command.c_str(), "r");
    if (!p) throw std::runtime_error("cannot run " + command);
    std::string out;
    char buffer[65536];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    const int rc = pclose(p);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

std::string TempPath(const std::string& name)
{
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/vek-tooltest-" + std::to_string(getpid()) + "-" + name;
}

void CopyFile(const std::string& from, const std::string& to)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    if (!in || !out) throw std::runtime_error("cannot copy " + from);
}

std::unique_ptr<crashreport::TTavrelModuleInfo> LoadRecord(const std::string& file, const std::string& password,
                                                           bool* loaded, std::uintptr_t handle)
{
    crashreport::TElfSections elf;
    elf.Open(file);
    auto record = std::make_unique<crashreport::TTavrelModuleInfo>();
    record->FileName = file;
    record->Handle = handle ? handle : elf.HandleAddress();
    record->Options = std::make_unique<crashreport::TTavrelModuleOptionsEx>(file, true);
    g_password = password;
    auto& global = crashreport::GlobalEventHandlers();
    global.OnPasswordRequest = &GivePassword;
    const bool ok = crashreport::LoadStoredOptions(*record);
    global.OnPasswordRequest = nullptr;
    if (loaded) *loaded = ok;
    return record;
}

std::vector<TFunctionSymbol> FunctionSymbols(const std::string& file)
{
    tools::TElfFile f = tools::OpenElfFile(file, false);
    std::vector<TFunctionSymbol> out;
    Elf_Scn* scn = nullptr;
    while ((scn = elf_nextscn(f.Elf.get(), scn)) != nullptr) {
        GElf_Shdr sh;
        if (!gelf_getshdr(scn, &sh) || sh.sh_type != SHT_SYMTAB) continue;
        Elf_Data* data = elf_getdata(scn, nullptr);
        for (std::size_t i = 0; data && i < sh.sh_size / sh.sh_entsize; ++i) {
            GElf_Sym sym;
            if (!gelf_getsym(data, int(i), &sym) || GELF_ST_TYPE(sym.st_info) != STT_FUNC || sym.st_size == 0 ||
                sym.st_shndx == SHN_UNDEF)
                continue;
            const char* name = elf_strptr(f.Elf.get(), sh.sh_link, sym.st_name);
            out.push_back({name ? name : "", sym.st_value, sym.st_size});
        }
    }
    return out;
}

} // namespace tooltest
