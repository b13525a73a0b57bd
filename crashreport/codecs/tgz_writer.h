#pragma once
// Writer of gzip-compressed tar archives. The tar image is built in memory,
// entry by entry, and compressed and written as one file by Finish. Not
// signal-safe.
#include <cstdint>
#include <string>
#include <vector>

#include "crashreport/codecs/stream.h"

namespace crashreport::codecs {

class TTGZWriter {
public:
    // Remembers the archive path; nothing is written until Finish.
    explicit TTGZWriter(std::string archivePath);
    // A writer dropped without Finish writes no file, so an archive whose
    // building failed half-way is never left behind.
    ~TTGZWriter() = default;
    TTGZWriter(const TTGZWriter&) = delete;
    TTGZWriter& operator=(const TTGZWriter&) = delete;

    // Adds the whole file under entryName's file-name part, or under the
    // path's file-name part when entryName is empty; dated with the file's
    // last-write time. Raises rtl::EFOpenError when the file cannot be
    // opened, rtl::EReadError when it cannot be read.
    void AddFile(const std::string& filePath, const std::string& entryName = {});

    // Adds the bytes from the stream's current position to its end as one
    // entry. date is a day count in universal time. Raises ETarError for a
    // name that cannot be stored or an entry too large for the size field.
    void AddStream(TStream& stream, const std::string& entryName, double date);

    // Ends the tar image with its end block, compresses it and writes the
    // archive file, replacing any file of that name. Raises
    // ECompressionError or EFWriteError; no file is written then. Adding
    // after Finish raises ECodecError.
    void Finish();

    const std::string& ArchivePath() const { return archivePath_; }
    // The tar image built so far (without the end block until Finish).
    const std::vector<uint8_t>& TarImage() const { return image_; }

private:
    void CheckOpen() const;

    std::string archivePath_;
    std::vector<uint8_t> image_;
    bool finished_ = false;
};

} // namespace crashreport::codecs
