#pragma once
// Executable memory for trampolines, placed close to the code they serve so
// that 32-bit displacements (jumps back, moved calls, RIP-relative operands)
// reach from one to the other.
#include <cstddef>

namespace crashreport::hook {

constexpr std::size_t kTrampolineSlotSize = 128;

// A slot of kTrampolineSlotSize bytes, read-execute, within +-1 GiB of near
// (anywhere when near is null). Returns null when no such memory can be
// mapped. Write into it with PatchCode. Not signal-safe.
void* AllocateTrampoline(const void* near);
void FreeTrampoline(void* slot);

// Makes every request for memory near a target fail, so that tests can run
// the far placement (absolute jumps) on an ordinary address space.
void RefuseNearTrampolinesForTesting(bool refuse);

} // namespace crashreport::hook
