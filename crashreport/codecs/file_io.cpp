#include "crashreport/codecs/file_io.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "crashreport/codecs/codec_error.h"
#include "crashreport/codecs/day_count.h"
#include "platform/kernel/files.h"
#include "platform/rtl/format.h"

namespace crashreport::codecs {
namespace {

[[noreturn]] void RaiseWriteError(const std::string& path, int error)
{
    throw EFWriteError(rtl::FormatStrings("Cannot write file \"%s\". %s", {path, std::strerror(error)}));
}

// Removes the temporary file unless it was renamed into place.
struct TTemporaryFile {
    std::string path;
    bool keep = false;
    ~TTemporaryFile()
    {
        if (!keep && !path.empty()) kernel::DeleteFile(path);
    }
};

} // namespace

double FileLastWriteDate(const std::string& path)
{
    const auto info = kernel::GetFileInfo(path);
    if (!info || info->IsFolder) return 0;
    int64_t ms = info->LastWriteSeconds * 1000 + info->LastWriteNanoseconds / 1'000'000;
    return UnixMillisecondsToDayCount(ms);
}

void WriteFileReplacing(const std::string& path, std::span<const uint8_t> bytes)
{
    if (path.empty() || path.back() == '/') RaiseWriteError(path, EISDIR);
    TTemporaryFile temp;
    std::string pattern = path + ".XXXXXX";
    kernel::TUniqueFd fd = kernel::CreateUniqueFile(pattern);
    if (!fd.Valid()) RaiseWriteError(path, errno);
    temp.path = pattern;
    size_t done = 0;
    while (done < bytes.size()) {
        const std::ptrdiff_t n = kernel::WriteFile(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) RaiseWriteError(path, errno);
        done += size_t(n);
    }
    if (!fd.Close()) RaiseWriteError(path, errno);
    if (!kernel::MoveFile(temp.path, path)) RaiseWriteError(path, errno);
    temp.keep = true;
}

} // namespace crashreport::codecs
