#include "crashreport/codecs/attachment_archive.h"

#include <cstdlib>

#include "crashreport/codecs/day_count.h"
#include "crashreport/codecs/file_io.h"
#include "crashreport/codecs/tgz_writer.h"
#include "platform/kernel/process.h"
#include "platform/rtl/file_names.h"

namespace crashreport::codecs {

using rtl::ExtractFileName;

std::string TemporaryFolder()
{
    std::string folder = kernel::GetEnvironmentVariable("TMPDIR").value_or("");
    if (folder.empty()) folder = "/tmp";
    if (folder.back() != '/') folder += '/';
    return folder;
}

std::string AttachmentArchivePath() { return TemporaryFolder() + kAttachmentArchiveName; }

std::string AttachmentName(const std::string& filePath, bool timestampFileNames, double exceptionTime)
{
    std::string name = ExtractFileName(filePath);
    if (!timestampFileNames) return name;
    // The extension starts at the last dot; a leading dot names a hidden file, not an extension.
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) dot = name.size();
    return name.substr(0, dot) + "_" + FormatCompactTimestamp(exceptionTime) + name.substr(dot);
}

bool WriteAttachmentArchive(const std::string& archivePath, const std::vector<std::string>& files,
                            bool timestampFileNames, double exceptionTime)
{
    if (files.empty()) return false;
    TTGZWriter writer(archivePath);
    for (const std::string& file : files) writer.AddFile(file, AttachmentName(file, timestampFileNames, exceptionTime));
    writer.Finish();
    return true;
}

} // namespace crashreport::codecs
