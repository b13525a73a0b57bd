#pragma once
// The readable-memory test every read of memory that the reporter does not
// own goes through, and THModuleStream, a read-only stream over the memory
// of a loaded module.
#include <cstddef>
#include <cstdint>

#include "crashreport/codecs/stream.h"

namespace crashreport {

// True when every byte of [address, address + length) can be read now:
// committed, readable memory (guard and inaccessible pages are not). A range
// that wraps around the address space is not. Signal-safe.
bool IsReadableMemory(const void* address, std::size_t length);

// A stream whose memory is the loaded module from its handle on, with the
// size 0x7FFFFFFF; it never owns or frees that memory. Read copies only when
// the whole requested range is readable and otherwise reads nothing.
// Signal-safe.
class THModuleStream : public TStream {
public:
    explicit THModuleStream(std::uintptr_t handle) : base_(handle) {}

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void*, std::size_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() const override { return 0x7FFFFFFF; }

    // Reads exactly `count` bytes, or nothing and false.
    bool ReadChecked(void* buffer, std::size_t count) { return Read(buffer, count) == count; }

private:
    std::uintptr_t base_;
    std::int64_t position_ = 0;
};

} // namespace crashreport
