#include "crashreport/options/options_stream_io.h"

#include <algorithm>
#include <climits>
#include <initializer_list>

#include "crashreport/options/options_errors.h"

namespace crashreport {

std::string StripSingleTrailingCrLf(const std::string& s)
{
    if (s.size() > 1 && s.find("\r\n") == s.size() - 2) return s.substr(0, s.size() - 2);
    return s;
}

void TOptionsWriter::U16(std::uint16_t v)
{
    const std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
    stream_.WriteBuffer(b, 2);
}

void TOptionsWriter::U32(std::uint32_t v)
{
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                               static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    stream_.WriteBuffer(b, 4);
}

void TOptionsWriter::Bits(std::uint64_t bits, unsigned byteCount)
{
    for (unsigned i = 0; i < byteCount; ++i) Byte(static_cast<std::uint8_t>(bits >> (8 * i)));
}

void TOptionsWriter::String(const std::string& s)
{
    std::string stored = StripSingleTrailingCrLf(s);
    if (stored.size() > static_cast<std::size_t>(INT32_MAX))
        throw EWriteError("Stream write error: a string of the options is longer than 2 GiB");
    I32(static_cast<std::int32_t>(stored.size()));
    for (char& c : stored) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ OptionsStringKey);
    stream_.WriteBuffer(stored.data(), stored.size());
}

void TOptionsReader::Damaged(const std::string& field, const std::string& what, std::int64_t offset) const
{
    throw EOptionsStreamError("Stream read error: the options stream is damaged at " + field + " (" + what +
                              " at offset " + std::to_string(offset) + ")");
}

void TOptionsReader::Read(void* out, std::size_t n, const std::string& field)
{
    const std::int64_t left = stream_.Remaining();
    if (static_cast<std::uint64_t>(left) < n)
        throw EOptionsStreamError("Stream read error: the options stream ends inside " + field + " (" +
                                  std::to_string(n) + " bytes needed at offset " + std::to_string(stream_.Position()) +
                                  ", " + std::to_string(left) + " left)");
    try {
        stream_.ReadBuffer(out, n);
    } catch (const rtl::EReadError&) {
        throw EOptionsStreamError("Stream read error: the options stream could not be read at " + field);
    }
}

std::uint8_t TOptionsReader::Byte(const char* field)
{
    std::uint8_t b = 0;
    Read(&b, 1, field);
    return b;
}

std::uint16_t TOptionsReader::U16(const char* field)
{
    std::uint8_t b[2];
    Read(b, 2, field);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t TOptionsReader::U32(const char* field)
{
    std::uint8_t b[4];
    Read(b, 4, field);
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
        (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::uint64_t TOptionsReader::Bits(unsigned byteCount, const char* field)
{
    std::uint8_t b[8] = {};
    Read(b, byteCount, field);
    std::uint64_t bits = 0;
    for (unsigned i = 0; i < byteCount; ++i) bits |= static_cast<std::uint64_t>(b[i]) << (8 * i);
    return bits;
}

std::uint8_t TOptionsReader::Ordinal(unsigned count, const char* field)
{
    const std::int64_t at = stream_.Position();
    const std::uint8_t v = Byte(field);
    if (v >= count) Damaged(field, "value " + std::to_string(v) + " is not a member", at);
    return v;
}

std::string TOptionsReader::String(const std::string& field)
{
    const std::int64_t at = stream_.Position();
    const std::int32_t length = I32(field.c_str());
    if (length < 0) Damaged(field, "string length " + std::to_string(length), at);
    std::string s(static_cast<std::size_t>(0), '\0');
    if (length > stream_.Remaining())
        throw EOptionsStreamError("Stream read error: the options stream ends inside " + field + " (a string of " +
                                  std::to_string(length) + " bytes at offset " + std::to_string(at) + ", " +
                                  std::to_string(stream_.Remaining()) + " left)");
    s.resize(static_cast<std::size_t>(length));
    Read(s.data(), s.size(), field);
    for (char& c : s) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ OptionsStringKey);
    return s;
}

std::int32_t TOptionsReader::Count(std::size_t minBytesEach, const char* field)
{
    const std::int64_t at = stream_.Position();
    const std::int32_t n = I32(field);
    if (n < 0) Damaged(field, "count " + std::to_string(n), at);
    if (static_cast<std::uint64_t>(n) * minBytesEach > static_cast<std::uint64_t>(stream_.Remaining()))
        throw EOptionsStreamError("Stream read error: the options stream ends inside " + std::string(field) + " (" +
                                  std::to_string(n) + " entries at offset " + std::to_string(at) + ", " +
                                  std::to_string(stream_.Remaining()) + " bytes left)");
    return n;
}

bool StreamFormHoldsText(std::uint16_t v, std::size_t index)
{
    auto among = [index](std::initializer_list<std::size_t> list) {
        return std::find(list.begin(), list.end(), index) != list.end();
    };
    auto in = [index](std::size_t lo, std::size_t hi) { return index >= lo && index <= hi; };
    if (v < 420 && index == 17) return false;
    if (v < 421 && index == 16) return false;
    if (v < 450 && (in(8, 11) || in(18, 20) || among({26, 41, 52, 47, 48}) || in(75, 95))) return false;
    if (v < 500 && (among({12, 13, 21, 27, 46, 47, 48, 89, 94, 95}) || in(54, 61) || in(68, 74))) return false;
    return true;
}

} // namespace crashreport
