#pragma once
// The loaded modules as a frame walk needs them: each module's code range
// and where its call-frame information lies. Made before threads are paused
// (it reads the module list, which takes the dynamic loader's lock, and
// allocates); Find is then a binary search over a fixed table. A module
// loaded later is not in it: its frames end the walk and the scan goes on.
#include <cstdint>
#include <utility>
#include <vector>

#include "crashreport/stack/cfi_reader.h"

namespace crashreport {

class TUnwindModules {
public:
    TUnwindModules(); // not signal-safe
    // The call-frame information of the module whose code holds `pc`, or
    // null. Signal-safe.
    const TCfiModule* Find(std::uintptr_t pc) const;
    std::size_t Count() const { return entries_.size(); }
    // [address, address + length) lies in one readable loaded segment of a
    // module. Signal-safe.
    bool Readable(std::uintptr_t address, std::size_t length) const;

private:
    struct TEntry {
        std::uintptr_t Start, End; // the module's loaded range
        TCfiModule Cfi;
    };
    std::vector<TEntry> entries_;
    std::vector<std::pair<std::uintptr_t, std::uintptr_t>> readable_; // sorted segment ranges
};

} // namespace crashreport
