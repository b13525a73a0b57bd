#include "crashreport/codecs/tar_header.h"

#include <cstring>

#include "crashreport/codecs/codec_error.h"
#include "crashreport/codecs/day_count.h"
#include "platform/rtl/format.h"

namespace crashreport::codecs {
namespace {

bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

void CheckStoredName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        throw ETarError(rtl::FormatStrings("Invalid archive entry name \"%s\"", {std::string(name)}));
    if (name.size() > kTarNameLength || name.find('/') != std::string_view::npos ||
        name.find('\0') != std::string_view::npos)
        throw ETarError("Invalid archive entry name");
}

} // namespace

std::string TarEntryName(std::string_view name)
{
    if (name.find('\0') != std::string_view::npos) throw ETarError("Archive entry name holds a 0 byte");
    size_t slash = name.rfind('/');
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    if (name.size() > kTarNameLength) {
        size_t cut = kTarNameLength;
        // Back up to the first byte of a character so the name stays valid UTF-8.
        while (cut > 0 && IsUtf8Continuation(name[cut])) --cut;
        name = name.substr(0, cut);
    }
    CheckStoredName(name);
    return std::string(name);
}

void WriteOctalField(uint8_t* field, size_t width, uint64_t value)
{
    const size_t digits = width == 8 ? 6 : width - 1;
    for (size_t i = digits; i-- > 0;) {
        field[i] = uint8_t('0' + (value & 7));
        value >>= 3;
    }
    for (size_t i = 0; i + 1 < digits && field[i] == '0'; ++i) field[i] = ' ';
    field[digits] = ' ';
    if (width == 8) field[7] = 0;
}

uint64_t TarModificationTime(double date)
{
    std::optional<int64_t> ms = DayCountToUnixMilliseconds(date);
    if (!ms) return date > 0 ? kTarLongFieldMax : 0; // NaN compares false
    if (*ms < 0) return 0;
    uint64_t seconds = uint64_t(*ms) / 1000;
    return seconds > kTarLongFieldMax ? kTarLongFieldMax : seconds;
}

TTarBlock BuildTarHeader(const TTarEntry& entry)
{
    CheckStoredName(entry.Name);
    if (entry.Size > kTarLongFieldMax)
        throw ETarError(rtl::Format("Archive entry of %llu bytes is too large for a tar archive",
                                    static_cast<unsigned long long>(entry.Size)));
    TTarBlock h{};
    std::memcpy(h.data(), entry.Name.data(), entry.Name.size());
    // Read and write for the owner, read for others: a mode of 0 would leave
    // extracted files unreadable to whoever unpacks them without root rights.
    WriteOctalField(&h[100], 8, kTarEntryMode);
    WriteOctalField(&h[108], 8, 0); // owner
    WriteOctalField(&h[116], 8, 0); // group
    WriteOctalField(&h[124], 12, entry.Size);
    WriteOctalField(&h[136], 12, TarModificationTime(entry.Date));
    h[156] = '0';
    std::memcpy(&h[257], "ustar   ", 8);
    // The checksum is summed while its own field holds eight spaces.
    std::memset(&h[148], ' ', 8);
    uint32_t sum = 0;
    for (uint8_t b : h) sum += b;
    WriteOctalField(&h[148], 8, sum);
    return h;
}

} // namespace crashreport::codecs
