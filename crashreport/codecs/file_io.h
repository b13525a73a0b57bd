#pragma once
// Whole-file helpers of the codecs. Not signal-safe (they allocate).
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace crashreport::codecs {

// The file's last-write time as a day count in universal time, milliseconds
// kept; 0 for a path that names a directory or cannot be found.
double FileLastWriteDate(const std::string& path);

// The whole content of the regular file at path; false (bytes emptied) when
// it is missing, not a regular file (a FIFO or device could block or never
// end) or cannot be read.
bool ReadWholeFile(const std::string& path, std::string& bytes);

// Writes bytes as the file path in one piece: a temporary file in the same
// folder is written, flushed to the disk and renamed over path, so a crash or
// a failure (a full disk) leaves the previous file whole and no half-written
// file behind. A replaced file keeps its permissions; a new one is readable
// and writable by its owner only, whatever the creation mask (0600: what the
// reporter writes holds the program's secrets). With keepPreviousAs, the file
// being replaced also keeps that second name. Raises EFWriteError
// (codec_error.h) with the system's reason.
void WriteFileReplacing(const std::string& path, std::span<const uint8_t> bytes,
                        const std::string* keepPreviousAs = nullptr);
void WriteFileReplacing(const std::string& path, std::string_view text, const std::string* keepPreviousAs = nullptr);

} // namespace crashreport::codecs
