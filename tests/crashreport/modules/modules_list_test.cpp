// The modules list: kinds, versions, sizes, dates, sorted by handle.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "crashreport/modules/module_identity_info.h"
#include "crashreport/modules/modules_list.h"
#include "crashreport/modules/stored_data_format.h"

namespace {

using namespace crashreport;

const TTavrelModuleInfo* FindByName(const std::string& part)
{
    for (int i = 0; i < ModulesList().Count(); ++i)
        if (ModulesList().Item(i)->FileName.find(part) != std::string::npos) return ModulesList().Item(i);
    return nullptr;
}

TEST(ModulesList, RefreshListsTheLoadedModulesSortedByHandle)
{
    RefreshModulesList();
    const auto& list = ModulesList();
    ASSERT_GE(list.Count(), 3);
    for (int i = 1; i < list.Count(); ++i) EXPECT_LT(list.Item(i - 1)->Handle, list.Item(i)->Handle);
    // Built during enumeration: not classified yet, no debug data read.
    const TTavrelModuleInfo* self = FindByName("modules_list_test");
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(self->ModuleKind, mkUnclassified);
    EXPECT_FALSE(self->DebugData);
}

TEST(ModulesList, RecordsInFullGiveKindsVersionsSizesAndDates)
{
    RefreshModulesList();
    TTavrelModuleInfo* self = FindModuleInfoByAddr(reinterpret_cast<const void*>(&FindByName));
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(self->ModuleKind, mkProgram);
    EXPECT_EQ(self->Version, "5.1.5.7");
    EXPECT_EQ(self->Description, "Modules list tests");
    EXPECT_EQ(self->DebugVersion, stored::kCurrentVersion); // as the tool wrote it: 516
    EXPECT_GT(self->CompilationDate, 40000.0);              // a day count of this century
    EXPECT_TRUE(self->DebugData);
    EXPECT_EQ(self->NamesReadable, 1);
    struct stat st {};
    ASSERT_EQ(stat(self->FileName.c_str(), &st), 0);
    EXPECT_EQ(self->FileSize, std::uint32_t(st.st_size));
    EXPECT_GT(self->LastModified, 40000.0);
    EXPECT_EQ(GetModulePath(*self) + "/modules_list_test", self->FileName);

    const TTavrelModuleInfo* listed = FindByName("libstdc++");
    ASSERT_NE(listed, nullptr);
    TTavrelModuleInfo* runtime = FindModuleInfo(listed->Handle);
    ASSERT_NE(runtime, nullptr);
    EXPECT_EQ(runtime->ModuleKind, mkRuntimePackage);
    EXPECT_EQ(runtime->Version, "6.0.30.0"); // libstdc++.so.6.0.30
    EXPECT_TRUE(runtime->Description.empty());
    EXPECT_GT(runtime->Functions.Count(), 1000);
    EXPECT_FALSE(runtime->DebugData);
    EXPECT_EQ(runtime->DebugVersion, 515); // no stored data: the reporter's own version
    EXPECT_EQ(runtime->CompilationDate, 0.0);
    for (int i = 1; i < runtime->Functions.Count(); ++i)
        ASSERT_LE(runtime->Functions.Item(i - 1)->Address, runtime->Functions.Item(i)->Address);

    const TTavrelModuleInfo* libc = FindByName("libc.so");
    ASSERT_NE(libc, nullptr);
    // The enumeration's record is replaced by a full one: only its handle is kept.
    const std::uintptr_t libcHandle = libc->Handle;
    EXPECT_EQ(FindModuleInfo(libcHandle)->ModuleKind, mkLibrary);
    EXPECT_EQ(GetModuleKind(libcHandle), mkLibrary);
    EXPECT_EQ(FindModuleInfo(libcHandle)->Version, "6.0.0.0");
}

TEST(ModulesList, AModuleWhoseFileChangedIsDroppedAndReadAgain)
{
    RefreshModulesList();
    const TTavrelModuleInfo* self = FindByName("modules_list_test");
    ASSERT_NE(self, nullptr);
    const std::string file = self->FileName;
    const double listed = self->LastModified;
    EXPECT_EQ(DropChangedModules(), 0);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    // The file gets a newer time stamp, as when it is replaced on disk.
    timespec times[2] = {st.st_atim, st.st_mtim};
    times[1].tv_sec += 10;
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    EXPECT_EQ(DropChangedModules(), 1);
    EXPECT_EQ(FindByName("modules_list_test"), nullptr);
    RefreshModulesList();
    self = FindByName("modules_list_test");
    ASSERT_NE(self, nullptr);
    EXPECT_GT(self->LastModified, listed);
    times[1].tv_sec -= 10;
    utimensat(AT_FDCWD, file.c_str(), times, 0);
}

TEST(ModulesList, VersionsFromFileNames)
{
    EXPECT_EQ(GetVersionInfo("/nonexistent/libfoo.so.1.2.3.4.5").Version, "1.2.3.4");
    EXPECT_EQ(GetVersionInfo("/nonexistent/libfoo.so.2").Version, "2.0.0.0");
    EXPECT_EQ(GetVersionInfo("/nonexistent/libfoo.so").Version, "");
    EXPECT_EQ(GetVersionInfo("/nonexistent/libfoo.so.0.0").Version, ""); // 0.0.0.0 is no version
}

TEST(ModulesList, UnreadableHeadersHaveNoKind)
{
    EXPECT_EQ(GetModuleKind(0x1000), mkUnclassified);
    EXPECT_EQ(FindModuleInfoByAddr(reinterpret_cast<const void*>(std::uintptr_t(0x20))), nullptr);
}

} // namespace
