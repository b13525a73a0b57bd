#include "platform/kernel/replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <random>

namespace kernel {
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

int TReplacingFile::Create(const std::string& destination, mode_t mode)
{
    Discard();
    const size_t slash = destination.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : destination.substr(0, slash + 1);
    const std::string name = destination.substr(folder.size());
    if (name.size() > NAME_MAX) return ENAMETOOLONG;
    if (name.empty()) return EISDIR;
    // The temporary name keeps the start of the destination's name, short
    // enough that the tag always fits.
    const std::string stem = folder + name.substr(0, 200) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = stem + RandomTag() + ".part";
        TUniqueFd fd(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
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
        fd_ = std::move(fd);
        destination_ = destination;
        temporary_ = candidate;
        device_ = st.st_dev;
        inode_ = st.st_ino;
        return 0;
    }
    return EEXIST;
}

int TReplacingFile::Commit()
{
    if (!Active()) return ENOENT;
    int error = 0;
    if (!fd_.Close())
        error = errno ? errno : EIO;
    else if (::rename(temporary_.c_str(), destination_.c_str()) != 0)
        error = errno;
    if (error == 0) {
        temporary_.clear();
        return 0;
    }
    Discard();
    return error;
}

void TReplacingFile::Discard()
{
    fd_.Reset();
    if (!Active()) return;
    struct stat st {};
    if (::lstat(temporary_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_)
        ::unlink(temporary_.c_str());
    temporary_.clear();
}

} // namespace kernel
