#pragma once
// The source-jump request of the call stack page: a row with a line asks
// the development environment to show that line. The 376-byte record goes
// to the four request sockets $XDG_RUNTIME_DIR/TavrelLog0 .. TavrelLog3 (the
// environment listens on one of them); a socket that is not there is
// skipped. Not signal-safe.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace crashreport::ui {

inline constexpr std::size_t SourceJumpRecordSize = 376;
using TSourceJumpRecord = std::array<std::uint8_t, SourceJumpRecordSize>;

// Little-endian: main module file name, unit, class, procedure (90 bytes
// each, zero-terminated and padded), the line (leading digits of the Line
// column), the number in brackets after it or -1, the compilation date of
// the row's module (0 when none).
TSourceJumpRecord BuildSourceJumpRecord(const std::string& mainModule, const std::string& unit,
                                        const std::string& className, const std::string& procedure,
                                        const std::string& lineColumn, double compilationDate);

// The request sockets' names.
std::vector<std::string> SourceJumpSockets();

// Sends the record to every request socket there is; answers how many took it.
int SendSourceJump(const TSourceJumpRecord& record);

} // namespace crashreport::ui
