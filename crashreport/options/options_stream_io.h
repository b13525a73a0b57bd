#pragma once
// Reading and writing the values of the options' stream form: little-endian
// numbers, one-byte bools, sets as their bytes, and strings as a 4-byte
// signed length followed by bytes combined with OptionsStringKey.
//
// The reader checks every length against the bytes left before reading or
// allocating, so a damaged stream fails with EOptionsStreamError naming the
// field and offset, and nothing past the stream's end is ever read.
#include <cstddef>
#include <cstdint>
#include <string>

#include "crashreport/options/option_types.h"
#include "crashreport/codecs/stream.h"

namespace crashreport {

// The one-byte key of the stream form's strings.
inline constexpr std::uint8_t OptionsStringKey = 0xA5;

// A string whose first CR LF is its last two characters (and that is longer
// than one character) is stored without that final CR LF.
std::string StripSingleTrailingCrLf(const std::string& s);

// Whether the stream form of version v holds text `index`: the older forms
// lack some of the 96 texts.
bool StreamFormHoldsText(std::uint16_t v, std::size_t index);

class TOptionsWriter {
public:
    explicit TOptionsWriter(TStream& stream) : stream_(stream) {}

    void Byte(std::uint8_t v) { stream_.WriteBuffer(&v, 1); }
    void Bool(bool v) { Byte(v ? 1 : 0); }
    void U16(std::uint16_t v);
    void U32(std::uint32_t v);
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void Bits(std::uint64_t bits, unsigned byteCount);
    template <typename M, unsigned N> void Set(TSet<M, N> s) { Bits(s.ToBits(), TSet<M, N>::ByteCount); }
    void String(const std::string& s);

private:
    TStream& stream_;
};

class TOptionsReader {
public:
    explicit TOptionsReader(TStream& stream) : stream_(stream) {}

    std::uint8_t Byte(const char* field);
    bool Bool(const char* field) { return Byte(field) != 0; }
    std::uint16_t U16(const char* field);
    std::uint32_t U32(const char* field);
    std::int32_t I32(const char* field) { return static_cast<std::int32_t>(U32(field)); }
    std::uint64_t Bits(unsigned byteCount, const char* field);
    template <typename M, unsigned N> TSet<M, N> Set(const char* field)
    {
        return TSet<M, N>::FromBits(Bits(TSet<M, N>::ByteCount, field));
    }
    // A byte that must be below `count` (an enumeration's ordinal).
    std::uint8_t Ordinal(unsigned count, const char* field);
    std::string String(const std::string& field);
    // A count of entries that need at least `minBytesEach` bytes apiece.
    std::int32_t Count(std::size_t minBytesEach, const char* field);

    [[noreturn]] void Damaged(const std::string& field, const std::string& what, std::int64_t offset) const;

private:
    void Read(void* out, std::size_t n, const std::string& field);

    TStream& stream_;
};

} // namespace crashreport
