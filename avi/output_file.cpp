#include "avi/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/kernel/unique_fd.h"
#include "platform/rtl/file_names.h"

namespace avi {
namespace {

// Six letters that make the temporary name unlikely to be taken.
std::string RandomTag()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device device;
    std::string tag(6, 'x');
    for (char& c : tag) c = letters[device() % (sizeof letters - 1)];
    return tag;
}

} // namespace

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

std::string WriteErrorText(int error)
{
    switch (error) {
    case 0: return {};
    case ENOSPC: return "The disk is full (" + std::string(std::strerror(error)) + ")";
    case EDQUOT: return "The disk quota is used up (" + std::string(std::strerror(error)) + ")";
    case EFBIG: return "The file reached the size limit for files (" + std::string(std::strerror(error)) + ")";
    default: return std::strerror(error);
    }
}

int TOutputFile::Create(const std::string& destination)
{
    Discard();
    const std::string name = rtl::ExtractFileName(destination);
    if (name.size() > NAME_MAX) return ENAMETOOLONG;
    if (name.empty()) return EISDIR;
    // The temporary name keeps the start of the destination's name, short
    // enough that the tag always fits.
    const std::string stem = rtl::ExtractFilePath(destination) + name.substr(0, 200) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = stem + RandomTag() + ".part";
        kernel::TUniqueFd fd(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!fd.Valid()) {
            if (errno == EEXIST) continue;
            return errno;
        }
        struct stat st {};
        if (::fstat(fd.Get(), &st) != 0) {
            const int error = errno;
            ::unlink(candidate.c_str());
            return error;
        }
        destination_ = destination;
        temporary_ = candidate;
        device_ = st.st_dev;
        inode_ = st.st_ino;
        return 0;
    }
    return EEXIST;
}

int TOutputFile::Commit()
{
    if (!Active()) return ENOENT;
    int error = 0;
    if (!ReplaceRefusal(destination_).empty())
        error = EISDIR;
    else if (::rename(temporary_.c_str(), destination_.c_str()) != 0)
        error = errno;
    if (error == 0) {
        temporary_.clear();
        return 0;
    }
    Discard();
    return error;
}

void TOutputFile::Discard()
{
    if (!Active()) return;
    struct stat st {};
    if (::lstat(temporary_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_)
        ::unlink(temporary_.c_str());
    temporary_.clear();
}

} // namespace avi
