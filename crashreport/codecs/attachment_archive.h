#pragma once
// The archive that carries a report's attachments: "CompressFiles.tgz" in the
// temporary folder, one entry per attached file under its attachment name.
// Not signal-safe.
#include <string>
#include <vector>

namespace crashreport::codecs {

inline constexpr char kAttachmentArchiveName[] = "CompressFiles.tgz";

// $TMPDIR (default "/tmp") with a trailing "/".
std::string TemporaryFolder();

// TemporaryFolder() + "CompressFiles.tgz".
std::string AttachmentArchivePath();

// The name a file travels under: its file name; with timestampFileNames the
// name without extension, "_", exceptionTime as "yyyymmddhhnnss" and the
// extension ("Screenshot.png" -> "Screenshot_20060301140509.png").
// exceptionTime is a day count.
std::string AttachmentName(const std::string& filePath, bool timestampFileNames, double exceptionTime);

// Packs the files, in list order, into a new archive at archivePath. Returns
// false (and writes nothing) for an empty list. A file that cannot be read
// raises its open or read error and no archive is written.
bool WriteAttachmentArchive(const std::string& archivePath, const std::vector<std::string>& files,
                            bool timestampFileNames, double exceptionTime);

} // namespace crashreport::codecs
