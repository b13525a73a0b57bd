#include "crashreport/codecs/deflate_codec.h"

#include <zlib.h>

#include <algorithm>

#include "crashreport/codecs/codec_error.h"
#include "platform/rtl/format.h"

namespace crashreport::codecs {
namespace {

// zlib counts in 32-bit units; larger buffers go in slices of this size.
constexpr size_t kSlice = size_t(1) << 30;

int WindowBits(TDeflateFraming framing) { return framing == TDeflateFraming::dfRaw ? -MAX_WBITS : MAX_WBITS; }

// Owners of a zlib stream's state.
struct TDeflater {
    z_stream z{};
    bool open = false;
    ~TDeflater()
    {
        if (open) deflateEnd(&z);
    }
};

struct TInflater {
    z_stream z{};
    bool open = false;
    ~TInflater()
    {
        if (open) inflateEnd(&z);
    }
};

} // namespace

std::vector<uint8_t> Deflate(std::span<const uint8_t> data, TDeflateFraming framing, int level)
{
    TDeflater d;
    if (deflateInit2(&d.z, level, Z_DEFLATED, WindowBits(framing), 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw ECompressionError("Cannot start the compressor");
    d.open = true;
    std::vector<uint8_t> out;
    // One call: the bound is what the compressor can need for this input.
    out.resize(data.size() <= uLong(-1) ? size_t(deflateBound(&d.z, uLong(data.size()))) + 64
                                        : data.size() + data.size() / 100 + 1024);
    size_t inPos = 0, outPos = 0;
    for (;;) {
        size_t inSlice = std::min(kSlice, data.size() - inPos);
        if (outPos == out.size()) out.resize(out.size() + out.size() / 4 + 256);
        size_t outSlice = std::min(kSlice, out.size() - outPos);
        d.z.next_in = const_cast<Bytef*>(data.data() + inPos);
        d.z.avail_in = uInt(inSlice);
        d.z.next_out = out.data() + outPos;
        d.z.avail_out = uInt(outSlice);
        int flush = inPos + inSlice == data.size() ? Z_FINISH : Z_NO_FLUSH;
        int rc = deflate(&d.z, flush);
        inPos += inSlice - d.z.avail_in;
        outPos += outSlice - d.z.avail_out;
        if (rc == Z_STREAM_END) break;
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            throw ECompressionError(rtl::Format("Compression failed (zlib error %d)", rc));
    }
    out.resize(outPos);
    return out;
}

size_t Inflate(std::span<const uint8_t> input, TStream& sink, TDeflateFraming framing, size_t maxOutput)
{
    TInflater f;
    if (inflateInit2(&f.z, WindowBits(framing)) != Z_OK) throw EGzipError("Cannot start the decompressor");
    f.open = true;
    uint8_t chunk[65536];
    size_t inPos = 0, produced = 0;
    for (;;) {
        size_t inSlice = std::min(kSlice, input.size() - inPos);
        f.z.next_in = const_cast<Bytef*>(input.data() + inPos);
        f.z.avail_in = uInt(inSlice);
        f.z.next_out = chunk;
        f.z.avail_out = sizeof chunk;
        int rc = inflate(&f.z, Z_NO_FLUSH);
        inPos += inSlice - f.z.avail_in;
        size_t n = sizeof chunk - f.z.avail_out;
        if (n > maxOutput - produced)
            throw EGzipError(rtl::Format("Compressed data inflates to more than %zu bytes", maxOutput));
        if (n > 0) sink.WriteBuffer(chunk, n);
        produced += n;
        switch (rc) {
        case Z_STREAM_END: return inPos;
        case Z_OK: continue;
        case Z_BUF_ERROR:
            // No progress is possible: the output had room, so input ran out.
            if (n == 0) throw EGzipError("Compressed data is truncated");
            continue;
        case Z_NEED_DICT: throw EGzipError("Compressed data needs a preset dictionary");
        case Z_MEM_ERROR: throw EGzipError("Out of memory while decompressing");
        default:
            throw EGzipError(
                rtl::FormatStrings("Compressed data is damaged (%s)", {f.z.msg ? f.z.msg : "invalid data"}));
        }
    }
}

std::vector<uint8_t> InflateZlib(std::span<const uint8_t> input, size_t maxOutput)
{
    TMemoryStream out;
    size_t used = Inflate(input, out, TDeflateFraming::dfZlib, maxOutput);
    if (used != input.size()) throw EGzipError("Data follows the end of the compressed stream");
    return {out.Memory(), out.Memory() + out.Size()};
}

} // namespace crashreport::codecs
