// The named shared memory stand-in: creation, reopening, growth, and removal
// with the last owner of this process.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/kernel/shared_memory.h"

using kernel::TSharedMemory;

namespace {

std::string UniqueName(const char* what) { return std::string("vektest-") + what + "-" + std::to_string(getpid()); }

bool Exists(const std::string& name) { return std::filesystem::exists("/dev/shm/" + name); }

} // namespace

TEST(SharedMemory, CreateOpenGrowAndRemoveWithTheLastOwner)
{
    const std::string name = UniqueName("grow");
    bool existed = true;
    auto a = TSharedMemory::CreateOrOpen(name, 100, &existed);
    ASSERT_TRUE(a);
    EXPECT_FALSE(existed);
    EXPECT_GE(a->Size(), 100u);
    std::memcpy(a->Data(), "shared", 6);

    auto b = TSharedMemory::CreateOrOpen(name, 5000, &existed);
    ASSERT_TRUE(b);
    EXPECT_TRUE(existed);
    EXPECT_EQ(b->Size(), 5000u);
    EXPECT_EQ(std::memcmp(b->Data(), "shared", 6), 0);

    auto small = TSharedMemory::CreateOrOpen(name, 10);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->Size(), 5000u) << "an existing block is never shrunk";

    auto reader = TSharedMemory::OpenExisting(name);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->Size(), 5000u);

    a.reset();
    b.reset();
    small.reset();
    EXPECT_TRUE(Exists(name));
    reader.reset();
    EXPECT_FALSE(Exists(name));
    EXPECT_FALSE(TSharedMemory::OpenExisting(name));
}

TEST(SharedMemory, BlocksOfOtherProcessesAreNotRemoved)
{
    const std::string name = UniqueName("foreign");
    const pid_t child = fork();
    if (child == 0) {
        auto block = TSharedMemory::CreateOrOpen(name, 16);
        if (block) std::memcpy(block->Data(), "child", 5);
        // Leave without running destructors: the block stays, as a block
        // of a process that still runs would.
        _exit(block ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    {
        auto block = TSharedMemory::OpenExisting(name);
        ASSERT_TRUE(block);
        EXPECT_EQ(std::memcmp(block->Data(), "child", 5), 0);
        auto again = TSharedMemory::CreateOrOpen(name, 16);
        ASSERT_TRUE(again);
    }
    EXPECT_TRUE(Exists(name));
    EXPECT_TRUE(TSharedMemory::Remove(name));
    EXPECT_FALSE(Exists(name));
}

TEST(SharedMemory, BadNamesAndSizesAreRefused)
{
    EXPECT_FALSE(TSharedMemory::CreateOrOpen("", 10));
    EXPECT_FALSE(TSharedMemory::CreateOrOpen("a/b", 10));
    EXPECT_FALSE(TSharedMemory::CreateOrOpen(std::string(300, 'x'), 10));
    EXPECT_FALSE(TSharedMemory::CreateOrOpen(UniqueName("zero"), 0));
    EXPECT_FALSE(TSharedMemory::OpenExisting(UniqueName("absent")));
    EXPECT_FALSE(TSharedMemory::Remove(UniqueName("absent")));
}

TEST(SharedMemory, MovingKeepsOneOwner)
{
    const std::string name = UniqueName("move");
    auto a = TSharedMemory::CreateOrOpen(name, 8);
    ASSERT_TRUE(a);
    TSharedMemory moved = std::move(*a);
    a.reset();
    EXPECT_TRUE(Exists(name));
    EXPECT_TRUE(moved.IsOpen());
    moved.Close();
    EXPECT_FALSE(Exists(name));
}
