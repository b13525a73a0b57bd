#pragma once
// One 512-byte tar header block as the archives of attachments carry it:
// name, mode 0644, owner and group 0, size, modification time, checksum, type "0",
// magic "ustar" and three spaces. WriteOctalField, TarModificationTime and
// BuildTarHeader of a valid entry are signal-safe; TarEntryName allocates,
// and raising for a bad entry is not signal-safe.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace crashreport::codecs {

inline constexpr size_t kTarBlockSize = 512;
inline constexpr size_t kTarNameLength = 100;
// The largest number the 11 digits of a long octal field hold (8 GiB - 1).
inline constexpr uint64_t kTarLongFieldMax = 077777777777ull;

inline constexpr uint64_t kTarEntryMode = 0644;

using TTarBlock = std::array<uint8_t, kTarBlockSize>;

struct TTarEntry {
    std::string Name; // as stored: at most 100 bytes, no "/"
    uint64_t Size = 0;
    double Date = 0; // day count (see day_count.h), universal time
};

// The name an entry is stored under: the file-name part of name (after the
// last "/"), cut to 100 bytes without splitting a UTF-8 character. Raises
// ETarError for a name that would not extract as a file: empty, "." or "..",
// or holding a 0 byte.
std::string TarEntryName(std::string_view name);

// Octal field of width 8 (six digits, space, 0 byte) or 12 (eleven digits and
// a space): digits most significant first, leading zeros shown as spaces,
// the last digit always kept; higher digits that do not fit are lost.
void WriteOctalField(uint8_t* field, size_t width, uint64_t value);

// Whole seconds since 1970-01-01 00:00 (truncated) for the time field; dates
// before 1970 give 0 and dates beyond the field's range its largest value.
uint64_t TarModificationTime(double date);

// The header block of entry. Raises ETarError when the size does not fit the
// size field or the name is not a stored name (see TarEntryName).
TTarBlock BuildTarHeader(const TTarEntry& entry);

} // namespace crashreport::codecs
