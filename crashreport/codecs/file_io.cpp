#include "crashreport/codecs/file_io.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "crashreport/codecs/codec_error.h"
#include "crashreport/codecs/day_count.h"
#include "crashreport/codecs/stream.h"
#include "platform/kernel/file_lock.h"
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

bool ReadWholeFile(const std::string& path, std::string& bytes)
{
    bytes.clear();
    if (path.empty()) return false;
    try {
        TFileStream file(path, TFileStream::fmOpenRead);
        const std::vector<uint8_t> content = ReadAllBytes(file);
        bytes.assign(content.begin(), content.end());
        return true;
    } catch (const rtl::Exception&) {
        return false;
    }
}

void WriteFileReplacing(const std::string& path, std::span<const uint8_t> bytes, const std::string* keepPreviousAs)
{
    if (path.empty() || path.back() == '/') RaiseWriteError(path, EISDIR);
    const auto previous = kernel::GetFileInfo(path);
    TTemporaryFile temp;
    std::string pattern = path + ".XXXXXX";
    kernel::TUniqueFd fd = kernel::CreateUniqueFile(pattern);
    if (!fd.Valid()) RaiseWriteError(path, errno);
    temp.path = pattern;
    // A report file is private to its user; a file being replaced keeps the
    // mode its owner gave it.
    const unsigned mode =
        previous ? kernel::GetFileMode(path).value_or(kernel::kOwnerOnlyFileMode) : kernel::kOwnerOnlyFileMode;
    if (!kernel::WriteAll(fd.Get(), bytes.data(), bytes.size()) || !kernel::SetFileMode(fd.Get(), mode) ||
        !kernel::SyncFile(fd.Get()) || !fd.Close())
        RaiseWriteError(path, errno);
    if (keepPreviousAs && previous && !kernel::LinkFile(path, *keepPreviousAs))
        throw EFWriteError(rtl::FormatStrings("Cannot keep the previous file as \"%s\". %s",
                                              {*keepPreviousAs, std::strerror(errno)}));
    if (!kernel::MoveFile(temp.path, path)) RaiseWriteError(path, errno);
    temp.keep = true;
}

void WriteFileReplacing(const std::string& path, std::string_view text, const std::string* keepPreviousAs)
{
    WriteFileReplacing(path, {reinterpret_cast<const uint8_t*>(text.data()), text.size()}, keepPreviousAs);
}

} // namespace crashreport::codecs
