#pragma once
// A stand-in for the allocator's lock. A test binary that compiles
// allocator_stand_in.cpp among its sources gets a malloc that makes every
// other thread wait while a "holder" thread owns the allocator, as the
// allocator's own lock would. AddressSanitizer replaces malloc itself: there
// the stand-in is left out and VEK_SKIP_WITHOUT_STAND_IN() skips the test.
#include <atomic>

namespace testing_support {

// The kernel thread ID of the holder; 0 while nobody holds the allocator.
extern std::atomic<long> g_allocatorHolder;

} // namespace testing_support

#if !defined(__SANITIZE_ADDRESS__)
#define VEK_SKIP_WITHOUT_STAND_IN()
#else
#define VEK_SKIP_WITHOUT_STAND_IN() GTEST_SKIP() << "AddressSanitizer owns malloc; the stand-in cannot replace it"
#endif
