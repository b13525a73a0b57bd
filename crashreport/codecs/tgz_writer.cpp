#include "crashreport/codecs/tgz_writer.h"

#include "crashreport/codecs/codec_error.h"
#include "crashreport/codecs/file_io.h"
#include "crashreport/codecs/gzip_writer.h"
#include "crashreport/codecs/tar_header.h"

namespace crashreport::codecs {

TTGZWriter::TTGZWriter(std::string archivePath) : archivePath_(std::move(archivePath)) {}

void TTGZWriter::CheckOpen() const
{
    if (finished_) throw ECodecError("The archive has already been written");
}

void TTGZWriter::AddFile(const std::string& filePath, const std::string& entryName)
{
    CheckOpen();
    TFileStream source(filePath, TFileStream::fmOpenRead);
    const std::string& name = entryName.empty() ? filePath : entryName;
    AddStream(source, name, FileLastWriteDate(filePath));
}

void TTGZWriter::AddStream(TStream& stream, const std::string& entryName, double date)
{
    CheckOpen();
    TTarEntry entry;
    entry.Name = TarEntryName(entryName);
    entry.Date = date;
    const size_t start = image_.size();
    try {
        // The header's size is known only after reading; its block is
        // reserved first and filled in afterwards.
        image_.resize(start + kTarBlockSize);
        uint8_t chunk[65536];
        for (;;) {
            size_t n = stream.Read(chunk, sizeof chunk);
            if (n == 0) break;
            if (image_.size() - start - kTarBlockSize + n > kTarLongFieldMax)
                throw ETarError("Archive entry is too large for a tar archive");
            image_.insert(image_.end(), chunk, chunk + n);
        }
        entry.Size = image_.size() - start - kTarBlockSize;
        TTarBlock header = BuildTarHeader(entry);
        std::copy(header.begin(), header.end(), image_.begin() + std::ptrdiff_t(start));
        // A last partial block is padded with zeros to 512 bytes.
        image_.resize(image_.size() + (kTarBlockSize - entry.Size % kTarBlockSize) % kTarBlockSize, 0);
    } catch (...) {
        image_.resize(start); // a failed entry leaves the image as it was
        throw;
    }
}

void TTGZWriter::Finish()
{
    CheckOpen();
    // A single block of zeros ends the archive.
    image_.resize(image_.size() + kTarBlockSize, 0);
    try {
        WriteGzipFile(image_, archivePath_);
    } catch (...) {
        image_.resize(image_.size() - kTarBlockSize); // Finish may be tried again
        throw;
    }
    finished_ = true;
}

} // namespace crashreport::codecs
