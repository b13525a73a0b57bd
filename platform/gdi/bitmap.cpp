#include "platform/gdi/bitmap.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace gdi {

Bitmap::Pixels Bitmap::Allocate(size_t bytes)
{
    if (bytes == 0) return nullptr;
    Pixels pixels(static_cast<uint8_t*>(std::calloc(bytes, 1)));
    if (!pixels) throw std::bad_alloc();
    return pixels;
}

Bitmap::Bitmap(const Bitmap& other)
    : width_(other.width_), height_(other.height_), stride_(other.stride_),
      pixels_(Allocate(other.stride_ * static_cast<size_t>(other.height_)))
{
    if (pixels_) std::memcpy(pixels_.get(), other.pixels_.get(), stride_ * static_cast<size_t>(height_));
}

Bitmap& Bitmap::operator=(const Bitmap& other)
{
    if (this != &other) *this = Bitmap(other);
    return *this;
}

void Bitmap::SetSize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == width_ && height == height_) return;
    size_t stride = StrideFor(width);
    Pixels pixels = Allocate(stride * static_cast<size_t>(height));
    size_t keep = std::min(stride, stride_);
    for (int row = 0; row < std::min(height, height_); ++row)
        std::memcpy(pixels.get() + static_cast<size_t>(row) * stride, ScanLine(row), keep);
    // Padding bytes beyond the old width must stay zero.
    if (width > width_ && keep > 0)
        for (int row = 0; row < std::min(height, height_); ++row)
            std::memset(pixels.get() + static_cast<size_t>(row) * stride + static_cast<size_t>(width_) * 3, 0,
                        stride - static_cast<size_t>(width_) * 3);
    pixels_ = std::move(pixels);
    width_ = width;
    height_ = height;
    stride_ = stride;
}

void Bitmap::Draw(int x, int y, const Bitmap& src)
{
    int left = std::max(x, 0), top = std::max(y, 0);
    int right = std::min(x + src.width_, width_), bottom = std::min(y + src.height_, height_);
    if (left >= right || top >= bottom) return;
    size_t bytes = static_cast<size_t>(right - left) * 3;
    for (int row = top; row < bottom; ++row)
        std::memmove(ScanLine(row) + static_cast<size_t>(left) * 3,
                     src.ScanLine(row - y) + static_cast<size_t>(left - x) * 3, bytes);
}

void Bitmap::FillRect(int left, int top, int right, int bottom, uint8_t r, uint8_t g, uint8_t b)
{
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, width_);
    bottom = std::min(bottom, height_);
    for (int row = top; row < bottom; ++row) {
        uint8_t* p = ScanLine(row) + static_cast<size_t>(left) * 3;
        for (int col = left; col < right; ++col, p += 3) {
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
    }
}

} // namespace gdi
