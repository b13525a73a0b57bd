// What the kernel layer creates is private to the user whatever the
// creation mask, what exists keeps its mode, and a symbolic link planted at
// a path is never followed to make, empty or write a file elsewhere.
#include "platform/kernel/file_lock.h"
#include "platform/kernel/files.h"
#include "platform/kernel/folder_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

using namespace kernel;

namespace {

unsigned ModeOf(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 01000000;
}

// Sets the creation mask for one scope.
class TMaskScope {
public:
    explicit TMaskScope(mode_t mask) : previous_(::umask(mask)) {}
    ~TMaskScope() { ::umask(previous_); }

private:
    mode_t previous_;
};

TEST(KernelPrivateFiles, WhatIsMadeIsOwnerOnlyWhateverTheMask)
{
    struct TMaker {
        const char* What;
        unsigned Mode;
        std::function<std::string(const std::string& folder)> Make; // the path made
    };
    const TMaker makers[] = {
        {"foCreate", 0600,
         [](const std::string& f) { return OpenFile(f + "/c", TFileOpen::foCreate).Valid() ? f + "/c" : ""; }},
        {"foOpenAlways", 0600,
         [](const std::string& f) { return OpenFile(f + "/o", TFileOpen::foOpenAlways).Valid() ? f + "/o" : ""; }},
        {"CreateUniqueFile", 0600,
         [](const std::string& f) {
             std::string pattern = f + "/u.XXXXXX";
             return CreateUniqueFile(pattern).Valid() ? pattern : "";
         }},
        {"TFileLock", 0600,
         [](const std::string& f) {
             TFileLock lock;
             return lock.Lock(f + "/l.lock", 1000) ? f + "/l.lock" : "";
         }},
        {"CreateFolder", 0700, [](const std::string& f) { return CreateFolder(f + "/d") ? f + "/d" : ""; }},
        {"CreateOwnFolder", 0700, [](const std::string& f) { return CreateOwnFolder(f + "/od") ? f + "/od" : ""; }},
        {"CreateUniqueFolder", 0700, [](const std::string& f) { return CreateUniqueFolder(f + "/t."); }},
    };
    for (const mode_t mask : {0000, 0022, 0277, 0477}) {
        testing_support::TempDir dir;
        const TMaskScope scope(mask);
        for (const TMaker& maker : makers) {
            const std::string path = maker.Make(dir.path());
            ASSERT_FALSE(path.empty()) << maker.What << " mask " << std::oct << mask;
            EXPECT_EQ(ModeOf(path), maker.Mode) << maker.What << " mask " << std::oct << mask;
        }
    }
}

TEST(KernelPrivateFiles, AFileThatExistsKeepsItsMode)
{
    testing_support::TempDir dir;
    const TMaskScope scope(0);
    const std::string path = dir / "shared.txt";
    for (const TFileOpen how : {TFileOpen::foCreate, TFileOpen::foOpenAlways}) {
        ASSERT_TRUE(OpenFile(path, TFileOpen::foCreate).Valid());
        ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
        EXPECT_TRUE(OpenFile(path, how).Valid());
        EXPECT_EQ(ModeOf(path), 0644u);
    }
    TFileLock lock;
    ASSERT_TRUE(lock.Lock(path, 1000));
    EXPECT_EQ(ModeOf(path), 0644u);
}

TEST(KernelPrivateFiles, APlantedLinkIsNotFollowedToMakeOrEmptyItsTarget)
{
    testing_support::TempDir dir, elsewhere;
    const std::string missing = elsewhere / "made-through-a-link";
    const std::string existing = elsewhere / "kept";
    testing_support::WriteFile(existing, "precious");
    ASSERT_EQ(::symlink(missing.c_str(), (dir / "dangling").c_str()), 0);
    ASSERT_EQ(::symlink(existing.c_str(), (dir / "pointing").c_str()), 0);

    // A dangling link: no creating mode makes its target.
    EXPECT_FALSE(OpenFile(dir / "dangling", TFileOpen::foCreate).Valid());
    EXPECT_FALSE(OpenFile(dir / "dangling", TFileOpen::foOpenAlways).Valid());
    TFileLock lock;
    EXPECT_FALSE(lock.Lock(dir / "dangling", 1000));
    EXPECT_FALSE(kernel::FileExists(missing));

    // A link to a file: refused where links are refused, the file untouched.
    errno = 0;
    EXPECT_FALSE(OpenFile(dir / "pointing", TFileOpen::foCreate, TLinkRule::lpRefuseLink).Valid());
    EXPECT_EQ(errno, ELOOP);
    errno = 0;
    EXPECT_FALSE(lock.Lock(dir / "pointing", 1000));
    EXPECT_EQ(errno, ELOOP);
    EXPECT_EQ(testing_support::ReadFile(existing), "precious");

    // A link in place of a folder of one's own.
    ASSERT_EQ(::symlink(elsewhere.path().c_str(), (dir / "folder-link").c_str()), 0);
    errno = 0;
    EXPECT_FALSE(CreateOwnFolder(dir / "folder-link"));
    EXPECT_EQ(errno, ELOOP);
    EXPECT_TRUE(CreateOwnFolder(dir / "real"));
    EXPECT_TRUE(CreateOwnFolder(dir / "real")) << "found as a folder of this user";
    EXPECT_FALSE(CreateOwnFolder(existing)) << "a file is in the way";
}

TEST(KernelPrivateFiles, AnotherUsersLinkOrFolderIsForeign)
{
    testing_support::TempDir dir;
    ASSERT_EQ(::symlink("/etc/hostname", (dir / "own").c_str()), 0);
    EXPECT_FALSE(IsForeignSymbolicLink(dir / "own"));
    EXPECT_FALSE(IsForeignSymbolicLink(dir.path())) << "not a link";
    EXPECT_FALSE(IsForeignSymbolicLink(dir / "missing"));
    if (::geteuid() != 0) GTEST_SKIP() << "making another user's link needs root";
    ASSERT_EQ(::symlink("/etc/hostname", (dir / "theirs").c_str()), 0);
    ASSERT_EQ(::lchown((dir / "theirs").c_str(), 65534, 65534), 0);
    EXPECT_TRUE(IsForeignSymbolicLink(dir / "theirs"));
    ASSERT_TRUE(CreateFolder(dir / "their-folder"));
    ASSERT_EQ(::chown((dir / "their-folder").c_str(), 65534, 65534), 0);
    errno = 0;
    EXPECT_FALSE(CreateOwnFolder(dir / "their-folder"));
    EXPECT_EQ(errno, EPERM);
}

} // namespace
