#pragma once
// One tracked thread. The fields up to StackCopyNotOwned are what another
// module that carries the crash reporter copies into this module's table.
#include "platform/kernel/threads.h"

#include <cstddef>
#include <cstdint>
#include <typeinfo>

namespace rtl {
class TThread;
}

namespace crashreport {

constexpr std::int32_t kPriorityNotRead = INT32_MIN; // 0x80000000

struct TTavrelThreadRecord {
    std::uint32_t ThreadID;
    kernel::THandle Handle;
    std::uint32_t StarterThreadID; // the thread that last resumed (started) this one
    std::int32_t Priority;         // kPriorityNotRead until the dialog reads it
    rtl::TThread* ThreadObject;    // the framework thread object running here, or null
    // Its class, kept apart: an object that frees itself on termination is
    // gone before the thread leaves the table.
    const std::type_info* ThreadObjectType = nullptr;
    std::uintptr_t StackTop;       // recorded when the thread starts running
    void* SavedBodyMethod;         // the body method before interception, or null
    void* FrameworkStartRoutine;   // what the runtime's thread wrapper would have run
    void* SystemStartRoutine;      // what a plain pthread_create caller gave
    void* StartParameter;
    std::uint32_t StarterStackSize;
    std::uint8_t* StarterStack;     // heap copy of the starter's stack, or null
    std::uint8_t StackCopyNotOwned; // 1: the copy belongs to another module
    // Not copied between modules: the table closes handles it opened itself.
    bool OwnsHandle;
    // Where the starter stack copy was taken from and the starter's registers
    // at that point, so a report walks the copy frame by frame. Frames whose
    // stack pointer lies below StarterFramesFrom are the tracking's own
    // (the interceptors) and are not shown. Not copied between modules.
    std::uintptr_t StarterStackStart = 0;
    std::uintptr_t StarterFramesFrom = 0;
    bool HasStarterContext = false;
    kernel::TThreadContext StarterContext{};
};

// The bytes of a record that travel between modules (the not-owned byte is
// handled separately).
constexpr std::size_t kThreadRecordCopySize = offsetof(TTavrelThreadRecord, StackCopyNotOwned);

} // namespace crashreport
