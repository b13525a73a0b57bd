#include "crashreport/delivery/codecs/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "crashreport/delivery/codecs/codec_error.h"
#include "crashreport/delivery/codecs/day_count.h"
#include "platform/kernel/unique_fd.h"
#include "platform/rtl/format.h"

namespace crashreport::codecs {
namespace {

[[noreturn]] void RaiseWriteError(const std::string& path, int error) {
    throw EFWriteError(rtl::FormatStrings("Cannot write file \"%s\". %s", {path, std::strerror(error)}));
}

// Removes the temporary file unless it was renamed into place.
struct TTemporaryFile {
    std::string path;
    bool keep = false;
    ~TTemporaryFile() {
        if (!keep && !path.empty()) ::unlink(path.c_str());
    }
};

} // namespace

double FileLastWriteDate(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return 0;
    int64_t ms = int64_t(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1'000'000;
    return UnixMillisecondsToDayCount(ms);
}

std::string ExtractFileName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void WriteFileReplacing(const std::string& path, std::span<const uint8_t> bytes) {
    if (path.empty() || path.back() == '/') RaiseWriteError(path, EISDIR);
    TTemporaryFile temp;
    std::string pattern = path + ".XXXXXX";
    kernel::TUniqueFd fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!fd.Valid()) RaiseWriteError(path, errno);
    temp.path = pattern;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseWriteError(path, errno);
        }
        done += size_t(n);
    }
    if (!fd.Close()) RaiseWriteError(path, errno);
    if (::rename(temp.path.c_str(), path.c_str()) != 0) RaiseWriteError(path, errno);
    temp.keep = true;
}

} // namespace crashreport::codecs
