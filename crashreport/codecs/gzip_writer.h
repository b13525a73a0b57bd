#pragma once
// One-member gzip files: header with the stored file name (flag FNAME, no
// time, OS byte 0), raw deflate data at level 9, CRC-32 and size trailer.
// Not signal-safe.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/codecs/stream.h"

namespace crashreport::codecs {

// The name kept in the gzip header: the file-name part of gzipPath with its
// extension changed to ".tar" ("CompressFiles.tgz" gives "CompressFiles.tar").
std::string GzipStoredName(std::string_view gzipPath);

// The complete gzip file image of data. Raises ECompressionError.
std::vector<uint8_t> BuildGzipImage(std::span<const uint8_t> data, std::string_view storedName);

// Writes the whole data as a one-member gzip file, replacing any file of that
// name. On failure no file is written and ECompressionError or EFWriteError
// is raised.
void WriteGzipFile(std::span<const uint8_t> data, const std::string& gzipPath);
void WriteGzipFile(TStream& data, const std::string& gzipPath);

} // namespace crashreport::codecs
