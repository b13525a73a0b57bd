#pragma once
// Memory queries and protection changes of the current process: the stand-in
// for VirtualQuery, VirtualProtect and FlushInstructionCache.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kernel {

// Protection bits as mprotect takes them.
inline constexpr int kProtectNone = 0;
inline constexpr int kProtectRead = 0x1;    // PROT_READ
inline constexpr int kProtectWrite = 0x2;   // PROT_WRITE
inline constexpr int kProtectExecute = 0x4; // PROT_EXEC

struct TMemoryRegion {
    std::uintptr_t Start = 0;
    std::uintptr_t End = 0; // one past the last byte
    int Protection = 0;
    bool Shared = false;
    char Name[64] = {}; // mapped file name or "[vdso]" etc., cut to fit
};

// Finds the mapping that holds the address. The region table is read from
// /proc/self/maps, cached, and read again when the address is not in it or
// when fresh is set (protection changes are not seen by the cache).
// Not signal-safe (reads a file and takes a lock).
bool QueryMemory(const void* address, TMemoryRegion& region, bool fresh = false);

// While one lives, the calling thread's fresh queries (QueryMemory with
// fresh set) are answered from one reading of the table, made at the first
// such query and read again only for an address it lacks. For a batch of
// code patches that each put back the protection they change (mappings
// made or removed through AllocateMemory and FreeMemory are read again;
// other changes of protection are not seen): reading the
// table for each of them made most of the cost of starting a program with
// many libraries. Nested holders share the outermost one's reading. Not
// signal-safe.
class TMemoryMapReading {
public:
    TMemoryMapReading();
    ~TMemoryMapReading();
    TMemoryMapReading(const TMemoryMapReading&) = delete;
    TMemoryMapReading& operator=(const TMemoryMapReading&) = delete;

private:
    std::vector<TMemoryRegion> table_;
    bool owner_ = false;
};

// Every mapping of the process, read fresh from /proc/self/maps. Not signal-safe.
std::vector<TMemoryRegion> ListMemoryRegions();

// True when every byte of [address, address+length) can be read now. Probes
// with process_vm_readv into a stack buffer, so it is signal-safe and sees
// the page tables as they are at this moment.
bool IsMemoryReadable(const void* address, std::size_t length);

// Copies up to length bytes of this process's memory through the kernel, so
// that a page that is gone gives a short count instead of a fault. The
// bytes copied (0 when none). Signal-safe.
std::size_t ReadOwnMemory(void* destination, const void* source, std::size_t length);

// Changes the protection of the pages that hold [address, address+length).
// Not signal-safe.
bool ProtectMemory(const void* address, std::size_t length, int protection);

// Makes newly written code visible to instruction fetch. Signal-safe.
void FlushInstructionCache(const void* address, std::size_t length);

std::size_t PageSize();

// Fresh zero-filled private memory with the given protection (VirtualAlloc):
// exactly at `address` when it is not 0, and then only when that range is
// free; anywhere otherwise. Null on failure. Not signal-safe.
void* AllocateMemory(std::uintptr_t address, std::size_t size, int protection);
// Gives back memory that AllocateMemory returned (VirtualFree). Not signal-safe.
bool FreeMemory(void* address, std::size_t size);

} // namespace kernel
