// Virtual-method slot interception on real virtual tables.
#include "crashreport/hook/hook_engine.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace crashreport::hook;

// Outside an anonymous namespace, so that the compiler cannot see every
// override and call the method directly.
struct TShape {
    virtual ~TShape() = default;
    virtual int Sides() const { return 0; }
};
struct TTriangle : TShape {
    int Sides() const override { return 3; }
};

__attribute__((noipa)) int CallSides(const TShape* s) { return s->Sides(); }

namespace {

int ReplacementSides(const TShape*) { return 99; }

int SlotOf(int (TShape::*method)() const)
{
    std::uintptr_t raw; // Itanium ABI: a virtual member pointer holds 1 + its byte offset in the table
    std::memcpy(&raw, &method, sizeof raw);
    return static_cast<int>((raw - 1) / sizeof(void*));
}

TShape* volatile g_shape = new TTriangle;

TEST(VirtualMethodHook, SlotIsReplacedAndRestored)
{
    EXPECT_EQ(InterceptVirtualMethod(*reinterpret_cast<void**>(g_shape), SlotOf(&TShape::Sides),
                                     reinterpret_cast<void*>(&ReplacementSides)),
              nullptr)
        << "not started";
    StartHookEngine();
    void* vtable = *reinterpret_cast<void**>(g_shape);
    const int slot = SlotOf(&TShape::Sides);
    void* const original = static_cast<void**>(vtable)[slot];

    EXPECT_EQ(InterceptVirtualMethod(vtable, slot, reinterpret_cast<void*>(&ReplacementSides)), original);
    EXPECT_EQ(CallSides(g_shape), 99);
    // Again: the first previous method comes back and no second record is made.
    EXPECT_EQ(InterceptVirtualMethod(vtable, slot, reinterpret_cast<void*>(&ReplacementSides)), original);
    EXPECT_EQ(HookedMethodCount(), 1);

    EXPECT_TRUE(RestoreVirtualMethod(vtable, slot));
    EXPECT_EQ(CallSides(g_shape), 3);
    EXPECT_EQ(static_cast<void**>(vtable)[slot], original);
    EXPECT_FALSE(RestoreVirtualMethod(vtable, slot));

    // Shut-down puts back slots that are still replaced.
    InterceptVirtualMethod(vtable, slot, reinterpret_cast<void*>(&ReplacementSides));
    ShutdownHookEngine();
    EXPECT_EQ(CallSides(g_shape), 3);
}

TEST(VirtualMethodHook, SlotOutsideEveryModuleIsLeftAlone)
{
    StartHookEngine();
    void** table = new void* [4] { nullptr, nullptr, reinterpret_cast<void*>(0x1234), nullptr };
    EXPECT_EQ(InterceptVirtualMethod(table, 2, reinterpret_cast<void*>(&ReplacementSides)),
              reinterpret_cast<void*>(0x1234));
    EXPECT_EQ(table[2], reinterpret_cast<void*>(0x1234));
    EXPECT_EQ(HookedMethodCount(), 1);
    ShutdownHookEngine();
    EXPECT_EQ(table[2], reinterpret_cast<void*>(0x1234));
    delete[] table;
}

} // namespace
