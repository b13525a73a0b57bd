#include "platform/kernel/modules.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <strings.h>

namespace kernel {
namespace {

std::string BaseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int Collect(dl_phdr_info* info, std::size_t, void* data)
{
    auto& out = *static_cast<std::vector<TModuleImage>*>(data);
    TModuleImage m;
    m.Bias = info->dlpi_addr;
    m.ProgramHeaders = info->dlpi_phdr;
    m.ProgramHeaderCount = info->dlpi_phnum;
    std::uintptr_t low = UINTPTR_MAX, high = 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD) continue;
        const std::uintptr_t start = m.Bias + ph.p_vaddr;
        const std::uintptr_t end = start + ph.p_memsz;
        m.Segments.push_back({start, end, (ph.p_flags & PF_R) != 0});
        low = std::min(low, start);
        high = std::max(high, end);
    }
    if (m.Segments.empty()) return 0;
    // The first PT_LOAD maps the file from offset 0, so its page start is the ELF header.
    m.ImageStart = low & ~static_cast<std::uintptr_t>(getpagesize() - 1);
    m.ImageEnd = high;
    m.Handle = m.ImageStart;
    const char* name = info->dlpi_name;
    if (out.empty() && (!name || !*name)) {
        m.IsMainExecutable = true;
        m.Path = MainExecutablePath();
    } else {
        m.Path = name ? name : "";
    }
    // The vDSO has no file; it is still listed so that addresses in it resolve.
    out.push_back(std::move(m));
    return 0;
}

} // namespace

bool TModuleImage::Contains(const void* address) const
{
    const auto a = reinterpret_cast<std::uintptr_t>(address);
    for (const auto& s : Segments)
        if (a >= s.Start && a < s.End) return true;
    return false;
}

bool TModuleImage::HoldsReadable(const void* address, std::size_t length) const
{
    const auto a = reinterpret_cast<std::uintptr_t>(address);
    if (a + length < a) return false;
    for (const auto& s : Segments)
        if (s.Readable && a >= s.Start && a + length <= s.End) return true;
    return false;
}

const ElfW(Dyn) * TModuleImage::Dynamic() const
{
    for (int i = 0; i < ProgramHeaderCount; ++i)
        if (ProgramHeaders[i].p_type == PT_DYNAMIC)
            return reinterpret_cast<const ElfW(Dyn)*>(Bias + ProgramHeaders[i].p_vaddr);
    return nullptr;
}

std::string MainExecutablePath()
{
    // The executable of a process never changes (exec starts a new image), so
    // the link is read once: module lists are made often at start-up. Kept
    // to the end of the process: libraries unloaded by exit's finalisers are
    // followed after static objects are gone.
    static const std::string* const path = [] {
        char buffer[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        return new std::string(n <= 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n)));
    }();
    return *path;
}

std::vector<TModuleImage> EnumerateModules()
{
    std::vector<TModuleImage> out;
    dl_iterate_phdr(Collect, &out);
    return out;
}

bool FindModuleByAddress(const void* address, TModuleImage& module)
{
    for (auto& m : EnumerateModules())
        if (m.Contains(address)) {
            module = std::move(m);
            return true;
        }
    return false;
}

bool FindModuleByHandle(std::uintptr_t handle, TModuleImage& module)
{
    for (auto& m : EnumerateModules())
        if (m.Handle == handle) {
            module = std::move(m);
            return true;
        }
    return false;
}

bool FindModuleByName(const std::string& name, TModuleImage& module)
{
    for (auto& m : EnumerateModules()) {
        const bool match = name.empty() ? m.IsMainExecutable
                                        : (strcasecmp(m.Path.c_str(), name.c_str()) == 0 ||
                                           strcasecmp(BaseName(m.Path).c_str(), name.c_str()) == 0);
        if (match) {
            module = std::move(m);
            return true;
        }
    }
    return false;
}

std::string GetModuleFileName(std::uintptr_t handle)
{
    TModuleImage m;
    return FindModuleByHandle(handle, m) ? m.Path : std::string();
}

} // namespace kernel
