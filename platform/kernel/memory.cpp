#include "platform/kernel/memory.h"

#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace kernel {

static_assert(kProtectRead == PROT_READ && kProtectWrite == PROT_WRITE && kProtectExecute == PROT_EXEC);
namespace {

std::mutex g_mapsLock;
std::vector<TMemoryRegion> g_maps; // sorted by start, as the kernel lists them

const char* SkipSpaces(const char* p)
{
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

// One line of /proc/self/maps; nameAt points at the path, or is null when
// the line has none.
bool ParseMapsLine(const char* line, unsigned long& start, unsigned long& end, char (&perms)[4], const char*& nameAt)
{
    char* after = nullptr;
    start = std::strtoul(line, &after, 16);
    if (after == line || *after != '-') return false;
    const char* p = after + 1;
    end = std::strtoul(p, &after, 16);
    if (after == p || *after != ' ') return false;
    p = after + 1;
    for (char& c : perms) {
        if (!*p || *p == ' ') return false;
        c = *p++;
    }
    p = SkipSpaces(p);
    std::strtoul(p, &after, 16); // offset
    if (after == p) return false;
    p = SkipSpaces(after);
    while (*p && *p != ' ') ++p; // device
    p = SkipSpaces(p);
    std::strtoul(p, &after, 10); // inode
    if (after == p) return false;
    p = SkipSpaces(after);
    nameAt = (*p && *p != '\n') ? p : nullptr;
    return true;
}

void ReadMaps(std::vector<TMemoryRegion>& out)
{
    out.clear();
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen("/proc/self/maps", "re"), std::fclose);
    if (!file) return;
    char line[512];
    while (std::fgets(line, sizeof line, file.get())) {
        // "start-end perms offset dev inode   name", read by hand: the table
        // is read at every program's start, and sscanf made most of the
        // reporter's start-up.
        unsigned long start = 0, end = 0;
        char perms[4] = {};
        const char* nameAt = nullptr;
        if (!ParseMapsLine(line, start, end, perms, nameAt)) continue;
        TMemoryRegion r;
        r.Start = start;
        r.End = end;
        r.Protection =
            (perms[0] == 'r' ? PROT_READ : 0) | (perms[1] == 'w' ? PROT_WRITE : 0) | (perms[2] == 'x' ? PROT_EXEC : 0);
        r.Shared = perms[3] == 's';
        if (nameAt) {
            const char* name = nameAt;
            std::size_t n = std::strcspn(name, "\n");
            // Keep the end of long paths: the file name is what callers show.
            if (n >= sizeof r.Name) {
                name += n - (sizeof r.Name - 1);
                n = sizeof r.Name - 1;
            }
            std::memcpy(r.Name, name, n);
            r.Name[n] = 0;
        }
        out.push_back(r);
    }
}

// The table of the calling thread's TMemoryMapReading; null without one.
thread_local std::vector<TMemoryRegion>* t_reading = nullptr;

bool Lookup(const std::vector<TMemoryRegion>& maps, std::uintptr_t a, TMemoryRegion& region)
{
    auto it = std::upper_bound(maps.begin(), maps.end(), a,
                               [](std::uintptr_t v, const TMemoryRegion& r) { return v < r.Start; });
    if (it == maps.begin()) return false;
    --it;
    if (a >= it->End) return false;
    region = *it;
    return true;
}

} // namespace

std::size_t PageSize()
{
    static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

bool QueryMemory(const void* address, TMemoryRegion& region, bool fresh)
{
    const auto a = reinterpret_cast<std::uintptr_t>(address);
    if (fresh && t_reading) {
        // Read once for the holder's batch, and again only for a mapping
        // made since.
        if (!t_reading->empty() && Lookup(*t_reading, a, region)) return true;
        ReadMaps(*t_reading);
        return Lookup(*t_reading, a, region);
    }
    std::lock_guard<std::mutex> lock(g_mapsLock);
    if (!fresh && Lookup(g_maps, a, region)) return true;
    ReadMaps(g_maps);
    return Lookup(g_maps, a, region);
}

TMemoryMapReading::TMemoryMapReading()
{
    if (t_reading) return; // an outer holder's reading serves
    t_reading = &table_;
    owner_ = true;
}

TMemoryMapReading::~TMemoryMapReading()
{
    if (owner_) t_reading = nullptr;
}

std::vector<TMemoryRegion> ListMemoryRegions()
{
    std::vector<TMemoryRegion> regions;
    ReadMaps(regions);
    return regions;
}

bool IsMemoryReadable(const void* address, std::size_t length)
{
    if (length == 0) return true;
    auto a = reinterpret_cast<std::uintptr_t>(address);
    if (a + length < a) return false;
    char buffer[512];
    const pid_t self = getpid();
    const int savedErrno = errno;
    bool ok = true;
    while (length > 0) {
        const std::size_t chunk = std::min(length, sizeof buffer);
        iovec local{buffer, chunk};
        iovec remote{reinterpret_cast<void*>(a), chunk};
        const ssize_t got = process_vm_readv(self, &local, 1, &remote, 1, 0);
        if (got < 0 && (errno == ENOSYS || errno == EPERM)) {
            // The probe is not allowed here: fall back on the mapping table
            // (not signal-safe, but such systems leave no other choice).
            TMemoryRegion r;
            ok = QueryMemory(reinterpret_cast<void*>(a), r) && (r.Protection & PROT_READ) && a + length <= r.End;
            break;
        }
        if (got != static_cast<ssize_t>(chunk)) {
            ok = false;
            break;
        }
        a += chunk;
        length -= chunk;
    }
    errno = savedErrno;
    return ok;
}

bool ProtectMemory(const void* address, std::size_t length, int protection)
{
    const std::uintptr_t page = PageSize();
    const auto a = reinterpret_cast<std::uintptr_t>(address);
    const std::uintptr_t first = a & ~(page - 1);
    const std::uintptr_t last = (a + length + page - 1) & ~(page - 1);
    return mprotect(reinterpret_cast<void*>(first), last - first, protection) == 0;
}

void FlushInstructionCache(const void* address, std::size_t length)
{
    char* p = static_cast<char*>(const_cast<void*>(address));
    __builtin___clear_cache(p, p + length);
}

void* AllocateMemory(std::uintptr_t address, std::size_t size, int protection)
{
    // A new mapping may take the place of one the thread's reading holds.
    if (t_reading) t_reading->clear();
    void* p = ::mmap(reinterpret_cast<void*>(address), size, protection,
                     MAP_PRIVATE | MAP_ANONYMOUS | (address ? MAP_FIXED_NOREPLACE : 0), -1, 0);
    if (p == MAP_FAILED) return nullptr;
    if (address && reinterpret_cast<std::uintptr_t>(p) != address) { // kernels before 4.17 take the flag as a hint
        ::munmap(p, size);
        return nullptr;
    }
    return p;
}

bool FreeMemory(void* address, std::size_t size)
{
    if (t_reading) t_reading->clear();
    return ::munmap(address, size) == 0;
}

std::size_t ReadOwnMemory(void* destination, const void* source, std::size_t length)
{
    if (length == 0) return 0;
    iovec local{destination, length};
    iovec remote{const_cast<void*>(source), length};
    const ssize_t copied = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
    return copied > 0 ? static_cast<std::size_t>(copied) : 0;
}

} // namespace kernel
