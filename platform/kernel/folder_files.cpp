#include "platform/kernel/folder_files.h"

#include "platform/kernel/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>

namespace kernel {

std::vector<std::string> ListFolderFiles(const std::string& folder)
{
    std::vector<std::string> names;
    const std::unique_ptr<DIR, int (*)(DIR*)> owner(opendir(folder.c_str()), &closedir);
    DIR* dir = owner.get();
    if (!dir) return names;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat info;
        if (fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
            names.push_back(name);
    }
    return names;
}

bool MoveFileNoReplace(const std::string& from, const std::string& to)
{
    return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

std::string CreateUniqueFolder(const std::string& prefix)
{
    std::string pattern = prefix + "XXXXXX";
    if (!mkdtemp(pattern.data())) return std::string();
    // mkdtemp's 0700 is narrowed by the creation mask; the owner keeps all rights.
    if (fchmodat(AT_FDCWD, pattern.c_str(), kOwnerOnlyFolderMode, AT_SYMLINK_NOFOLLOW) != 0) {
        rmdir(pattern.c_str());
        return std::string();
    }
    return pattern;
}

bool RemoveEmptyFolder(const std::string& folder) { return rmdir(folder.c_str()) == 0; }

} // namespace kernel
