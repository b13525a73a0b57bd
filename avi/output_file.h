#pragma once
// What the recorder may replace: its output is written under a temporary
// name and renamed over the destination only when complete, and only a
// regular file is ever replaced.
#include <string>

namespace avi {

// Why a file at path may not be replaced: "" when nothing is there or it is
// a regular file (also through a symbolic link), else the reason in words
// ("it is a folder", "it is a device", ...).
std::string ReplaceRefusal(const std::string& path);

} // namespace avi
