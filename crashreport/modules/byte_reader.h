#pragma once
// A bounds-checked little-endian reader over bytes owned elsewhere. Every
// read that would pass the end fails and leaves the position unchanged, so
// damaged data can never make a caller read outside it.
// Signal-safe: no allocation.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace crashreport::stored {

class TByteReader {
public:
    TByteReader() = default;
    explicit TByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t Position() const { return position_; }
    std::size_t Size() const { return bytes_.size(); }
    std::size_t Remaining() const { return bytes_.size() - position_; }
    bool Seek(std::size_t position)
    {
        if (position > bytes_.size()) return false;
        position_ = position;
        return true;
    }
    bool Skip(std::size_t count)
    {
        if (count > Remaining()) return false;
        position_ += count;
        return true;
    }
    bool Bytes(std::size_t count, std::span<const std::uint8_t>& out)
    {
        if (count > Remaining()) return false;
        out = bytes_.subspan(position_, count);
        position_ += count;
        return true;
    }
    template <typename T> bool Read(T& value)
    {
        if (sizeof(T) > Remaining()) return false;
        std::memcpy(&value, bytes_.data() + position_, sizeof(T)); // x86 is little-endian
        position_ += sizeof(T);
        return true;
    }
    std::span<const std::uint8_t> All() const { return bytes_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

} // namespace crashreport::stored
