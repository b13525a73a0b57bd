// Memory queries, protection changes and the module list.
#include "platform/kernel/memory.h"
#include "platform/kernel/modules.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>

using namespace kernel;

namespace {

TEST(KernelMemory, ReadabilityAndProtection)
{
    const std::size_t page = PageSize();
    auto* p = static_cast<char*>(mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(p, MAP_FAILED);
    ASSERT_TRUE(ProtectMemory(p + page, page, PROT_NONE));
    EXPECT_TRUE(IsMemoryReadable(p, page));
    EXPECT_FALSE(IsMemoryReadable(p + page, 1));
    EXPECT_FALSE(IsMemoryReadable(p + page - 4, 8)) << "a range that runs into an unreadable page";
    EXPECT_TRUE(IsMemoryReadable(p + 2 * page, page));
    EXPECT_FALSE(IsMemoryReadable(nullptr, 1));
    EXPECT_TRUE(IsMemoryReadable(nullptr, 0));

    TMemoryRegion region;
    ASSERT_TRUE(QueryMemory(p + page, region, true));
    EXPECT_EQ(region.Protection, PROT_NONE);
    EXPECT_EQ(region.Start, reinterpret_cast<std::uintptr_t>(p + page));
    ASSERT_TRUE(QueryMemory(p, region, true));
    EXPECT_EQ(region.Protection, PROT_READ | PROT_WRITE);
    munmap(p, 3 * page);
    EXPECT_FALSE(QueryMemory(p + page, region, true));

    ASSERT_TRUE(QueryMemory(reinterpret_cast<void*>(&IsMemoryReadable), region));
    EXPECT_TRUE(region.Protection & PROT_EXEC);
}

// Within one reading of the map, a mapping made or removed through the
// kernel layer is read again: a page that took the place of another never
// answers with the old page's protection.
TEST(KernelMemory, OneReadingSeesMappingsMadeAndRemovedMeanwhile)
{
    const std::size_t page = PageSize();
    TMemoryMapReading reading;
    void* first = AllocateMemory(0, page, kProtectRead | kProtectWrite);
    ASSERT_NE(first, nullptr);
    TMemoryRegion region;
    ASSERT_TRUE(QueryMemory(first, region, true));
    EXPECT_EQ(region.Protection, PROT_READ | PROT_WRITE);
    const auto at = reinterpret_cast<std::uintptr_t>(first);
    ASSERT_TRUE(FreeMemory(first, page));
    EXPECT_FALSE(QueryMemory(first, region, true));
    void* second = AllocateMemory(at, page, kProtectRead | kProtectExecute);
    ASSERT_EQ(second, first);
    ASSERT_TRUE(QueryMemory(second, region, true));
    EXPECT_EQ(region.Protection, PROT_READ | PROT_EXEC);
    FreeMemory(second, page);
}

TEST(KernelModules, ListAndLookUp)
{
    const auto modules = EnumerateModules();
    ASSERT_GE(modules.size(), 2u);
    EXPECT_TRUE(modules.front().IsMainExecutable);
    EXPECT_EQ(modules.front().Path, MainExecutablePath());

    TModuleImage m;
    ASSERT_TRUE(FindModuleByAddress(reinterpret_cast<void*>(&EnumerateModules), m));
    EXPECT_TRUE(m.IsMainExecutable);
    EXPECT_EQ(std::memcmp(reinterpret_cast<void*>(m.Handle),
                          "\x7F"
                          "ELF",
                          4),
              0)
        << "the handle is the ELF header";
    EXPECT_TRUE(m.Contains(reinterpret_cast<void*>(&EnumerateModules)));
    EXPECT_NE(m.Dynamic(), nullptr);

    ASSERT_TRUE(FindModuleByName("libc.so.6", m));
    EXPECT_FALSE(m.IsMainExecutable);
    EXPECT_EQ(GetModuleFileName(m.Handle), m.Path);
    TModuleImage byHandle;
    EXPECT_TRUE(FindModuleByHandle(m.Handle, byHandle));
    EXPECT_EQ(byHandle.Path, m.Path);
    EXPECT_FALSE(FindModuleByName("libno-such-module.so", m));
    EXPECT_TRUE(AnyModuleFileNameStartsWith("libc.so"));
    EXPECT_FALSE(AnyModuleFileNameStartsWith("libc.so.6/")) << "a whole name is not a prefix of more";
    EXPECT_FALSE(AnyModuleFileNameStartsWith("libno-such-module"));
    int onStack = 0;
    EXPECT_FALSE(FindModuleByAddress(&onStack, m));
}

} // namespace
