#include "crashreport/codecs/file_io.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "crashreport/codecs/codec_error.h"
#include "crashreport/codecs/day_count.h"
#include "crashreport/codecs/stream.h"
#include "platform/kernel/file_lock.h"
#include "platform/kernel/files.h"
#include "platform/kernel/folder_files.h"
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

// A writer that was killed between creating its temporary file and
// renaming it left "NAME.xxxxxx" beside the file. Writers lock their
// temporary file while it exists, so one that can be locked and has not
// been written for a minute is nobody's: it is removed.
void RemoveAbandonedTemporaries(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".";
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    for (const std::string& entry : kernel::ListFolderFiles(folder)) {
        if (entry.size() != prefix.size() + 6 || entry.compare(0, prefix.size(), prefix) != 0) continue;
        bool tag = true;
        for (std::size_t i = prefix.size(); i < entry.size(); ++i)
            tag = tag && std::isalnum(static_cast<unsigned char>(entry[i]));
        if (!tag) continue;
        const std::string candidate = (folder == "/" ? "" : folder) + "/" + entry;
        const auto info = kernel::GetFileInfo(candidate);
        if (!info || !info->IsRegular || now - info->LastWriteSeconds < 60) continue;
        kernel::TUniqueFd fd = kernel::OpenFile(candidate, kernel::TFileOpen::foRead, kernel::TLinkRule::lpRefuseLink);
        if (fd.Valid() && kernel::TryLockFileExclusive(fd.Get())) kernel::DeleteFile(candidate);
    }
}

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
    RemoveAbandonedTemporaries(path);
    TTemporaryFile temp;
    std::string pattern = path + ".XXXXXX";
    kernel::TUniqueFd fd = kernel::CreateUniqueFile(pattern);
    if (!fd.Valid()) RaiseWriteError(path, errno);
    temp.path = pattern;
    // Held until the file is renamed or removed: marks it as being written.
    kernel::LockFileExclusive(fd.Get());
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
