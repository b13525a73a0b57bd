#pragma once
// A device-independent bitmap in memory with direct row access.
//
// 24 bits per pixel: each row holds pixels as blue, green, red, rows are
// addressed from the top (ScanLine(0) is the top row) and padded to a
// multiple of 4 bytes, as device-independent bitmaps are. The pixels of a
// new or enlarged area are black.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace gdi {

enum class PixelFormat { pf24bit };

class Bitmap {
public:
    Bitmap() = default;
    Bitmap(int width, int height) { SetSize(width, height); }
    Bitmap(const Bitmap& other);
    Bitmap& operator=(const Bitmap& other);
    Bitmap(Bitmap&&) noexcept = default;
    Bitmap& operator=(Bitmap&&) noexcept = default;

    int Width() const { return width_; }
    int Height() const { return height_; }
    PixelFormat Format() const { return PixelFormat::pf24bit; }
    void SetFormat(PixelFormat) {}

    // Changes the size, keeping the pixels that stay inside it. Negative
    // sizes count as 0.
    void SetSize(int width, int height);
    void SetWidth(int width) { SetSize(width, height_); }
    void SetHeight(int height) { SetSize(width_, height); }

    // Bytes per row: the row length rounded up to a multiple of 4.
    size_t Stride() const { return stride_; }
    static size_t StrideFor(int width) { return width <= 0 ? 0 : ((static_cast<size_t>(width) * 24 + 31) / 32) * 4; }

    uint8_t* ScanLine(int row) { return pixels_.get() + static_cast<size_t>(row) * stride_; }
    const uint8_t* ScanLine(int row) const { return pixels_.get() + static_cast<size_t>(row) * stride_; }

    // Copies src onto this bitmap with its top-left corner at (x, y);
    // whatever falls outside this bitmap is clipped.
    void Draw(int x, int y, const Bitmap& src);

    // Fills a rectangle with one colour (red, green, blue), clipped.
    void FillRect(int left, int top, int right, int bottom, uint8_t r, uint8_t g, uint8_t b);

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    using Pixels = std::unique_ptr<uint8_t[], Free>;
    // Black pixels from calloc: a large area comes as zero pages from the
    // kernel, touched only where something is drawn (a recorder's frame
    // that nothing draws on costs no clearing).
    static Pixels Allocate(size_t bytes);

    int width_ = 0;
    int height_ = 0;
    size_t stride_ = 0;
    Pixels pixels_;
};

} // namespace gdi
