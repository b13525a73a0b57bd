#pragma once
// Listing a folder's files and moving a file without replacing another.
// Not signal-safe (they allocate).
#include <string>
#include <vector>

namespace kernel {

// The names (without folder) of the regular files in `folder`; empty when
// it cannot be read.
std::vector<std::string> ListFolderFiles(const std::string& folder);

// Renames `from` to `to` when nothing is at `to`; false (and both left as
// they are) otherwise. Works across folders of one file system only.
bool MoveFileNoReplace(const std::string& from, const std::string& to);

// Makes a new folder readable by the owner only, named `prefix` followed by
// six random characters; empty when it could not be made.
std::string CreateUniqueFolder(const std::string& prefix);

// Removes the folder when it is empty; false otherwise.
bool RemoveEmptyFolder(const std::string& folder);

} // namespace kernel
