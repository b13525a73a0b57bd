// Call recognition on prepared code bytes in an executable page.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <initializer_list>
#include <vector>

#include "crashreport/stack/call_recognizer.h"
#include "crashreport/stack/stack_scan.h"

namespace {

using namespace crashreport;

class TCodePage {
public:
    TCodePage()
    {
        size_ = std::size_t(sysconf(_SC_PAGESIZE));
        base_ = static_cast<std::uint8_t*>(
            mmap(nullptr, size_, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (base_ != MAP_FAILED) std::memset(base_, 0x90, size_); // nop
    }
    ~TCodePage()
    {
        if (base_ != MAP_FAILED) munmap(base_, size_);
    }
    bool Ok() const { return base_ != MAP_FAILED; }
    std::uint8_t* At(std::size_t offset) const { return base_ + offset; }
    std::uintptr_t Address(std::size_t offset) const { return reinterpret_cast<std::uintptr_t>(base_ + offset); }
    // Writes the bytes at offset and returns the address behind them.
    std::uintptr_t Put(std::size_t offset, std::initializer_list<std::uint8_t> bytes)
    {
        std::size_t i = offset;
        for (auto b : bytes) base_[i++] = b;
        return Address(i);
    }

private:
    std::uint8_t* base_;
    std::size_t size_;
};

void PutInt32(std::uint8_t* at, std::int32_t v) { std::memcpy(at, &v, 4); }

TEST(CallRecognizer, RecognisesTheCallEncodings)
{
    TCodePage code;
    ASSERT_TRUE(code.Ok());
    struct TCase {
        std::initializer_list<std::uint8_t> Bytes;
        std::size_t SiteBack; // call length
    };
    const TCase cases[] = {
        {{0xFF, 0xD0}, 2},                         // call rax
        {{0x41, 0xFF, 0xD3}, 3},                   // call r11
        {{0xFF, 0x10}, 2},                         // call [rax]
        {{0x41, 0xFF, 0x17}, 3},                   // call [r15]
        {{0xFF, 0x50, 0x18}, 3},                   // call [rax+0x18]
        {{0x49, 0xFF, 0x55, 0x08}, 4},             // call [r13+8]
        {{0xFF, 0x90, 0x00, 0x01, 0x00, 0x00}, 6}, // call [rax+0x100]
        {{0xFF, 0x14, 0x24}, 3},                   // call [rsp]
        {{0xFF, 0x54, 0x24, 0x10}, 4},             // call [rsp+0x10]
        {{0xFF, 0x94, 0x24, 0x00, 0x02, 0x00, 0x00}, 7},
    };
    std::size_t offset = 64;
    for (const auto& c : cases) {
        const std::uintptr_t v = code.Put(offset, c.Bytes);
        TRecognizedCall call;
        ASSERT_TRUE(RecognizeCall(v, false, call)) << offset;
        EXPECT_EQ(call.Site, v - c.SiteBack) << offset;
        offset += 32;
    }
    // RIP-relative call through a readable pointer cell.
    const std::uintptr_t v = code.Put(offset, {0xFF, 0x15, 0, 0, 0, 0});
    PutInt32(code.At(offset + 2), std::int32_t(code.Address(1024) - v));
    TRecognizedCall call;
    ASSERT_TRUE(RecognizeCall(v, false, call));
    EXPECT_EQ(call.Site, v - 6);
}

TEST(CallRecognizer, ArbitraryBytesAreNoCall)
{
    TCodePage code;
    ASSERT_TRUE(code.Ok());
    const std::uintptr_t v = code.Put(100, {0x48, 0x89, 0xE5, 0x31, 0xC0, 0xC3, 0x55});
    TRecognizedCall call;
    EXPECT_FALSE(RecognizeCall(v, true, call));
    // A direct call whose target is not mapped is no call either.
    const std::uintptr_t w = code.Put(200, {0xE8, 0, 0, 0, 0});
    PutInt32(code.At(201), std::int32_t(0x7FFFFFF0));
    EXPECT_FALSE(RecognizeCall(w, true, call));
    EXPECT_FALSE(RecognizeCall(0, true, call));
}

TEST(CallRecognizer, DirectCallThroughImportThunkAddsTargetAndSite)
{
    TCodePage code;
    ASSERT_TRUE(code.Ok());
    // The function the thunk leads to, and its pointer cell.
    const std::uintptr_t function = code.Address(2048);
    code.Put(2048, {0x55, 0x48, 0x89, 0xE5, 0xC3});
    std::memcpy(code.At(1536), &function, sizeof function);
    // Thunk: endbr64; bnd jmp [rip + cell]
    const std::uintptr_t thunkEnd = code.Put(1024, {0xF3, 0x0F, 0x1E, 0xFA, 0xF2, 0xFF, 0x25, 0, 0, 0, 0});
    PutInt32(code.At(1024 + 7), std::int32_t(code.Address(1536) - thunkEnd));
    EXPECT_EQ(FollowJumpThunk(code.Address(1024)), function);
    // The call site: call thunk.
    const std::uintptr_t v = code.Put(300, {0xE8, 0, 0, 0, 0});
    PutInt32(code.At(301), std::int32_t(code.Address(1024) - v));

    TRecognizedCall call;
    ASSERT_TRUE(RecognizeCall(v, true, call));
    EXPECT_EQ(call.Site, v - 5);
    EXPECT_TRUE(call.TargetIsEntry);
    EXPECT_EQ(call.Target, function);

    // On a stack: the target first, then the call site.
    std::vector<std::uintptr_t> stack(4, 0);
    stack[1] = v;
    TTavrelStackList list;
    AddStackEntries(list, {nullptr, stack.data(), stack.data() + stack.size()},
                    {.AddCallTargets = true, .UseDebugInfo = false, .ThreadID = 1});
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(list.Item(0)->Addr), function);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(list.Item(1)->Addr), v - 5);

    // Without call targets only the site.
    TTavrelStackList sitesOnly;
    AddStackEntries(sitesOnly, {nullptr, stack.data(), stack.data() + stack.size()},
                    {.UseDebugInfo = false, .ThreadID = 1});
    EXPECT_EQ(sitesOnly.Count(), 1);
}

} // namespace
