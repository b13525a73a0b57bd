#include "crashreport/options/module_identity.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <link.h>
#include <unistd.h>

namespace crashreport {

namespace {

TModuleHandle LoadBase(const dl_phdr_info& info)
{
    ElfW(Addr) lowest = ~ElfW(Addr)(0);
    for (ElfW(Half) i = 0; i < info.dlpi_phnum; ++i)
        if (info.dlpi_phdr[i].p_type == PT_LOAD && info.dlpi_phdr[i].p_vaddr < lowest)
            lowest = info.dlpi_phdr[i].p_vaddr;
    if (lowest == ~ElfW(Addr)(0))
        return 0;
    return static_cast<TModuleHandle>(info.dlpi_addr + lowest);
}

bool HoldsAddress(const dl_phdr_info& info, std::uintptr_t address)
{
    for (ElfW(Half) i = 0; i < info.dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info.dlpi_phdr[i];
        if (ph.p_type != PT_LOAD)
            continue;
        const std::uintptr_t start = info.dlpi_addr + ph.p_vaddr;
        if (address >= start && address - start < ph.p_memsz)
            return true;
    }
    return false;
}

std::string Canonical(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

std::string BaseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct TFileQuery {
    std::string wanted;
    std::string wantedCanonical;
    bool bareName = false;
    std::string program;
    bool first = true;
    TModuleHandle found = 0;
};

int MatchFile(dl_phdr_info* info, size_t, void* data)
{
    auto& q = *static_cast<TFileQuery*>(data);
    std::string path = info->dlpi_name != nullptr ? info->dlpi_name : "";
    if (q.first && path.empty())
        path = q.program; // the first entry is the main program
    q.first = false;
    if (path.empty())
        return 0;
    bool match;
    if (q.bareName)
        match = BaseName(path) == q.wanted;
    else
        match = path == q.wanted || (!q.wantedCanonical.empty() && Canonical(path) == q.wantedCanonical);
    if (match) {
        q.found = LoadBase(*info);
        return 1;
    }
    return 0;
}

struct TAddressQuery {
    std::uintptr_t address;
    TModuleHandle found = 0;
};

int MatchAddress(dl_phdr_info* info, size_t, void* data)
{
    auto& q = *static_cast<TAddressQuery*>(data);
    if (HoldsAddress(*info, q.address)) {
        q.found = LoadBase(*info);
        return 1;
    }
    return 0;
}

} // namespace

std::string ProgramFileName()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

TModuleHandle ModuleHandleOfAddress(const void* address)
{
    TAddressQuery q{reinterpret_cast<std::uintptr_t>(address)};
    ::dl_iterate_phdr(MatchAddress, &q);
    return q.found;
}

TModuleHandle ReporterModuleHandle()
{
    return ModuleHandleOfAddress(reinterpret_cast<const void*>(&ReporterModuleHandle));
}

TModuleHandle ModuleHandleOfFile(const std::string& fileName)
{
    if (fileName.empty())
        return 0;
    TFileQuery q;
    q.wanted = fileName;
    q.bareName = fileName.find('/') == std::string::npos;
    if (!q.bareName)
        q.wantedCanonical = Canonical(fileName);
    q.program = ProgramFileName();
    ::dl_iterate_phdr(MatchFile, &q);
    return q.found;
}

} // namespace crashreport
