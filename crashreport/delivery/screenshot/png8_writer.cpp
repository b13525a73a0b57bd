#include "crashreport/delivery/screenshot/png8_writer.h"

#include <zlib.h>

#include <cstring>
#include <string_view>

#include "crashreport/codecs/crc32.h"

namespace crashreport::screenshot {

namespace {

void PutBE32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

// Length, type, data, and the CRC-32 of type and data.
void PutChunk(std::vector<std::uint8_t>& out, std::string_view type, const std::uint8_t* data, std::size_t length)
{
    PutBE32(out, static_cast<std::uint32_t>(length));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type.begin(), type.end());
    if (length) out.insert(out.end(), data, data + length);
    PutBE32(out, codecs::ComputeCrc32(out.data() + typeAt, 4 + length));
}

// Owns a deflate stream.
class TDeflater {
public:
    TDeflater() { ok_ = deflateInit(&z_, 9) == Z_OK; }
    ~TDeflater()
    {
        if (ok_) deflateEnd(&z_);
    }
    TDeflater(const TDeflater&) = delete;
    TDeflater& operator=(const TDeflater&) = delete;
    bool Ok() const { return ok_; }
    z_stream& Stream() { return z_; }

private:
    z_stream z_{};
    bool ok_ = false;
};

} // namespace

std::vector<std::uint8_t> EncodePng8(int width, int height, const std::uint8_t* indices, const TPalette& palette)
{
    if (width <= 0 || height <= 0 || !indices) return {};
    std::vector<std::uint8_t> out;
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    out.insert(out.end(), kSignature, kSignature + 8);

    std::vector<std::uint8_t> ihdr;
    PutBE32(ihdr, static_cast<std::uint32_t>(width));
    PutBE32(ihdr, static_cast<std::uint32_t>(height));
    ihdr.insert(ihdr.end(), {8, 3, 0, 0, 0}); // depth, indexed, deflate, no filter, no interlace
    PutChunk(out, "IHDR", ihdr.data(), ihdr.size());

    std::uint8_t plte[3 * kPaletteSize];
    for (int i = 0; i < kPaletteSize; ++i) {
        plte[3 * i] = palette[i].R;
        plte[3 * i + 1] = palette[i].G;
        plte[3 * i + 2] = palette[i].B;
    }
    PutChunk(out, "PLTE", plte, sizeof plte);

    TDeflater deflater;
    if (!deflater.Ok()) return {};
    z_stream& z = deflater.Stream();
    std::vector<std::uint8_t> buffer(kIdatBufferSize);
    z.next_out = buffer.data();
    z.avail_out = static_cast<uInt>(buffer.size());
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) + 1, 0);
    for (int y = 0; y <= height; ++y) {
        const bool last = y == height;
        if (!last) {
            row[0] = 0; // filter: none
            std::memcpy(row.data() + 1, indices + static_cast<std::size_t>(y) * width, static_cast<std::size_t>(width));
            z.next_in = row.data();
            z.avail_in = static_cast<uInt>(row.size());
        }
        for (;;) {
            const int rc = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            if (rc == Z_STREAM_ERROR) return {};
            const bool done = last ? rc == Z_STREAM_END : z.avail_in == 0;
            if (z.avail_out == 0) {
                // A full buffer is one chunk of its own.
                PutChunk(out, "IDAT", buffer.data(), buffer.size());
                z.next_out = buffer.data();
                z.avail_out = static_cast<uInt>(buffer.size());
            }
            if (done) break;
        }
    }
    const std::size_t tail = buffer.size() - z.avail_out;
    if (tail) PutChunk(out, "IDAT", buffer.data(), tail);
    PutChunk(out, "IEND", nullptr, 0);
    return out;
}

} // namespace crashreport::screenshot
