#include "avi/output_file.h"

#include <sys/stat.h>

namespace avi {

std::string ReplaceRefusal(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    if (S_ISREG(st.st_mode)) return {};
    if (S_ISDIR(st.st_mode)) return "it is a folder";
    if (S_ISFIFO(st.st_mode)) return "it is a pipe (FIFO)";
    if (S_ISSOCK(st.st_mode)) return "it is a socket";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "it is a device";
    return "it is not a regular file";
}

} // namespace avi
