#pragma once
// Writing over code and data that the process maps read-only.
#include <cstddef>

namespace crashreport::hook {

// Makes the pages of [address, address+count) writable, copies count bytes
// from source, puts the old protection back and flushes the instruction
// cache. Returns false (and writes nothing) when a page is not mapped or its
// protection cannot be changed. Not signal-safe.
bool PatchCode(void* address, const void* source, std::size_t count);

// Writes the 5-byte relative jump 0xE9 rel32 at `at`. Returns false when the
// destination is out of reach of a 32-bit displacement or the write failed.
bool WriteJump(void* at, const void* destination);

// True when destination is reachable from an instruction that ends at `end`
// through a signed 32-bit displacement.
bool InRel32Reach(const void* end, const void* destination);

// An import jump stub (jmp through a memory cell; on x86-64 also a PLT entry
// with endbr64 and a bnd prefix) leads to the address in its cell. A cell
// that still points at the loader's lazy-binding code is resolved through
// the symbol of its relocation. Other addresses are returned unchanged.
void* FollowImportStub(void* address);

} // namespace crashreport::hook
