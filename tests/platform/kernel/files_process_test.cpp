// Files and folders, symbol lookups, memory allocation and the process's
// environment through the kernel layer.
#include "platform/kernel/files.h"
#include "platform/kernel/libraries.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace kernel;

namespace {

class KernelFiles : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& text)
    {
        TUniqueFd fd = OpenFile(folder_ + name, TFileOpen::foCreate);
        EXPECT_TRUE(fd.Valid());
        EXPECT_EQ(WriteFile(fd.Get(), text.data(), text.size()), std::ptrdiff_t(text.size()));
        return folder_ + name;
    }
    std::string Read(const std::string& path)
    {
        TUniqueFd fd = OpenFile(path, TFileOpen::foRead);
        std::string text(64, '\0');
        const std::ptrdiff_t n = fd.Valid() ? ReadFile(fd.Get(), text.data(), text.size()) : -1;
        return n < 0 ? "<unreadable>" : text.substr(0, std::size_t(n));
    }

    testing_support::TempDir dir_;
    const std::string folder_ = dir_.path() + "/";
};

TEST_F(KernelFiles, OpenModesCreateTruncateOrKeep)
{
    errno = 0;
    EXPECT_FALSE(OpenFile(folder_ + "missing", TFileOpen::foRead).Valid());
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(OpenFile(folder_ + "missing", TFileOpen::foReadWrite).Valid());

    const std::string path = Write("a.txt", "hello world");
    {
        TUniqueFd fd = OpenFile(path, TFileOpen::foOpenAlways); // existing: kept
        ASSERT_TRUE(fd.Valid());
        EXPECT_EQ(GetFileSize(fd.Get()), 11u);
        EXPECT_EQ(SeekFile(fd.Get(), 6, TSeekFrom::sfBeginning), 6);
        EXPECT_EQ(WriteFile(fd.Get(), "there", 5), 5);
        EXPECT_EQ(SeekFile(fd.Get(), -2, TSeekFrom::sfEnd), 9);
        EXPECT_EQ(SeekFile(fd.Get(), 1, TSeekFrom::sfCurrent), 10);
    }
    EXPECT_EQ(Read(path), "hello there");
    EXPECT_TRUE(OpenFile(folder_ + "new.txt", TFileOpen::foOpenAlways).Valid());
    EXPECT_TRUE(FileExists(folder_ + "new.txt")) << "created when missing";
    Write("a.txt", "x");
    EXPECT_EQ(Read(path), "x") << "foCreate empties an existing file";
}

TEST_F(KernelFiles, OnlyRegularFilesAreOpenedForReading)
{
    const std::string path = Write("plain", "abc");
    TUniqueFd file = OpenRegularFileForReading(path);
    ASSERT_TRUE(file.Valid());
    char buffer[8];
    EXPECT_EQ(ReadFile(file.Get(), buffer, sizeof buffer), 3);

    errno = 0;
    EXPECT_FALSE(OpenRegularFileForReading(folder_).Valid());
    EXPECT_EQ(errno, EISDIR);
    // A FIFO without a writer: refused at once instead of waiting for one.
    ASSERT_EQ(::mkfifo((folder_ + "fifo").c_str(), 0600), 0);
    errno = 0;
    EXPECT_FALSE(OpenRegularFileForReading(folder_ + "fifo").Valid());
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_FALSE(OpenRegularFileForReading(folder_ + "missing").Valid());
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(KernelFiles, InformationFoldersRenamesAndRealPaths)
{
    const std::string path = Write("info", "12345");
    const auto info = GetFileInfo(path);
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->IsRegular);
    EXPECT_FALSE(info->IsFolder);
    EXPECT_EQ(info->Size, 5u);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(info->LastWriteSeconds, st.st_mtim.tv_sec);
    EXPECT_EQ(info->LastWriteNanoseconds, st.st_mtim.tv_nsec);
    EXPECT_FALSE(GetFileInfo(folder_ + "missing"));

    EXPECT_TRUE(CreateFolder(folder_ + "sub"));
    EXPECT_TRUE(CreateFolder(folder_ + "sub")) << "an existing folder counts";
    EXPECT_TRUE(GetFileInfo(folder_ + "sub")->IsFolder);
    EXPECT_FALSE(CreateFolder(path)) << "a file is in the way";
    EXPECT_FALSE(CreateFolder(folder_ + "no/such/parent"));

    const std::string other = Write("other", "new");
    EXPECT_TRUE(MoveFile(other, path));
    EXPECT_EQ(Read(path), "new");
    EXPECT_FALSE(FileExists(other));
    EXPECT_TRUE(DeleteFile(path));
    EXPECT_FALSE(DeleteFile(path));

    const std::string target = Write("target.so.1.2", "");
    ASSERT_EQ(::symlink(target.c_str(), (folder_ + "sub/link.so").c_str()), 0);
    EXPECT_EQ(GetRealPath(folder_ + "sub/../sub/link.so"), GetRealPath(target));
    EXPECT_EQ(std::filesystem::path(*GetRealPath(target)).filename(), "target.so.1.2");
    EXPECT_FALSE(GetRealPath(folder_ + "missing"));

    std::string pattern = folder_ + "unique.XXXXXX";
    TUniqueFd unique = CreateUniqueFile(pattern);
    ASSERT_TRUE(unique.Valid());
    EXPECT_EQ(pattern.find("XXXXXX"), std::string::npos);
    EXPECT_TRUE(FileExists(pattern));
}

