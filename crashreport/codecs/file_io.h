#pragma once
// Whole-file helpers of the codecs. Not signal-safe (they allocate).
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace crashreport::codecs {

// The file's last-write time as a day count in universal time, milliseconds
// kept; 0 for a path that names a directory or cannot be found.
double FileLastWriteDate(const std::string& path);

// Writes bytes as the file path in one piece: a temporary file in the same
// folder is written and then renamed over path, so a failure never leaves a
// half-written file behind. Raises EFWriteError (codec_error.h).
void WriteFileReplacing(const std::string& path, std::span<const uint8_t> bytes);

} // namespace crashreport::codecs
