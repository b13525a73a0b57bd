#pragma once
// The recorder's pixel buffer: the image bytes followed by zeroed padding.
// Compressors convert pixels with vector loads that read a few bytes past
// the last pixel (libswscale's packed-RGB readers take 4 bytes for each
// 3-byte pixel); the padding keeps those reads inside the allocation.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace avi {

class TFrameBuffer {
public:
    // Bytes after the image that stay allocated and zero: as much as
    // libavcodec asks of its own input buffers.
    static constexpr size_t kReadPadding = 64;

    // size image bytes, all zero, and the padding.
    void Assign(size_t size)
    {
        bytes_.assign(size + kReadPadding, 0);
        size_ = size;
    }
    void Release()
    {
        bytes_.clear();
        bytes_.shrink_to_fit();
        size_ = 0;
    }
    uint8_t* Data() { return bytes_.data(); }
    const uint8_t* Data() const { return bytes_.data(); }
    size_t Size() const { return size_; }
    // Image bytes plus padding.
    size_t Capacity() const { return bytes_.size(); }

private:
    std::vector<uint8_t> bytes_;
    size_t size_ = 0;
};

} // namespace avi
