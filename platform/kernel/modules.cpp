#include "platform/kernel/modules.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <strings.h>

namespace kernel {
namespace {

const char* BaseName(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// The module's record; false for one without loaded segments. The first
// listed module, without a name, is the executable.
bool Describe(const dl_phdr_info* info, bool first, TModuleImage& m)
{
    m = {};
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
    if (m.Segments.empty()) return false;
    // The first PT_LOAD maps the file from offset 0, so its page start is the ELF header.
    m.ImageStart = low & ~static_cast<std::uintptr_t>(getpagesize() - 1);
    m.ImageEnd = high;
    m.Handle = m.ImageStart;
    const char* name = info->dlpi_name;
    if (first && (!name || !*name)) {
        m.IsMainExecutable = true;
        m.Path = MainExecutablePath();
    } else {
        m.Path = name ? name : "";
    }
    return true;
}

// What the lookups below test of each listed module before making its
// record: its load base, whether an address lies in one of its loaded
// segments, its name.
std::uintptr_t LoadBase(const dl_phdr_info* info)
{
    std::uintptr_t low = UINTPTR_MAX;
    for (int i = 0; i < info->dlpi_phnum; ++i)
        if (info->dlpi_phdr[i].p_type == PT_LOAD) low = std::min<std::uintptr_t>(low, info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
    return low == UINTPTR_MAX ? 0 : low & ~static_cast<std::uintptr_t>(getpagesize() - 1);
}

bool SegmentsHold(const dl_phdr_info* info, std::uintptr_t a)
{
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        const std::uintptr_t start = info->dlpi_addr + ph.p_vaddr;
        if (ph.p_type == PT_LOAD && a >= start && a < start + ph.p_memsz) return true;
    }
    return false;
}

// Lists the modules, making a record only of the first that `match` accepts
// (match(info, first)), or of every module when there is no match.
struct TSearch {
    bool (*Match)(const dl_phdr_info*, bool, const void*) = nullptr;
    const void* Key = nullptr;
    TModuleImage* Found = nullptr;
    std::vector<TModuleImage>* All = nullptr;
    bool First = true;
};

int Visit(dl_phdr_info* info, std::size_t, void* data)
{
    auto& search = *static_cast<TSearch*>(data);
    const bool first = search.First;
    search.First = false;
    if (search.All) {
        TModuleImage m;
        // The vDSO has no file; it is still listed so that addresses in it resolve.
        if (Describe(info, first, m)) search.All->push_back(std::move(m));
        return 0;
    }
    if (!search.Match(info, first, search.Key)) return 0;
    return Describe(info, first, *search.Found) ? 1 : 0;
}

bool Find(bool (*match)(const dl_phdr_info*, bool, const void*), const void* key, TModuleImage& module)
{
    TModuleImage found;
    TSearch search;
    search.Match = match;
    search.Key = key;
    search.Found = &found;
    if (!dl_iterate_phdr(Visit, &search)) return false;
    module = std::move(found);
    return true;
}

} // namespace

bool TModuleImage::Contains(const void* address) const
{
    const auto a = reinterpret_cast<std::uintptr_t>(address);
    if (a < ImageStart || a >= ImageEnd) return false; // most addresses asked about are elsewhere
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
    TSearch search;
    search.All = &out;
    dl_iterate_phdr(Visit, &search);
    return out;
}

bool FindModuleByAddress(const void* address, TModuleImage& module)
{
    return Find([](const dl_phdr_info* info, bool, const void* key) {
        return SegmentsHold(info, reinterpret_cast<std::uintptr_t>(key));
    }, address, module);
}

bool FindModuleByHandle(std::uintptr_t handle, TModuleImage& module)
{
    return Find([](const dl_phdr_info* info, bool, const void* key) {
        return LoadBase(info) == reinterpret_cast<std::uintptr_t>(key);
    }, reinterpret_cast<const void*>(handle), module);
}

bool FindModuleByName(const std::string& name, TModuleImage& module)
{
    return Find([](const dl_phdr_info* info, bool first, const void* key) {
        const std::string& wanted = *static_cast<const std::string*>(key);
        const char* path = info->dlpi_name ? info->dlpi_name : "";
        const bool executable = first && !*path;
        if (wanted.empty()) return executable;
        std::string executablePath;
        if (executable) {
            executablePath = MainExecutablePath();
            path = executablePath.c_str();
        }
        return strcasecmp(path, wanted.c_str()) == 0 || strcasecmp(BaseName(path), wanted.c_str()) == 0;
    }, &name, module);
}

bool AnyModuleFileNameStartsWith(const char* prefix)
{
    struct TSearch {
        const char* Prefix;
        std::size_t Length;
        bool Found;
    } search{prefix, std::strlen(prefix), false};
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            auto* s = static_cast<TSearch*>(data);
            s->Found = std::strncmp(BaseName(info->dlpi_name ? info->dlpi_name : ""), s->Prefix, s->Length) == 0;
            return s->Found ? 1 : 0;
        },
        &search);
    return search.Found;
}

std::string GetModuleFileName(std::uintptr_t handle)
{
    TModuleImage m;
    return FindModuleByHandle(handle, m) ? m.Path : std::string();
}

} // namespace kernel