TEST(KernelLibraries, ExportsOfAModuleAreItsOwnDefinitions)
{
    TModuleImage libc;
    ASSERT_TRUE(FindModuleByName("libc.so.6", libc));
    void* own = GetProcAddress(libc.Handle, "malloc");
    ASSERT_NE(own, nullptr);
    EXPECT_TRUE(libc.Contains(own));
    TModuleImage program;
    ASSERT_TRUE(FindModuleByName("", program));
    EXPECT_EQ(GetProcAddress(program.Handle, "malloc"), nullptr) << "found only in a dependency";
    EXPECT_EQ(GetProcAddress(libc.Handle, "no_such_function_anywhere"), nullptr);
    EXPECT_EQ(GetProcAddress(1, "malloc"), nullptr) << "not a module handle";

    EXPECT_EQ(FindLibrarySymbol("libc.so.6", "getpid"), FindGlobalSymbol("getpid"));
    EXPECT_EQ(FindLibrarySymbol("libnot-loaded-here.so.9", "getpid"), nullptr) << "nothing is loaded";
    EXPECT_EQ(FindGlobalSymbol("no_such_function_anywhere"), nullptr);

    const std::uintptr_t vdso = VdsoHandle();
    ASSERT_NE(vdso, 0u);
    TMemoryRegion region;
    ASSERT_TRUE(QueryMemory(reinterpret_cast<void*>(vdso), region, true));
    EXPECT_STREQ(region.Name, "[vdso]");
}

TEST(KernelMemory, AllocationAnywhereOrAtAFreeAddressOnly)
{
    const std::size_t size = 4 * PageSize();
    void* p = AllocateMemory(0, size, kProtectRead | kProtectWrite);
    ASSERT_NE(p, nullptr);
    static_cast<char*>(p)[size - 1] = 7;
    EXPECT_EQ(AllocateMemory(reinterpret_cast<std::uintptr_t>(p), size, kProtectRead), nullptr) << "the range is taken";
    ASSERT_TRUE(FreeMemory(p, size));
    void* again = AllocateMemory(reinterpret_cast<std::uintptr_t>(p), size, kProtectRead);
    EXPECT_EQ(again, p) << "free again: placed exactly there";
    TMemoryRegion region;
    ASSERT_TRUE(QueryMemory(again, region, true));
    EXPECT_EQ(region.Protection, kProtectRead);
    EXPECT_EQ(static_cast<char*>(again)[size - 1], 0) << "fresh memory is zero-filled";
    EXPECT_TRUE(FreeMemory(again, size));
}

TEST(KernelProcess, EnvironmentTellsUnsetFromEmpty)
{
    ::unsetenv("KERNEL_TEST_VARIABLE");
    EXPECT_FALSE(GetEnvironmentVariable("KERNEL_TEST_VARIABLE"));
    ::setenv("KERNEL_TEST_VARIABLE", "", 1);
    EXPECT_EQ(GetEnvironmentVariable("KERNEL_TEST_VARIABLE"), "");
    ::setenv("KERNEL_TEST_VARIABLE", "value", 1);
    EXPECT_EQ(GetEnvironmentVariable("KERNEL_TEST_VARIABLE"), "value");
    ::unsetenv("KERNEL_TEST_VARIABLE");
    EXPECT_EQ(GetCurrentProcessId(), std::uint32_t(::getpid()));
    EXPECT_FALSE(GetComputerName().empty());
}

} // namespace
